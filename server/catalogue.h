// The component's classes as the server hands them out and registers them.
#pragma once

#include <span>

#include "runtime/class_factory.h"
#include "runtime/registration.h"

namespace server {

inline constexpr wchar_t kProjectName[] = L"AtomTables10";

// The creatable classes. clsQxAmtsAtomA is published in the type library only.
std::span<const rt::CreatableClass> CreatableClasses();

// What registration writes: the type library and the creatable classes.
rt::registration::Server Registration();

} // namespace server

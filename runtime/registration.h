// Self-registration of an in-process server: its type library and its creatable classes
// (apartment-threaded, ProgID "<project>.<class>", tied to the type library).
#pragma once

#include <span>

#include "class_factory.h"

namespace rt::registration {

struct Server {
    const GUID *libid;
    WORD major;
    WORD minor;
    std::span<const CreatableClass> classes;
};

// Registers the module's type library (resource 1) and its classes. Registering again is harmless.
HRESULT Register(const Server &server);
// Removes what Register wrote and nothing else; what is already gone is not an error.
HRESULT Unregister(const Server &server);

} // namespace rt::registration

// clsQxAmtsAdvancedA: the library's standard class for advanced procedures (no members yet).
#pragma once

#include "AtomTables10.h"
#include "runtime/automation_object.h"
#include "runtime/thread_context.h"

class clsQxAmtsAdvancedA : public rt::AutomationObject<clsQxAmtsAdvancedA, _clsQxAmtsAdvancedA> {
public:
    static constexpr wchar_t kIdentityCode[] = L"czAmtsAdvanced";

private:
    rt::ThreadPin pin_;
};

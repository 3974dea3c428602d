// clsQxAmtsGeneralA: the library's standard class for general procedures (no members yet).
#pragma once

#include "AtomTables10.h"
#include "runtime/automation_object.h"
#include "runtime/thread_context.h"

class clsQxAmtsGeneralA : public rt::AutomationObject<clsQxAmtsGeneralA, _clsQxAmtsGeneralA> {
public:
    static constexpr wchar_t kIdentityCode[] = L"czAmtsGeneral";

private:
    rt::ThreadPin pin_;
};

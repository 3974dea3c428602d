// clsQxAmtsAtomA: the atom class, published as a type only: clients cannot create it.
#pragma once

#include "AtomTables10.h"
#include "runtime/automation_object.h"
#include "runtime/thread_context.h"

class clsQxAmtsAtomA : public rt::AutomationObject<clsQxAmtsAtomA, _clsQxAmtsAtomA> {
public:
    static constexpr wchar_t kIdentityCode[] = L"czAmtsAtom";

private:
    rt::ThreadPin pin_;
};

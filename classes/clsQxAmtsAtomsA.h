// clsQxAmtsAtomsA: the atom-collection class. Creating one asks the common library to ensure the
// environment status; TestA shows a test box.
#pragma once

#include "AtomTables10.h"
#include "runtime/automation_object.h"
#include "runtime/thread_context.h"

class clsQxAmtsAtomsA : public rt::AutomationObject<clsQxAmtsAtomsA, _clsQxAmtsAtomsA> {
public:
    static constexpr wchar_t kIdentityCode[] = L"czAmtsAtoms";

    // The class initializer.
    HRESULT Initialize();

    STDMETHODIMP TestA(LONG *result) override;

private:
    rt::ThreadPin pin_;
};

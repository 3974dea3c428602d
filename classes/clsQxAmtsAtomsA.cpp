#include "clsQxAmtsAtomsA.h"

#include "modules/basQxelCommonA.h"
#include "runtime/errors.h"
#include "runtime/message_box.h"

HRESULT clsQxAmtsAtomsA::Initialize() {
    // The bridge reports its own failures; only the reporter's failure comes back, and then the
    // creation fails with it.
    return basQxelCommonA::EnsureQxEnvironmentStatus_Pro();
}

HRESULT clsQxAmtsAtomsA::TestA(LONG *result) {
    return rt::Guarded([&] {
        if (!result) return rt::Raise(E_POINTER);
        *result = 0;
        return rt::MsgBox(L"TestA", MB_OK, std::nullopt, nullptr);
    });
}

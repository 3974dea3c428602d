#include "classes.h"

#include <string>

#include "journal.h"
#include "runtime/decimal.h"

HRESULT clsQxelEnvironmentA::EnsureQxEnvironmentStatus(VARIANT_BOOL bEnsure, short iStatus, VARIANT *result) {
    if (result) VariantInit(result);
    return rt::Guarded([&] {
        bedrock::journal::Write(L"ENVIRONMENT", {bEnsure ? L"True" : L"False", rt::Decimal(iStatus)});
        return S_OK;
    });
}

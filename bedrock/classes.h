// The three classes of the common library.
#pragma once

#include "QxBedrock10.h"
#include "runtime/automation_object.h"
#include "runtime/errors.h"

// Records each report of a runtime failure in the journal: source, error number and description.
class clsQxelErrorHandlerA : public rt::AutomationObject<clsQxelErrorHandlerA, _clsQxelErrorHandlerA> {
public:
    STDMETHODIMP ErrorHandlerMessageQx(IDispatch **oApp, IDispatch **oErr, BSTR *sMessage, BSTR *sSource,
                                       LONG *lOptions, BSTR *sExtra, LONG *lContext, VARIANT vReserved,
                                       VARIANT *result) override;
};

// Accepts a component's request to ensure its environment status, and notes it in the journal.
class clsQxelEnvironmentA : public rt::AutomationObject<clsQxelEnvironmentA, _clsQxelEnvironmentA> {
public:
    STDMETHODIMP EnsureQxEnvironmentStatus(VARIANT_BOOL bEnsure, short iStatus, VARIANT *result) override;
};

// Shows a component's About box: its title, version and description, read from the
// application-properties object it passes.
class clsQxBedrock10A : public rt::AutomationObject<clsQxBedrock10A, _clsQxBedrock10A> {
public:
    STDMETHODIMP AppAboutQxel(IDispatch *oApp, VARIANT *result) override;
};

// The error object: the runtime's record of a failure that a procedure has trapped (number,
// description, source, help, and the platform's last error at the time). Each trapped failure
// gets its own object, so whoever keeps one sees what it described when it was handed over.
#pragma once

#include "QxRuntime.h"
#include "automation_object.h"
#include "errors.h"

namespace rt {

class ErrorObject : public AutomationObject<ErrorObject, _ErrObject, ErrObject, 2> {
public:
    static HRESULT Create(const Failure &failure, ComPtr<IDispatch> *out);

    STDMETHODIMP get_Number(long *result) override;
    STDMETHODIMP get_Description(BSTR *result) override;
    STDMETHODIMP get_Source(BSTR *result) override;
    STDMETHODIMP get_HelpFile(BSTR *result) override;
    STDMETHODIMP get_HelpContext(long *result) override;
    STDMETHODIMP get_LastDllError(long *result) override;

private:
    Failure failure_;
};

} // namespace rt

// The application-properties object: the standard properties of the component (title, file name
// and folder, version, and the strings of its version block). One per thread (ThreadContext::App).
#pragma once

#include "QxRuntime.h"
#include "automation_object.h"

namespace rt {

class AppObject : public AutomationObject<AppObject, _App, App, 2> {
public:
    static HRESULT Create(ComPtr<IDispatch> *out);

    STDMETHODIMP get_Title(BSTR *result) override;
    STDMETHODIMP get_EXEName(BSTR *result) override;
    STDMETHODIMP get_Path(BSTR *result) override;
    STDMETHODIMP get_Major(short *result) override;
    STDMETHODIMP get_Minor(short *result) override;
    STDMETHODIMP get_Revision(short *result) override;
    STDMETHODIMP get_CompanyName(BSTR *result) override;
    STDMETHODIMP get_FileDescription(BSTR *result) override;
    STDMETHODIMP get_LegalCopyright(BSTR *result) override;
    STDMETHODIMP get_LegalTrademarks(BSTR *result) override;
    STDMETHODIMP get_ProductName(BSTR *result) override;
    STDMETHODIMP get_Comments(BSTR *result) override;
    STDMETHODIMP get_ThreadID(long *result) override;

private:
    DWORD threadId_ = GetCurrentThreadId();
};

} // namespace rt

#include "recording_library.h"

#include <memory>

namespace testing_support {

struct Misbehaviour {
    Oddity oddity;
    HRESULT code;
    ComPtr<IDispatch> object;
};

struct RecordingLibrary::State {
    std::vector<RecordedCall> calls;
    std::map<std::wstring, HRESULT> failCreation;
    std::map<std::wstring, std::pair<SCODE, std::wstring>> raise;
    std::map<std::wstring, Misbehaviour> misbehave;
    std::map<std::wstring, OddCreation> oddCreation;
    std::map<std::wstring, int> creations;
    int alive = 0;
    bool (*fault)() = nullptr;
};

namespace {

const wchar_t *const kMethods[] = {L"ErrorHandlerMessageQx", L"EnsureQxEnvironmentStatus", L"AppAboutQxel"};

RecordedArg Record(const VARIANTARG &arg) {
    RecordedArg r;
    r.vt = V_VT(&arg);
    Variant plain;
    if (FAILED(VariantCopyInd(plain.Get(), const_cast<VARIANTARG *>(&arg)))) return r;
    switch (plain.Type()) {
    case VT_BSTR: r.text = Text(V_BSTR(plain.Get())); break;
    case VT_I2: r.number = V_I2(plain.Get()); break;
    case VT_I4: r.number = V_I4(plain.Get()); break;
    case VT_BOOL: r.number = V_BOOL(plain.Get()); break;
    case VT_ERROR: r.scode = V_ERROR(plain.Get()); break;
    case VT_DISPATCH:
        r.object = V_DISPATCH(plain.Get());
        if (r.object) {
            DISPID ids[2];
            LPOLESTR names[2] = {const_cast<LPOLESTR>(L"Number"), const_cast<LPOLESTR>(L"Description")};
            DISPPARAMS none{};
            if (SUCCEEDED(r.object->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[0])) &&
                SUCCEEDED(r.object->GetIDsOfNames(IID_NULL, names + 1, 1, 0, &ids[1]))) {
                Variant number, description;
                if (SUCCEEDED(r.object->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, number.Get(), nullptr, nullptr)) &&
                    SUCCEEDED(VariantChangeType(number.Get(), number.Get(), 0, VT_I4)))
                    r.errNumber = V_I4(number.Get());
                if (SUCCEEDED(r.object->Invoke(ids[1], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, description.Get(), nullptr, nullptr)) &&
                    description.Type() == VT_BSTR)
                    r.errDescription = Text(V_BSTR(description.Get()));
            }
        }
        break;
    default: break;
    }
    return r;
}

// The deferred fill-in of Oddity::DeferredFillIn: the code travels in dwHelpContext until then.
HRESULT STDAPICALLTYPE FillInLater(EXCEPINFO *exception) {
    exception->scode = static_cast<SCODE>(exception->dwHelpContext);
    exception->dwHelpContext = 0;
    exception->bstrDescription = SysAllocString(L"Filled in later by RecordingLibrary");
    exception->bstrSource = SysAllocString(L"RecordingLibrary");
    exception->pfnDeferredFillIn = nullptr;
    return S_OK;
}

// The deferred fill-in of Oddity::DeferredFillInKeepingSource: the source it finds stays as it is.
HRESULT STDAPICALLTYPE FillInAroundSource(EXCEPINFO *exception) {
    exception->scode = static_cast<SCODE>(exception->dwHelpContext);
    exception->dwHelpContext = 0;
    exception->bstrDescription = SysAllocString(L"Filled in later by RecordingLibrary");
    exception->pfnDeferredFillIn = nullptr;
    return S_OK;
}

// Writes into each argument passed by reference, as Oddity::RewriteArguments does.
void Rewrite(DISPPARAMS *params, IDispatch *object) {
    for (UINT i = 0; i < params->cArgs; ++i) {
        VARIANTARG &arg = params->rgvarg[i];
        switch (V_VT(&arg)) {
        case VT_BYREF | VT_BSTR:
            SysFreeString(*V_BSTRREF(&arg));
            *V_BSTRREF(&arg) = SysAllocString(L"rewritten by the library");
            break;
        case VT_BYREF | VT_I4: *V_I4REF(&arg) = 42; break;
        case VT_BYREF | VT_I2: *V_I2REF(&arg) = 42; break;
        case VT_BYREF | VT_DISPATCH:
            if (*V_DISPATCHREF(&arg)) (*V_DISPATCHREF(&arg))->Release();
            if (object) object->AddRef();
            *V_DISPATCHREF(&arg) = object;
            break;
        case VT_BYREF | VT_VARIANT:
            VariantClear(V_VARIANTREF(&arg));
            V_VT(V_VARIANTREF(&arg)) = VT_BSTR;
            V_BSTR(V_VARIANTREF(&arg)) = SysAllocString(L"rewritten by the library");
            break;
        default: break;
        }
    }
}

class RecordingObject final : public IDispatch {
public:
    RecordingObject(RecordingLibrary::State *state, std::wstring progId) : state_(state), progId_(std::move(progId)) {
        ++state_->alive;
    }
    RecordingObject(const RecordingObject &) = delete;
    RecordingObject &operator=(const RecordingObject &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        auto odd = state_->oddCreation.find(progId_);
        const bool dispatchable = odd == state_->oddCreation.end() || odd->second != OddCreation::WithoutDispatch;
        if (riid == IID_IUnknown || (riid == IID_IDispatch && dispatchable)) {
            *object = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (!left) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override {
        if (state_->fault && state_->fault()) return E_OUTOFMEMORY;
        if (count != 1) return DISP_E_UNKNOWNNAME;
        for (DISPID i = 0; i < 3; ++i) {
            auto odd = state_->misbehave.find(kMethods[i]);
            if (odd != state_->misbehave.end() && odd->second.oddity == Oddity::UnknownName) continue;
            if (_wcsicmp(names[0], kMethods[i]) == 0) {
                ids[0] = i + 1;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *) override {
        if (state_->fault && state_->fault()) return E_OUTOFMEMORY;
        if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
        RecordedCall call;
        call.progId = progId_;
        call.method = kMethods[id - 1];
        call.flags = flags;
        for (UINT i = params->cArgs; i-- > 0;) call.args.push_back(Record(params->rgvarg[i]));
        state_->calls.push_back(std::move(call));
        if (result) VariantInit(result);
        auto odd = state_->misbehave.find(kMethods[id - 1]);
        if (odd != state_->misbehave.end()) return Misbehave(odd->second, params, result, exception);
        auto raise = state_->raise.find(kMethods[id - 1]);
        if (raise != state_->raise.end()) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->scode = raise->second.first;
                exception->bstrDescription = SysAllocString(raise->second.second.c_str());
                exception->bstrSource = SysAllocString(L"RecordingLibrary");
            }
            return DISP_E_EXCEPTION;
        }
        return S_OK;
    }

private:
    static HRESULT Misbehave(const Misbehaviour &odd, DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception) {
        switch (odd.oddity) {
        case Oddity::ResultString:
            if (result) {
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = SysAllocString(L"a result nobody asked for");
            }
            return S_OK;
        case Oddity::ResultObject:
            if (result && odd.object) {
                V_VT(result) = VT_DISPATCH;
                V_DISPATCH(result) = odd.object.Get();
                odd.object->AddRef();
            }
            return S_OK;
        case Oddity::SuccessCode: return S_FALSE;
        case Oddity::PlainFailure: return odd.code;
        case Oddity::EmptyException:
            if (exception) *exception = EXCEPINFO{};
            return DISP_E_EXCEPTION;
        case Oddity::WCodeOnly:
            if (exception) {
                *exception = EXCEPINFO{};
                exception->wCode = 1000;
            }
            return DISP_E_EXCEPTION;
        case Oddity::DeferredFillIn:
            if (exception) {
                *exception = EXCEPINFO{};
                exception->dwHelpContext = static_cast<DWORD>(odd.code);
                exception->pfnDeferredFillIn = FillInLater;
            }
            return DISP_E_EXCEPTION;
        case Oddity::DeferredFillInKeepingSource:
            if (exception) {
                *exception = EXCEPINFO{};
                exception->dwHelpContext = static_cast<DWORD>(odd.code);
                exception->bstrSource = SysAllocString(L"RecordingLibrary");
                exception->pfnDeferredFillIn = FillInAroundSource;
            }
            return DISP_E_EXCEPTION;
        case Oddity::RewriteArguments: Rewrite(params, odd.object.Get()); return S_OK;
        case Oddity::UnknownName: return DISP_E_MEMBERNOTFOUND;
        }
        return S_OK;
    }

    ~RecordingObject() { --state_->alive; }
    RecordingLibrary::State *state_;
    std::wstring progId_;
    ULONG references_ = 1;
};

class RecordingFactory final : public IClassFactory {
public:
    RecordingFactory(RecordingLibrary::State *state, std::wstring progId) : state_(state), progId_(std::move(progId)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (!left) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto fail = state_->failCreation.find(progId_);
        if (fail != state_->failCreation.end()) return fail->second;
        auto odd = state_->oddCreation.find(progId_);
        if (odd != state_->oddCreation.end() && odd->second == OddCreation::Nothing) return S_OK;
        ++state_->creations[progId_];
        auto *instance = new RecordingObject(state_, progId_);
        HRESULT hr = instance->QueryInterface(riid, object);
        instance->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ~RecordingFactory() = default;
    RecordingLibrary::State *state_;
    std::wstring progId_;
    ULONG references_ = 1;
};

} // namespace

RecordingLibrary::RecordingLibrary() : state_(new State) {
    for (const wchar_t *progId : {kErrorHandler, kEnvironment, kBedrock}) {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(progId, &clsid);
        EXPECT_EQ(S_OK, hr) << "the common library must be registered for its ProgIDs to resolve";
        if (FAILED(hr)) continue;
        auto *factory = new RecordingFactory(state_, progId);
        DWORD cookie = 0;
        hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        factory->Release();
        EXPECT_EQ(S_OK, hr);
        if (SUCCEEDED(hr)) cookies_.push_back(cookie);
    }
}

RecordingLibrary::~RecordingLibrary() {
    for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    // Recorded objects may outlive the library only if a test leaked them; keep the state then.
    if (state_->alive == 0) delete state_;
}

void RecordingLibrary::FailCreation(const std::wstring &progId, HRESULT hr) { state_->failCreation[progId] = hr; }

void RecordingLibrary::Raise(const std::wstring &method, SCODE code, const std::wstring &description) {
    state_->raise[method] = {code, description};
}

void RecordingLibrary::Misbehave(const std::wstring &method, Oddity oddity, HRESULT code, IDispatch *object) {
    state_->misbehave[method] = Misbehaviour{oddity, code, object};
}

void RecordingLibrary::CreateOddly(const std::wstring &progId, OddCreation how) {
    state_->oddCreation[progId] = how;
}

void RecordingLibrary::FailWhen(bool (*fault)()) { state_->fault = fault; }

void RecordingLibrary::Behave(const std::wstring &method) {
    state_->raise.erase(method);
    state_->misbehave.erase(method);
}

void RecordingLibrary::CreateNormally(const std::wstring &progId) {
    state_->failCreation.erase(progId);
    state_->oddCreation.erase(progId);
}

const std::vector<RecordedCall> &RecordingLibrary::Calls() const { return state_->calls; }

std::vector<RecordedCall> RecordingLibrary::CallsTo(const std::wstring &method) const {
    std::vector<RecordedCall> selected;
    for (const RecordedCall &call : state_->calls)
        if (call.method == method) selected.push_back(call);
    return selected;
}

int RecordingLibrary::Creations(const std::wstring &progId) const {
    auto found = state_->creations.find(progId);
    return found == state_->creations.end() ? 0 : found->second;
}

int RecordingLibrary::Alive() const { return state_->alive; }

void RecordingLibrary::Clear() {
    state_->calls.clear();
    state_->creations.clear();
}

} // namespace testing_support

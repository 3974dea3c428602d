#include "client.h"

namespace testing_support {
namespace {

std::wstring WindowsPath(const char *unixPath) {
    std::wstring path = L"Z:";
    for (const char *p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::vector<Box> g_boxes;

// Whether a message box carries an icon: a static icon control holding one. Windows gives the
// control the identifier 0x14, Wine 0x440 (stc1), so look for it by style rather than by number.
BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        *reinterpret_cast<bool *>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool HasIcon(HWND box) {
    bool found = false;
    EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&found));
    return found;
}

LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        if (std::wstring(className) == L"#32770") {
            Box box;
            wchar_t text[2048] = {};
            GetWindowTextW(window, text, 2048);
            box.caption = text;
            text[0] = 0;
            GetDlgItemTextW(window, 0xFFFF, text, 2048);
            box.text = text;
            box.informationIcon = HasIcon(window);
            box.cancelButton = GetDlgItem(window, IDCANCEL) != nullptr;
            g_boxes.push_back(box);
            PostMessageW(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

std::wstring ComponentPath() { return WindowsPath(ATOMTABLES_DLL); }
std::wstring BedrockPath() { return WindowsPath(BEDROCK_DLL); }

Apartment::Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
Apartment::~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
}

HRESULT TryCreate(const wchar_t *progId, ComPtr<IDispatch> &object) {
    object.Reset();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void **>(object.ReleaseAndGetAddressOf()));
}

ComPtr<IDispatch> Create(const wchar_t *progId) {
    ComPtr<IDispatch> object;
    HRESULT hr = TryCreate(progId, object);
    EXPECT_EQ(S_OK, hr) << "creating " << std::string(progId, progId + wcslen(progId));
    return object;
}

DISPID IdOf(IDispatch *object, const wchar_t *name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
}

Call Invoke(IDispatch *object, DISPID id, WORD flags, std::vector<VARIANT> args, std::vector<DISPID> named) {
    Call call;
    std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), named.data(), static_cast<UINT>(reversed.size()),
                      static_cast<UINT>(named.size())};
    EXCEPINFO exception{};
    call.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, call.result.Get(), &exception,
                             &call.argError);
    Bstr source = Bstr::Attach(exception.bstrSource);
    Bstr description = Bstr::Attach(exception.bstrDescription);
    Bstr help = Bstr::Attach(exception.bstrHelpFile);
    call.scode = exception.scode;
    call.source = source.View();
    call.description = description.View();
    return call;
}

Call Invoke(IDispatch *object, const wchar_t *name, WORD flags, std::vector<VARIANT> args) {
    return Invoke(object, IdOf(object, name), flags, std::move(args));
}

Call Method(IDispatch *object, const wchar_t *name, std::vector<VARIANT> args) {
    return Invoke(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args));
}

std::wstring Text(BSTR value) { return std::wstring(value ? value : L"", SysStringLen(value)); }
std::wstring Text(const Variant &value) {
    if (value.Type() != VT_BSTR) return L"<not a string>";
    return Text(V_BSTR(value.Get()));
}

std::string ToAnsi(const std::wstring &text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}
std::wstring FromAnsi(const std::string &bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

BoxWatcher::BoxWatcher() : hook_(SetWindowsHookExW(WH_CBT, WatchBoxes, nullptr, GetCurrentThreadId())) {
    g_boxes.clear();
}
BoxWatcher::~BoxWatcher() {
    if (hook_) UnhookWindowsHookEx(hook_);
}
const std::vector<Box> &BoxWatcher::Boxes() const { return g_boxes; }

bool HaveDisplay() {
    wchar_t display[256];
    return GetEnvironmentVariableW(L"DISPLAY", display, 256) > 0;
}

} // namespace testing_support

// ---------------------------------------------------------------------------------------------
// The main class through either binding, and small tools for identity and threads.
// ---------------------------------------------------------------------------------------------
#include <thread>

namespace testing_support {

std::string BindingName(const ::testing::TestParamInfo<Binding> &info) {
    return info.param == Binding::Late ? "LateBound" : "EarlyBound";
}

MainClass::MainClass(Binding binding) : binding_(binding) {
    dispatch_ = Create(L"AtomTables10.clsQxAtomTables10A");
    if (dispatch_) {
        EXPECT_EQ(S_OK, dispatch_.As(&vtable_));
    }
}

HRESULT MainClass::Settle(Call &call) {
    status_ = call.hr == DISP_E_EXCEPTION ? call.scode : call.hr;
    return status_;
}

long MainClass::InitAtomTable(short &size) {
    if (binding_ == Binding::Early) {
        LONG result = -12345;
        status_ = vtable_->InitAtomTableAmts(&size, &result);
        return result;
    }
    Call call = Method(dispatch_.Get(), L"InitAtomTableAmts", {Ref(&size)});
    if (FAILED(Settle(call)) || call.result.Type() != VT_I4) return -12345;
    return V_I4(call.result.Get());
}

long MainClass::NameCall(const wchar_t *name, BSTR &text, const std::function<HRESULT(BSTR *, LONG *)> &early) {
    if (binding_ == Binding::Early) {
        LONG result = -12345;
        status_ = early(&text, &result);
        return result;
    }
    Call call = Method(dispatch_.Get(), name, {Ref(&text)});
    if (FAILED(Settle(call)) || call.result.Type() != VT_I4) return -12345;
    return V_I4(call.result.Get());
}

long MainClass::Add(BSTR &name, bool global) {
    auto *v = vtable_.Get();
    return NameCall(global ? L"GlobalAddAtomAmts" : L"AddAtomAmts", name, [&](BSTR *text, LONG *result) {
        return global ? v->GlobalAddAtomAmts(text, result) : v->AddAtomAmts(text, result);
    });
}

long MainClass::Find(BSTR &name, bool global) {
    auto *v = vtable_.Get();
    return NameCall(global ? L"GlobalFindAtomAmts" : L"FindAtomAmts", name, [&](BSTR *text, LONG *result) {
        return global ? v->GlobalFindAtomAmts(text, result) : v->FindAtomAmts(text, result);
    });
}

long MainClass::Delete(short atom, bool global) {
    if (binding_ == Binding::Early) {
        LONG result = -12345;
        status_ = global ? vtable_->GlobalDeleteAtomAmts(&atom, &result) : vtable_->DeleteAtomAmts(&atom, &result);
        return result;
    }
    Call call = Method(dispatch_.Get(), global ? L"GlobalDeleteAtomAmts" : L"DeleteAtomAmts", {I2(atom)});
    if (FAILED(Settle(call)) || call.result.Type() != VT_I4) return -12345;
    return V_I4(call.result.Get());
}

std::wstring MainClass::GetName(short atom, short *size, short *copied, bool global) {
    if (binding_ == Binding::Early) {
        Bstr result;
        status_ = global ? vtable_->GlobalGetAtomNameAmts(&atom, size, copied, result.Receive())
                         : vtable_->GetAtomNameAmts(&atom, size, copied, result.Receive());
        return std::wstring(result.View());
    }
    std::vector<VARIANT> args{I2(atom)};
    if (size || copied) args.push_back(size ? Ref(size) : Missing());
    if (copied) args.push_back(Ref(copied));
    Call call = Method(dispatch_.Get(), global ? L"GlobalGetAtomNameAmts" : L"GetAtomNameAmts", args);
    if (FAILED(Settle(call))) return {};
    EXPECT_EQ(VT_BSTR, call.result.Type());
    return Text(call.result);
}

bool SameObject(IUnknown *a, IUnknown *b) {
    if (!a || !b) return a == b;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(ua.GetAddressOf())))) return false;
    if (FAILED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(ub.GetAddressOf())))) return false;
    return ua.Get() == ub.Get();
}

void OnOtherThread(const std::function<void()> &body) {
    std::thread thread([&] {
        Apartment apartment;
        body();
    });
    thread.join();
}

std::wstring ErrorInfoDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    Bstr description;
    info->GetDescription(description.Receive());
    return std::wstring(description.View());
}

STDMETHODIMP CountedObject::QueryInterface(REFIID riid, void **object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || (dispatchable_ && riid == IID_IDispatch)) {
        *object = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CountedObject::GetTypeInfoCount(UINT *count) {
    ++calls_;
    if (count) *count = 0;
    return S_OK;
}

STDMETHODIMP CountedObject::GetTypeInfo(UINT, LCID, ITypeInfo **info) {
    ++calls_;
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CountedObject::GetIDsOfNames(REFIID, LPOLESTR *, UINT count, LCID, DISPID *ids) {
    ++calls_;
    for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CountedObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *result, EXCEPINFO *, UINT *) {
    ++calls_;
    if (result) VariantInit(result);
    return DISP_E_MEMBERNOTFOUND;
}

} // namespace testing_support

// The live check: the component used the way its clients use it. This architecture's is made here;
// the other architecture's by that architecture's doctor, run with /live.
#include <memory>
#include <thread>

#include "AtomTables10.h"
#include "checks.h"
#include "runtime/owners.h"

namespace doctor {
namespace {

// The calling thread in an apartment for the life of the object.
class Apartment {
public:
    explicit Apartment(DWORD model) : hr_(CoInitializeEx(nullptr, model)) {}
    Apartment(const Apartment &) = delete;
    Apartment &operator=(const Apartment &) = delete;
    ~Apartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }

private:
    HRESULT hr_;
};

std::wstring LoadedFrom(const wchar_t *dll) {
    HMODULE module = GetModuleHandleW(dll);
    wchar_t path[MAX_PATH] = {};
    if (module) GetModuleFileNameW(module, path, MAX_PATH);
    return module ? path : L"an unknown file";
}

// Finds the name in the local atom table from a thread of the multithreaded apartment, through the
// proxy the marshaler makes; this thread serves the call meanwhile. The atom found, or the failure.
// A call that gets no answer in 30 seconds is given up; its thread is left to end on its own.
HRESULT FindFromAnotherApartment(_clsQxAtomTables10A *tables, const std::wstring &name, LONG &found) {
    struct Call {
        IStream *stream = nullptr;
        std::wstring name;
        LONG found = 0;
        HRESULT result = E_UNEXPECTED;
        rt::Handle done;
    };
    auto call = std::make_shared<Call>();
    call->name = name;
    call->done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!call->done.Valid()) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID__clsQxAtomTables10A, tables, &call->stream);
    if (FAILED(hr)) return hr;
    std::thread other([call] {
        Apartment apartment(COINIT_MULTITHREADED);
        rt::ComPtr<_clsQxAtomTables10A> remote;
        call->result = CoGetInterfaceAndReleaseStream(call->stream, IID__clsQxAtomTables10A,
                                                      reinterpret_cast<void **>(remote.GetAddressOf()));
        if (SUCCEEDED(call->result)) {
            rt::Bstr text(call->name);
            call->result = remote->FindAtomAmts(text.Address(), &call->found);
        }
        remote.Reset();
        SetEvent(call->done.Get());
    });
    const ULONGLONG deadline = GetTickCount64() + 30000;
    HANDLE handle = call->done.Get();
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = MsgWaitForMultipleObjects(1, &handle, FALSE, now < deadline ? static_cast<DWORD>(deadline - now) : 0,
                                                     QS_ALLINPUT);
        if (wait != WAIT_OBJECT_0 + 1) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    if (WaitForSingleObject(handle, 0) != WAIT_OBJECT_0) {
        other.detach();
        return RPC_E_TIMEOUT;
    }
    other.join();
    found = call->found;
    return call->result;
}

} // namespace

Finding LiveCheck(const Catalogue &catalogue, const View &view) {
    const std::string id = view.id + ".live";
    const std::wstring programs = L"this " + view.Bits() + L" program";
    std::wstring progId = catalogue.library + L".";
    for (const auto &c : catalogue.classes)
        if (IsEqualGUID(c.clsid, CLSID_clsQxAtomTables10A)) progId += c.name;

    Apartment apartment(COINIT_APARTMENTTHREADED);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr))
        return Problem(id + ".create-failed", L"Creating " + progId + L" in " + programs + L" fails: CLSIDFromProgID gives " +
                                                  Explain(hr) + L"; scripts get error 429 (see the problems above).");
    rt::ComPtr<_clsQxAtomTables10A> tables;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__clsQxAtomTables10A,
                          reinterpret_cast<void **>(tables.GetAddressOf()));
    if (FAILED(hr))
        return Problem(id + ".create-failed", L"Creating " + progId + L" in " + programs + L" fails: CoCreateInstance gives " +
                                                  Explain(hr) + L"; scripts get error 429 (see the problems above).");
    const std::wstring from = LoadedFrom(L"AtomTables10.dll");

    // A name of this run alone, in this process's own local atom table.
    const std::wstring name = L"AtomTables10Doctor " + std::to_wstring(GetCurrentProcessId()) + L" " +
                              std::to_wstring(GetTickCount64());
    auto failed = [&](const std::wstring &what, HRESULT status) {
        return Problem(id + ".atoms-failed", L"The component created in " + programs + L" from " + from + L" failed " + what +
                                                 L", " + Explain(status) + L".");
    };
    rt::Bstr added(name);
    LONG atom = 0;
    hr = tables->AddAtomAmts(added.Address(), &atom);
    if (FAILED(hr) || atom >= 0) return failed(L"to add a name: atom " + std::to_wstring(atom), hr);
    SHORT number = static_cast<SHORT>(atom);
    auto remove = [&] {
        LONG status = -1;
        return std::pair{tables->DeleteAtomAmts(&number, &status), status};
    };
    rt::Bstr sought(name);
    LONG found = 0;
    hr = tables->FindAtomAmts(sought.Address(), &found);
    if (FAILED(hr) || found != atom) {
        remove();
        return failed(L"to find the name it added: atom " + std::to_wstring(found), hr);
    }
    SHORT size = 0, copied = 0;
    rt::Bstr text;
    hr = tables->GetAtomNameAmts(&number, &size, &copied, text.Receive());
    if (FAILED(hr) || text.View().substr(0, static_cast<size_t>(copied > 0 ? copied : 0)) != name) {
        remove();
        return failed(L"to read the name back", hr);
    }
    LONG remote = 0;
    hr = FindFromAnotherApartment(tables.Get(), name, remote);
    if (FAILED(hr) || remote != atom) {
        remove();
        return Problem(id + ".cross-apartment-failed",
                       L"The component works in " + programs + L", but a call from another apartment through the "
                       L"type-library marshaler fails with " + Explain(hr) + L": multithreaded clients and early-bound "
                       L"callers on other threads cannot use it (see the type library and interface findings).");
    }
    const auto [deleted, status] = remove();
    LONG after = -1;
    rt::Bstr again(name);
    const HRESULT findAgain = tables->FindAtomAmts(again.Address(), &after);
    if (FAILED(deleted) || status != 0 || FAILED(findAgain) || after != 0) return failed(L"to delete the name", deleted);
    return Ok(id, L"Created " + progId + L" by ProgID in " + programs + L" from " + from +
                      L": added, found, read back and deleted a private name, and called it from another apartment "
                      L"through the type-library marshaler.");
}

Finding LiveCheckByCompanion(const View &view, const Package &package) {
    const std::string id = view.id + ".live";
    const std::wstring home = Home(view, package);
    const std::wstring companion = home + L"\\" + kDoctorName;
    const auto machine = home.empty() ? std::nullopt : PeMachine(companion);
    if (!machine || *machine != view.Machine())
        return Problem(id + ".doctor-missing",
                       L"The " + view.Bits() + L" doctor (" + kDoctorName + L" of the " + view.Lane() +
                           L" folder) was not found beside the " + view.Bits() + L" DLL, in the release bundle's " +
                           view.Lane() + L" folder or in " + package.Folder(view) + L": the live check of " + view.Bits() +
                           L" programs was not made. Run that doctor yourself where it is.");

    // The companion's findings come through a pipe; its own error output goes with ours.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    rt::Handle reader, writer;
    if (!CreatePipe(reader.Receive(), writer.Receive(), &inherit, 0))
        return Problem(id + ".no-answer", L"The " + view.Bits() + L" doctor could not be started (no pipe).");
    SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer.Get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine = Quoted(companion) + L" /live";
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(companion.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started))
        return Problem(id + ".no-answer", L"The " + view.Bits() + L" doctor " + companion + L" could not be started: " +
                                              Explain(HRESULT_FROM_WIN32(GetLastError())) + L".");
    rt::Handle process(started.hProcess), thread(started.hThread);
    writer.Reset();
    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) output.append(buffer, read);
    WaitForSingleObject(process.Get(), 120000);
    const int size = MultiByteToWideChar(CP_UTF8, 0, output.data(), static_cast<int>(output.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, output.data(), static_cast<int>(output.size()), text.data(), size);
    std::vector<Finding> findings = FromLines(text);
    if (findings.size() != 1 || findings[0].id.rfind(id, 0) != 0)
        return Problem(id + ".no-answer", L"The " + view.Bits() + L" doctor " + companion +
                                              L" gave no answer to the live check: the live check of " + view.Bits() +
                                              L" programs was not made.");
    findings[0].text += L" (checked by " + companion + L")";
    return findings[0];
}

} // namespace doctor

// Creates one class by ProgID in a process of its own, as a client meeting the installation for the
// first time would, and says what each step returned:
//   probe <ProgID>     prints "CLSIDFromProgID 0x..." and "CoCreateInstance 0x...", and exits with
//                      the first failure's HRESULT (0 when the object was created)
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

int main() {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(argv[1], &clsid);
    std::printf("CLSIDFromProgID 0x%08lX\n", static_cast<unsigned long>(hr));
    if (SUCCEEDED(hr)) {
        IUnknown *object = nullptr;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void **>(&object));
        std::printf("CoCreateInstance 0x%08lX\n", static_cast<unsigned long>(hr));
        if (object) object->Release();
    }
    LocalFree(argv);
    CoUninitialize();
    return static_cast<int>(hr);
}

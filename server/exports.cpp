// The four exports of the in-process server.
#include "catalogue.h"
#include "runtime/errors.h"
#include "runtime/module.h"
#include "runtime/objects.h"
#include "runtime/thread_context.h"

extern "C" {

// Runs under the loader lock: it takes and frees plain memory only (no COM call, no object released).
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // Without the memory for the module's identity the module does not load.
        return SUCCEEDED(rt::Guarded<rt::Plumbing>([&] {
            rt::module::Init(instance, server::kProjectName);
            return S_OK;
        }));
    case DLL_THREAD_DETACH: rt::ThreadContext::ThreadEnding(); break;
    default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **object) {
    return rt::Guarded<rt::Plumbing>([&] { return rt::GetClassObject(server::CreatableClasses(), clsid, riid, object); });
}

STDAPI DllCanUnloadNow() {
    return rt::Guarded<rt::Plumbing>([&] { return rt::objects::CanUnloadNow(); });
}

STDAPI DllRegisterServer() {
    return rt::Guarded<rt::Plumbing>([&] { return rt::registration::Register(server::Registration()); });
}

STDAPI DllUnregisterServer() {
    return rt::Guarded<rt::Plumbing>([&] { return rt::registration::Unregister(server::Registration()); });
}

} // extern "C"

// The four exports of the in-process server.
#include "catalogue.h"
#include "runtime/module.h"
#include "runtime/objects.h"
#include "runtime/thread_context.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: rt::module::Init(instance, server::kProjectName); break;
    case DLL_THREAD_DETACH: rt::ThreadContext::ThreadEnding(); break;
    default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **object) {
    return rt::GetClassObject(server::CreatableClasses(), clsid, riid, object);
}

STDAPI DllCanUnloadNow() { return rt::objects::CanUnloadNow(); }

STDAPI DllRegisterServer() { return rt::registration::Register(server::Registration()); }

STDAPI DllUnregisterServer() { return rt::registration::Unregister(server::Registration()); }

} // extern "C"

// The four exports of the common library's in-process server.
#include "classes.h"
#include "runtime/class_factory.h"
#include "runtime/module.h"
#include "runtime/objects.h"
#include "runtime/registration.h"

namespace {

const rt::CreatableClass kClasses[] = {
    {&CLSID_clsQxelErrorHandlerA, L"clsQxelErrorHandlerA", &rt::Create<clsQxelErrorHandlerA>},
    {&CLSID_clsQxelEnvironmentA, L"clsQxelEnvironmentA", &rt::Create<clsQxelEnvironmentA>},
    {&CLSID_clsQxBedrock10A, L"clsQxBedrock10A", &rt::Create<clsQxBedrock10A>},
};

const rt::registration::Server kServer{&LIBID_QxBedrock10, 1, 0, kClasses};

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) rt::module::Init(instance, L"QxBedrock10");
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **object) {
    return rt::GetClassObject(kClasses, clsid, riid, object);
}

STDAPI DllCanUnloadNow() { return rt::objects::CanUnloadNow(); }

STDAPI DllRegisterServer() { return rt::registration::Register(kServer); }

STDAPI DllUnregisterServer() { return rt::registration::Unregister(kServer); }

} // extern "C"

// The unit tests' main: the component's code is linked into this program, so the program itself is
// the module whose resources (type libraries, string table, the tests' own pictures and data) the
// runtime reads. The main thread lives in a single-threaded apartment, as script hosts do.
#include <gtest/gtest.h>

#include <objbase.h>

#include "runtime/module.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    rt::module::Init(GetModuleHandleW(nullptr), L"AtomTables10");
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(apartment)) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}

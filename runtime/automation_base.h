// Included by the headers widl generates from IDL files that import automation_base.idl:
// the real declarations of the automation base types come from the toolchain's headers.
#pragma once
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>

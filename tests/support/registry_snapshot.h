// The registry's classes as the tests compare them: every key and value under a key, and the whole
// classes registry in every view a program of this machine can see.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <windows.h>

namespace testing_support {

using RegistryValues = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;
// Key name -> its values.
using Snapshot = std::map<std::wstring, RegistryValues>;

// Every key and value under root\path, recursively, read in `view` (0, KEY_WOW64_32KEY or
// KEY_WOW64_64KEY); keys are named by their path, after `label` and a backslash when one is given.
void Walk(HKEY root, const std::wstring &path, Snapshot &out, REGSAM view = 0, const std::wstring &label = {});

// The machine's classes (in both views where a 64-bit system has two) and the user's own, each key
// named with the part it comes from.
Snapshot WholeClasses();

// The same without Windows Installer's own bookkeeping (Classes\Installer), which installing and
// uninstalling a package leaves behind by design.
Snapshot WholeClassesButInstaller();

// The differences between two snapshots, for failure messages.
std::string Diff(const Snapshot &a, const Snapshot &b);

} // namespace testing_support

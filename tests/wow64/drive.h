// What the 64-bit driver of the wow64 lane's sequences shares: the programs of each architecture,
// and a look at the component from each architecture's client and script host.
//
// Environment (Windows paths): ATOMTABLES_BUNDLE (the unpacked bundle), ATOMTABLES_WORK (a scratch
// folder), ATOMTABLES_CLIENT_x64 / _x86 (each architecture's build of this program) and
// ATOMTABLES_SIDE_BY_SIDE_VBS (the script both script hosts run).
#pragma once

#include <string>

namespace wow64 {

inline const wchar_t *const kLanes[] = {L"x64", L"x86"};

std::wstring Environment(const wchar_t *name);

// A system program of one architecture: System32 holds the 64-bit ones, SysWOW64 the 32-bit ones.
std::wstring SystemProgram(const std::wstring &lane, const wchar_t *name);

// One architecture's build of this program, on the tests of what that architecture's programs see
// when the component is registered (from componentFolder, its common library from libraryFolder;
// empty: the bundle's folder) or not. True when they ran and passed; failures are added to the
// calling test with `when`.
bool LookFromClient(const std::wstring &lane, bool registered, const std::string &when,
                    const std::wstring &componentFolder = {}, const std::wstring &libraryFolder = {});

// The same architecture's cscript runs the side-by-side script, which checks that the component
// comes from `folder`. With `works` false, the script is expected to fail to create the component.
bool LookFromScript(const std::wstring &lane, const std::wstring &folder, const std::string &when, bool works = true);

std::string Narrow(const std::wstring &text);

} // namespace wow64

// What the clients of the unpacked release bundle share: where the bundle and their scratch folder
// are, files and folders, the registry, and other programs run as a user would run them.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

namespace bundle {

// This client's architecture and the other one, as the bundle's folders are named.
const wchar_t *Lane();
const wchar_t *OtherLane();

// The unpacked bundle (%ATOMTABLES_BUNDLE%), its folder for this architecture or the other one,
// and a scratch folder of the client's own (%ATOMTABLES_WORK%).
std::wstring Root();
std::wstring LaneDir();
std::wstring OtherLaneDir();
std::wstring WorkDir();

// A new folder under the scratch folder holding the files of `from` but those named in `without`.
std::wstring CopyFolder(const std::wstring &from, const std::wstring &name, const std::vector<std::wstring> &without = {});
bool CopyInto(const std::wstring &file, const std::wstring &folder, const std::wstring &asName = {});

// The whole content of a file (empty when it cannot be read).
std::string ReadFile(const std::wstring &path);

// A string value from the registry, empty when it is not there; view KEY_WOW64_32KEY or
// KEY_WOW64_64KEY reads the registry as programs of that architecture see it.
std::wstring RegistryString(HKEY root, const std::wstring &key, const wchar_t *name = nullptr, REGSAM view = 0);
bool RegistryKeyExists(HKEY root, const std::wstring &key);

// A program of the system folder (regsvr32, cscript) or any other, run to its end with its standard
// output and error captured.
struct Run {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};
Run RunProgram(const std::wstring &program, const std::wstring &arguments);
Run RunSystemProgram(const wchar_t *name, const std::wstring &arguments);
// regsvr32 /s with the given arguments (a DLL path, or /u and one).
DWORD Regsvr32(const std::wstring &arguments);
// A VBScript run by cscript: its exit code (WScript.Quit) and output.
Run RunVbs(const std::wstring &name, const std::string &script);

// What Windows' Authenticode policy (WinVerifyTrust, generic verify) says of a file's signature: S_OK,
// TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST for a changed file, ...
HRESULT Trust(const std::wstring &path);

std::wstring Quoted(const std::wstring &path);
std::wstring Hex(HRESULT hr);

} // namespace bundle

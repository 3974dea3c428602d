// What the doctor knows and reads: the component as its type library describes it, the registry
// views of this Windows, the files they point at, Windows Installer's record, and where each
// architecture's files are, for the commands that mend what is wrong.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "runtime/version_info.h"

namespace doctor {

std::wstring GuidText(const GUID &guid);
std::string Narrow(const std::wstring &text);

// The component as the type library embedded in this program describes it (the build makes it from
// the same IDL as the DLL's).
struct Catalogue {
    std::wstring library;      // the type library's name, the first part of every ProgID
    GUID libid{};
    WORD major = 0, minor = 0;
    struct Class {
        std::wstring name;
        CLSID clsid{};
        bool creatable = false;
        std::wstring ProgId(const Catalogue &c) const { return c.library + L"." + name; }
    };
    std::vector<Class> classes;
    struct Interface {
        std::wstring name;
        IID iid{};
    };
    std::vector<Interface> interfaces;   // the dual interfaces, which the type-library marshaler serves
    std::wstring Version() const { return std::to_wstring(major) + L"." + std::to_wstring(minor); }
};
HRESULT ReadCatalogue(Catalogue &catalogue);

// One registry view, as the programs of one architecture see the classes registry.
struct View {
    std::string id;            // x64, wow64-32 (the 32-bit side of 64-bit Windows) or x86 (32-bit Windows)
    REGSAM flag = 0;
    bool is64 = false;         // the architecture of its programs
    std::wstring Bits() const { return is64 ? L"64-bit" : L"32-bit"; }
    std::wstring Platform() const { return is64 ? L"win64" : L"win32"; }
    WORD Machine() const { return is64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386; }
    std::wstring Lane() const { return is64 ? L"x64" : L"x86"; }
    bool Own() const { return is64 == (sizeof(void *) == 8); }   // this program's own architecture
};

// This Windows: 64-bit Windows has two views (x64 and wow64-32), 32-bit Windows one (x86).
bool SixtyFourBitWindows();
std::vector<View> Views();

// The classes registry read in a view (HKEY_CLASSES_ROOT, as COM reads it).
bool KeyExists(const View &view, const std::wstring &key);
std::optional<std::wstring> String(const View &view, const std::wstring &key, const wchar_t *name = nullptr);

// Files.
bool FileExists(const std::wstring &path);
std::optional<WORD> PeMachine(const std::wstring &path);   // nothing when it is not a PE file
std::wstring MachineName(WORD machine);
std::wstring FolderOf(const std::wstring &path);
bool SameText(const std::wstring &a, const std::wstring &b);   // case-insensitively (paths, GUIDs, values)
std::wstring Quoted(const std::wstring &path);

// This program and its version (the component's, from the same version header).
std::wstring SelfPath();
std::wstring OwnVersion();
inline constexpr wchar_t kDoctorName[] = L"AtomTables10Doctor.exe";
inline constexpr wchar_t kComponentName[] = L"AtomTables10.dll";
inline constexpr wchar_t kLibraryName[] = L"QxBedrock10.dll";

// Windows Installer's record of the component's package for this Windows.
struct Package {
    std::wstring product;      // product code; empty when the package is not installed
    std::wstring version;
    bool Installed() const { return !product.empty(); }
    bool FeatureInstalled(const View &view) const;
    std::wstring Folder(const View &view) const;   // where the package puts the view's files
};
Package InstalledPackage();

// Where the files of a view's architecture are: for this program's own, its folder; for the other
// one, the folder of the other architecture's doctor (the registered DLL's folder, the release
// bundle's other folder, or the package's folder). Empty when not found.
std::wstring Home(const View &view, const Package &package);

// Commands, with full paths.
std::wstring Regsvr32(const View &view, const std::wstring &dll);
std::wstring Repair(const Package &package);
std::wstring AddFeature(const Package &package, const View &view);
// What mends the component's registration in a view: a repair or a feature added where Windows
// Installer owns it, otherwise regsvr32 of the view's DLL from its home. Empty when neither is known.
std::wstring ComponentFix(const View &view, const Package &package);
// The common library's file for a view (its home, or the stand-in's package folder); empty if none.
std::wstring LibraryFile(const View &view, const Package &package);

// A failure code in words, for the sentences.
std::wstring Explain(HRESULT hr);

} // namespace doctor

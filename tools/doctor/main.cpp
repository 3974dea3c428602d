// AtomTables10Doctor: looks at an installation of the component the way each architecture's COM
// runtime sees it, names every problem with its cause, and prints the command that mends it. It
// only reads: it writes neither the registry nor any file.
//
//   AtomTables10Doctor.exe [/json]
//
// Exit code 0: healthy; 1: problems found; 2: wrong usage. /live (used by the doctor of the other
// architecture) makes only this architecture's live check and prints it in the companion's form.
#include <cstdio>
#include <string>

#include "checks.h"

namespace {

constexpr wchar_t kUsage[] =
    L"AtomTables10Doctor: checks how AtomTables10 is installed and registered, and says how to mend it.\n"
    L"\n"
    L"  AtomTables10Doctor.exe          one line per check (OK or PROBLEM, its identifier, what it found,\n"
    L"                                  and for a problem the command that mends it), then a summary\n"
    L"  AtomTables10Doctor.exe /json    the same as JSON, for scripts and support tickets\n"
    L"\n"
    L"It changes nothing. Exit code: 0 healthy, 1 problems found, 2 wrong usage.\n";

// Text to the console as it is, to a file or pipe as UTF-8.
void Write(FILE *stream, const std::wstring &text) {
    HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = doctor::Narrow(text);
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    bool json = false, live = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring option = argv[i];
        if (option.size() > 1 && (option[0] == L'/' || option[0] == L'-')) option.erase(0, option[1] == L'-' ? 2 : 1);
        if (_wcsicmp(option.c_str(), L"json") == 0) {
            json = true;
        } else if (_wcsicmp(option.c_str(), L"live") == 0) {
            live = true;
        } else if (option == L"?" || _wcsicmp(option.c_str(), L"help") == 0 || option == L"h") {
            Write(stdout, kUsage);
            return 0;
        } else {
            Write(stderr, L"AtomTables10Doctor: unknown argument \"" + std::wstring(argv[i]) + L"\"\n\n" + kUsage);
            return 2;
        }
    }

    // The component as this program's own copy of its type library describes it.
    doctor::Catalogue catalogue;
    if (const HRESULT hr = doctor::ReadCatalogue(catalogue); FAILED(hr)) {
        Write(stderr, L"AtomTables10Doctor: this program's own type library cannot be read (" + doctor::Explain(hr) + L")\n");
        return 2;
    }
    const std::vector<doctor::View> views = doctor::Views();
    if (live) {
        for (const doctor::View &view : views) {
            if (view.Own()) {
                const doctor::Finding finding = doctor::LiveCheck(catalogue, view);
                Write(stdout, doctor::AsLines({finding}));
                return finding.ok ? 0 : 1;
            }
        }
        return 2;
    }

    doctor::Report report;
    report.architecture = sizeof(void *) == 8 ? "x64" : "x86";
    report.windows = doctor::SixtyFourBitWindows() ? "64-bit" : "32-bit";
    std::wstring seen;
    for (const doctor::View &view : views) {
        report.views.push_back(view.id);
        seen += (seen.empty() ? L"" : L" and ") + view.Bits() + L" programs (" + std::wstring(view.id.begin(), view.id.end()) + L")";
    }
    report.header = L"AtomTables10Doctor " + doctor::OwnVersion() + L" (" + (sizeof(void *) == 8 ? L"64-bit" : L"32-bit") +
                    L") on " + (doctor::SixtyFourBitWindows() ? L"64-bit" : L"32-bit") +
                    L" Windows: AtomTables10 as " + seen + L" see it. Nothing is changed.";
    report.findings = doctor::Inspect(catalogue);
    Write(stdout, json ? doctor::AsJson(report) : doctor::AsText(report));
    return report.Problems() == 0 ? 0 : 1;
}

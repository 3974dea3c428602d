// The bundle's signatures as Windows checks them (WinVerifyTrust, the Authenticode policy), on the
// DLLs registered from the bundle's folder: each signed file is accepted, and a copy with one byte
// changed is refused for its digest. (The lanes sign with a throwaway certificate; Wine does not ask
// for its root to be trusted, Windows would.)
#include <windows.h>
#include <wintrust.h>

#include "bundle_client.h"
#include "support/client.h"

namespace {

// A copy of the file in the scratch folder with the byte in its middle (inside the signed image,
// far from the signature) changed.
std::wstring TamperedCopy(const std::wstring &path, const std::wstring &name) {
    std::string bytes = bundle::ReadFile(path);
    if (bytes.size() < 4096) return {};
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
    const std::wstring copy = bundle::WorkDir() + L"\\" + name;
    HANDLE file = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size() ? copy : std::wstring();
}

} // namespace

TEST(Installed, SignedDllsAreTrustedAndAChangedByteIsNot) {
    for (const wchar_t *dll : {L"AtomTables10.dll", L"QxBedrock10.dll"}) {
        const std::wstring installed = bundle::LaneDir() + L"\\" + dll;
        const HRESULT trust = bundle::Trust(installed);
        EXPECT_EQ(S_OK, trust) << installed << ": " << bundle::Hex(trust);
        const std::wstring changed = TamperedCopy(installed, std::wstring(L"changed-") + dll);
        ASSERT_FALSE(changed.empty()) << dll;
        const HRESULT refused = bundle::Trust(changed);
        EXPECT_EQ(TRUST_E_BAD_DIGEST, refused) << changed << ": " << bundle::Hex(refused);
    }
}

#include "version_info.h"

#include <vector>

#include "module.h"
#include "decimal.h"

namespace rt::version {
namespace {

// A private copy of the resource: the version functions write into the block they are given.
std::vector<BYTE> Block() {
    HMODULE module = module::Instance();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, found);
    if (!data || !size) return {};
    const BYTE *bytes = static_cast<const BYTE *>(data);
    std::vector<BYTE> block(bytes, bytes + size);
    block.resize(size * 2); // room the version functions may use for conversions
    return block;
}

} // namespace

std::wstring String(std::wstring_view key) {
    std::vector<BYTE> block = Block();
    if (block.empty()) return {};
    std::wstring path = L"\\StringFileInfo\\040904B0\\" + std::wstring(key);
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return {};
    std::wstring text(static_cast<const wchar_t *>(value), length);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

namespace {

Numbers FixedFileVersion(std::vector<BYTE> &block) {
    Numbers numbers;
    if (block.empty()) return numbers;
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return numbers;
    const auto *info = static_cast<const VS_FIXEDFILEINFO *>(value);
    numbers.major = HIWORD(info->dwFileVersionMS);
    numbers.minor = LOWORD(info->dwFileVersionMS);
    numbers.build = HIWORD(info->dwFileVersionLS);
    numbers.revision = LOWORD(info->dwFileVersionLS);
    return numbers;
}

} // namespace

Numbers FileVersion() {
    std::vector<BYTE> block = Block();
    return FixedFileVersion(block);
}

std::optional<Numbers> FileVersion(const std::wstring &file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (!size) return std::nullopt;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return std::nullopt;
    const Numbers numbers = FixedFileVersion(block);
    if (numbers == Numbers{}) return std::nullopt;
    return numbers;
}

std::wstring Text(const Numbers &numbers) {
    return Decimal(numbers.major) + L"." + Decimal(numbers.minor) + L"." + Decimal(numbers.build) +
           L"." + Decimal(numbers.revision);
}

} // namespace rt::version

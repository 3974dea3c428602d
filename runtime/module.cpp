#include "module.h"

namespace rt::module {
namespace {
HINSTANCE g_instance = nullptr;
std::wstring g_projectName;
std::wstring g_filePath;
} // namespace

void Init(HINSTANCE instance, std::wstring_view projectName) {
    g_instance = instance;
    g_projectName.assign(projectName);
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    g_filePath = std::move(path);
}

HINSTANCE Instance() { return g_instance; }
std::wstring_view ProjectName() { return g_projectName; }
const std::wstring &FilePath() { return g_filePath; }

} // namespace rt::module

#include "journal.h"

#include <string>
#include <vector>

namespace bedrock::journal {
namespace {

std::wstring Flatten(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t &c : out)
        if (c == L'\t' || c == L'\r' || c == L'\n' || c == L'\0') c = L' ';
    return out;
}

// A file handle, closed when it goes.
class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    ~File() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// Writers take turns, in this process and in any other: the platform appends by finding the end
// of the file and then writing there, and two writers between the two put their lines at the same
// place, one over the other.
class Turn {
public:
    Turn() : mutex_(CreateMutexW(nullptr, FALSE, L"QxBedrock10.Journal")) {
        if (!mutex_) return;
        const DWORD waited = WaitForSingleObject(mutex_, INFINITE);
        owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;
    ~Turn() {
        if (owned_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }

private:
    HANDLE mutex_;
    bool owned_ = false;
};

} // namespace

std::wstring Path() {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"QXBEDROCK10_LOG", buffer, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) return std::wstring(buffer, n);
    n = GetTempPathW(MAX_PATH * 2, buffer);
    std::wstring folder = (n > 0 && n < MAX_PATH * 2) ? std::wstring(buffer, n) : std::wstring(L".\\");
    return folder + L"QxBedrock10.log";
}

void Write(std::wstring_view kind, std::initializer_list<std::wstring_view> fields) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    wsprintfW(stamp, L"%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
    std::wstring line = std::wstring(stamp) + L"\t" + Flatten(kind);
    for (std::wstring_view field : fields) line += L"\t" + Flatten(field);
    line += L"\r\n";
    OutputDebugStringW(line.c_str());

    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                          nullptr, nullptr);
    if (bytes <= 0) return;
    std::vector<char> utf8(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
    // One write per line, and one writer at a time: lines never interleave nor land on each other.
    Turn turn;
    File file(CreateFileW(Path().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

} // namespace bedrock::journal

// What the doctor found: one finding per check, each either OK or a problem with a stable
// identifier, a plain sentence and, where one exists, the command that mends it.
#pragma once

#include <string>
#include <vector>

namespace doctor {

struct Finding {
    bool ok = true;
    std::string id;        // stable: <view>.<check>[.<problem>], such as wow64-32.server.missing-file
    std::wstring text;     // a plain sentence
    std::wstring fix;      // the command that mends it, with full paths; empty when there is none
};

inline Finding Ok(std::string id, std::wstring text) { return {true, std::move(id), std::move(text), {}}; }
inline Finding Problem(std::string id, std::wstring text, std::wstring fix = {}) {
    return {false, std::move(id), std::move(text), std::move(fix)};
}

struct Report {
    std::wstring header;   // what was inspected
    std::string architecture;
    std::string windows;
    std::vector<std::string> views;
    std::vector<Finding> findings;

    size_t Problems() const;
};

// One line per finding, then the summary.
std::wstring AsText(const Report &report);
std::wstring AsJson(const Report &report);

// The companion doctor's form of its findings (tab-separated, one per line), and reading it back.
std::wstring AsLines(const std::vector<Finding> &findings);
std::vector<Finding> FromLines(const std::wstring &text);

} // namespace doctor

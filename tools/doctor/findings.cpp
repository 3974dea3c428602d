#include "findings.h"

#include <algorithm>
#include <cwchar>

namespace doctor {
namespace {

std::wstring Widen(const std::string &text) { return {text.begin(), text.end()}; }

std::wstring JsonString(const std::wstring &text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        default:
            if (c < 0x20) {
                wchar_t escaped[8];
                std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + L"\"";
}

// Tabs and line ends cannot occur in a finding's texts; should one, it becomes a space.
std::wstring OneField(std::wstring text) {
    std::replace_if(text.begin(), text.end(), [](wchar_t c) { return c == L'\t' || c == L'\r' || c == L'\n'; }, L' ');
    return text;
}

} // namespace

size_t Report::Problems() const {
    return static_cast<size_t>(std::count_if(findings.begin(), findings.end(), [](const Finding &f) { return !f.ok; }));
}

std::wstring AsText(const Report &report) {
    std::wstring out = report.header + L"\n\n";
    for (const Finding &f : report.findings) {
        out += (f.ok ? L"OK      " : L"PROBLEM ") + Widen(f.id) + L": " + f.text;
        if (!f.fix.empty()) out += L"  Fix: " + f.fix;
        out += L"\n";
    }
    const size_t problems = report.Problems(), checks = report.findings.size();
    out += L"\n";
    if (problems == 0) {
        out += L"Summary: healthy, all " + std::to_wstring(checks) + L" checks OK.\n";
    } else {
        out += L"Summary: " + std::to_wstring(problems) + (problems == 1 ? L" problem" : L" problems") + L" in " +
               std::to_wstring(checks) +
               L" checks. Run each Fix command from a command prompt run as administrator, in the order shown, "
               L"then run the doctor again.\n";
    }
    return out;
}

std::wstring AsJson(const Report &report) {
    std::wstring views;
    for (const std::string &view : report.views) views += (views.empty() ? L"" : L", ") + JsonString(Widen(view));
    std::wstring out = L"{\n  \"tool\": \"AtomTables10Doctor\",\n  \"header\": " + JsonString(report.header) +
                       L",\n  \"architecture\": " + JsonString(Widen(report.architecture)) + L",\n  \"windows\": " +
                       JsonString(Widen(report.windows)) + L",\n  \"views\": [" + views + L"],\n  \"healthy\": " +
                       (report.Problems() == 0 ? L"true" : L"false") + L",\n  \"checks\": " +
                       std::to_wstring(report.findings.size()) + L",\n  \"problems\": " +
                       std::to_wstring(report.Problems()) + L",\n  \"findings\": [\n";
    for (size_t i = 0; i < report.findings.size(); ++i) {
        const Finding &f = report.findings[i];
        out += L"    {\"status\": " + JsonString(f.ok ? L"OK" : L"PROBLEM") + L", \"id\": " + JsonString(Widen(f.id)) +
               L", \"text\": " + JsonString(f.text) + L", \"fix\": " + (f.fix.empty() ? L"null" : JsonString(f.fix)) +
               L"}" + (i + 1 < report.findings.size() ? L"," : L"") + L"\n";
    }
    return out + L"  ]\n}\n";
}

std::wstring AsLines(const std::vector<Finding> &findings) {
    std::wstring out;
    for (const Finding &f : findings)
        out += std::wstring(f.ok ? L"OK" : L"PROBLEM") + L"\t" + Widen(f.id) + L"\t" + OneField(f.text) + L"\t" +
               OneField(f.fix) + L"\n";
    return out;
}

std::vector<Finding> FromLines(const std::wstring &text) {
    std::vector<Finding> findings;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        std::vector<std::wstring> fields;
        for (size_t at = 0;;) {
            const size_t tab = line.find(L'\t', at);
            fields.push_back(line.substr(at, tab == std::wstring::npos ? std::wstring::npos : tab - at));
            if (tab == std::wstring::npos) break;
            at = tab + 1;
        }
        if (fields.size() != 4 || (fields[0] != L"OK" && fields[0] != L"PROBLEM")) continue;
        findings.push_back({fields[0] == L"OK", std::string(fields[1].begin(), fields[1].end()), fields[2], fields[3]});
    }
    return findings;
}

} // namespace doctor

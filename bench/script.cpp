// Runs bench.vbs under Wine's cscript and turns its loop times into net ns per call.
#include <map>
#include <sstream>
#include <string>

#include "bench.h"

namespace bench {
namespace {

// Runs a command line with its standard output captured. Returns false when it cannot start.
bool Capture(std::wstring commandLine, std::string &output, DWORD &exitCode) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::wstring Widen(const std::string &text) { return std::wstring(text.begin(), text.end()); }

} // namespace

ScriptResults RunScript(const Options &options) {
    ScriptResults results;
    results.iterations = options.quick ? 20000 : 100000;
    results.globalIterations = options.quick ? 200 : 1000;
    const int rounds = options.quick ? 3 : 5;
    if (options.script.empty()) {
        results.failure = L"no script given";
        return results;
    }
    std::wstring command = L"cscript.exe //nologo \"" + options.script + L"\" " +
                           std::to_wstring(results.iterations) + L" " +
                           std::to_wstring(results.globalIterations) + L" " + std::to_wstring(rounds);
    std::string output;
    DWORD exitCode = 1;
    if (!Capture(command, output, exitCode)) {
        results.failure = L"cscript could not be started";
        return results;
    }
    // key -> round -> ns per iteration
    std::map<std::string, std::map<int, double>> loops;
    bool done = false;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "done") {
            done = true;
            continue;
        }
        std::istringstream fields(line);
        std::string key;
        int round = 0;
        double micros = 0, count = 0;
        if (std::getline(fields, key, '\t') && fields >> round >> micros >> count && count > 0)
            loops[key][round] = micros * 1000.0 / count;
        else if (key == "error")
            results.failure = Widen(line);
    }
    if (!done || exitCode != 0) {
        if (results.failure.empty())
            results.failure = L"the script did not finish (exit code " + std::to_wstring(exitCode) + L")";
        return results;
    }
    auto net = [&](const std::string &key, const std::string &emptyKey) {
        std::vector<double> values;
        for (const auto &[round, ns] : loops[key]) {
            auto empty = loops[emptyKey].find(round);
            if (empty != loops[emptyKey].end()) values.push_back(ns - empty->second);
        }
        return Summarise(values);
    };
    std::vector<double> empties;
    for (const auto &[round, ns] : loops["empty"]) empties.push_back(ns);
    results.empty = Summarise(empties);
    results.peer = net("peer", "empty");
    for (const auto &[key, rounds] : loops) {
        if (key == "empty" || key == "peer" || key == "empty.global") continue;
        const bool global = key.rfind("Global", 0) == 0;
        results.members.emplace_back(Widen(key), net(key, global ? "empty.global" : "empty"));
    }
    results.ran = true;
    return results;
}

} // namespace bench

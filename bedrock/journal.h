// The library's journal: one line per call it serves, appended to a log file and sent to the
// debugger output. The file is %QXBEDROCK10_LOG% when that is set, otherwise QxBedrock10.log in
// the user's temp folder.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace bedrock::journal {

// The log file's path.
std::wstring Path();

// Appends "<local time>\t<kind>\t<field>\t<field>..." (fields with tabs and line breaks flattened).
void Write(std::wstring_view kind, std::initializer_list<std::wstring_view> fields);

} // namespace bedrock::journal

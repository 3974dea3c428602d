# The worked example of docs/atom-census.md, the ```text block after "<!-- census.leak output -->", is
# what census.leak saw the census print.
#   cmake -DPAGE=<docs/atom-census.md> -DEXAMPLE=<work/example.txt> -P doc_example.cmake
cmake_minimum_required(VERSION 3.25)
file(READ "${PAGE}" page)
file(READ "${EXAMPLE}" example)
set(marker "<!-- census.leak output -->\n```text\n")
string(FIND "${page}" "${marker}" start)
string(LENGTH "${marker}" length)
math(EXPR start "${start} + ${length}")
string(SUBSTRING "${page}" ${start} -1 rest)
string(FIND "${rest}" "```\n" end)
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL example)
  file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/example-on-the-page.txt" "${shown}")
  execute_process(COMMAND diff -u "${CMAKE_CURRENT_BINARY_DIR}/example-on-the-page.txt" "${EXAMPLE}")
  message(FATAL_ERROR "The worked example of ${PAGE} is not what the census printed (${EXAMPLE})")
endif()

# docs/reference.md against the reference generated from the type library.
#   cmake -DMODE=check|update -DPAGE=<docs/reference.md> -DGENERATED=<reference.md> -P reference_page.cmake
# check: fails, showing the difference, unless the page is exactly the generated text.
# update: replaces the page with the generated text.
cmake_minimum_required(VERSION 3.25)
foreach(var MODE PAGE GENERATED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "reference_page.cmake: ${var} is not set")
  endif()
endforeach()

if(MODE STREQUAL "check")
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${PAGE}" "${GENERATED}" RESULT_VARIABLE differs)
  if(NOT differs)
    message(STATUS "${PAGE} matches the type library")
    return()
  endif()
  find_program(DIFF diff)
  if(DIFF)
    execute_process(COMMAND ${DIFF} -u "${PAGE}" "${GENERATED}")
  endif()
  message(FATAL_ERROR "${PAGE} differs from the type library's reference "
                      "(cmake --build <build> --target update-reference rewrites it)")
elseif(MODE STREQUAL "update")
  configure_file("${GENERATED}" "${PAGE}" COPYONLY)
else()
  message(FATAL_ERROR "reference_page.cmake: MODE is check or update")
endif()

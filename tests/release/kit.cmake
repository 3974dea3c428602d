# Builds the C++ examples from the unpacked bundle alone, the way its README tells a mingw-w64 user
# to (plus warnings as errors), and lays out two folders of programs:
#   <KIT>/registered/   the programs only, for the registered component
#   <KIT>/app/          the programs with the files of the bundle's <ARCH> folder and an application
#                       manifest each (the bundle's client.exe.manifest), for use without registration
#
#   cmake -DCXX=<g++> -DBUNDLE=<unpacked bundle> -DARCH=<x64|x86> -DKIT=<dir> -P kit.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var CXX BUNDLE ARCH KIT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "kit.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${KIT})
file(MAKE_DIRECTORY ${KIT}/registered ${KIT}/app)
set(warnings -Wall -Wextra -Werror)
set(libraries -static -lole32 -loleaut32 -luuid)

execute_process(
  COMMAND ${CXX} -std=c++17 ${warnings} -I${BUNDLE}/include early_bound.cpp ${BUNDLE}/include/AtomTables10_i.c
          -o ${KIT}/registered/early_bound.exe ${libraries}
  WORKING_DIRECTORY ${BUNDLE}/examples/cpp RESULT_VARIABLE early)
execute_process(
  COMMAND ${CXX} -std=c++17 ${warnings} late_bound.cpp -o ${KIT}/registered/late_bound.exe ${libraries}
  WORKING_DIRECTORY ${BUNDLE}/examples/cpp RESULT_VARIABLE late)
if(NOT early EQUAL 0 OR NOT late EQUAL 0)
  message(FATAL_ERROR "The C++ examples do not build from the bundle")
endif()

file(GLOB lane_files ${BUNDLE}/${ARCH}/*)
file(COPY ${lane_files} ${KIT}/registered/early_bound.exe ${KIT}/registered/late_bound.exe DESTINATION ${KIT}/app)
foreach(program early_bound late_bound)
  configure_file(${BUNDLE}/examples/cpp/client.exe.manifest ${KIT}/app/${program}.exe.manifest COPYONLY)
endforeach()
message(STATUS "The C++ examples built from ${BUNDLE}")

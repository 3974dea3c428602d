# Builds the C++ examples from the unpacked bundle alone, both ways its README offers a mingw-w64
# user (the compiler commands, plus warnings as errors; the examples' CMakeLists.txt), and lays out
# folders of programs:
#   <KIT>/registered/          the programs only, for the registered component
#   <KIT>/app/                 the programs with the files of the bundle's <ARCH> folder and an
#                              application manifest each (the bundle's client.exe.manifest), for use
#                              without registration
#   <KIT>/app-without-library/ the same without the common library's DLL and manifest
#
#   cmake -DCXX=<g++> -DTOOLCHAIN=<toolchain file> -DBUNDLE=<unpacked bundle> -DARCH=<x64|x86>
#         -DKIT=<dir> -P kit.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var CXX TOOLCHAIN BUNDLE ARCH KIT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "kit.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${KIT})
file(MAKE_DIRECTORY ${KIT}/registered ${KIT}/app ${KIT}/app-without-library)
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

# The examples' own CMakeLists.txt, as a user would configure it in the bundle.
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${BUNDLE}/examples/cpp -B ${KIT}/cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
          "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror" "-DCMAKE_C_FLAGS=-Wall -Wextra -Werror"
  RESULT_VARIABLE configured OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${KIT}/cmake RESULT_VARIABLE built)
foreach(program early_bound late_bound)
  if(NOT configured EQUAL 0 OR NOT built EQUAL 0 OR NOT EXISTS ${KIT}/cmake/${program}.exe)
    message(FATAL_ERROR "The examples' CMakeLists.txt does not build ${program}.exe from the bundle")
  endif()
endforeach()

file(GLOB lane_files ${BUNDLE}/${ARCH}/*)
file(COPY ${lane_files} ${KIT}/registered/early_bound.exe ${KIT}/registered/late_bound.exe DESTINATION ${KIT}/app)
foreach(program early_bound late_bound)
  configure_file(${BUNDLE}/examples/cpp/client.exe.manifest ${KIT}/app/${program}.exe.manifest COPYONLY)
endforeach()
file(GLOB app_files ${KIT}/app/*)
list(FILTER app_files EXCLUDE REGEX "/(QxBedrock10\\.dll|QxSoftware\\.QxBedrock10\\.manifest)$")
file(COPY ${app_files} DESTINATION ${KIT}/app-without-library)
message(STATUS "The C++ examples built from ${BUNDLE}")

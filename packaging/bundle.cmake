# Builds the release bundle from the builds of both architectures:
#
#   cmake -DSOURCE_DIR=<repo> -DVERSION=<a.b.c.d> -DOUT_DIR=<dist> -DINCLUDE_DIR=<generated>
#         -DBUILD_x64=<build> -DBUILD_x86=<build> -DSTRIP_x64=<strip> -DSTRIP_x86=<strip> -P bundle.cmake
#
# A build folder holds AtomTables10.dll, bedrock/QxBedrock10.dll, generated/AtomTables10.tlb and
# tools/doctor/AtomTables10Doctor.exe;
# INCLUDE_DIR holds the generated header and GUID definitions. The result is
# <OUT_DIR>/AtomTables10-<VERSION>.zip, one folder of that name inside:
#
#   README.md                      install, uninstall, registration-free use, building clients
#   x64/, x86/                     AtomTables10.dll, QxBedrock10.dll, AtomTables10.tlb, the
#                                  assembly manifests of both DLLs and AtomTables10Doctor.exe
#   include/                       AtomTables10.h, AtomTables10_i.c, automation_base.h
#   examples/                      the scripts, the C++ clients and an application manifest
cmake_minimum_required(VERSION 3.25)
foreach(var SOURCE_DIR VERSION OUT_DIR INCLUDE_DIR BUILD_x64 BUILD_x86 STRIP_x64 STRIP_x86 REGISTRATION WIXL MSIBUILD)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "bundle.cmake: ${var} is not set")
  endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/idl.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)

set(NAME AtomTables10-${VERSION})
set(STAGE ${OUT_DIR}/stage)
set(ROOT ${STAGE}/${NAME})
set(ZIP ${OUT_DIR}/${NAME}.zip)
file(REMOVE_RECURSE ${STAGE})
file(REMOVE ${ZIP})

# Assembly names: the company's, then the DLL's.
set(COMPONENT_ASSEMBLY QxSoftware.AtomTables10)
set(LIBRARY_ASSEMBLY QxSoftware.QxBedrock10)
set(CLIENT_ASSEMBLY QxSoftware.AtomTables10.ExampleClient)

# The common library carries a version of its own, in its version resource.
file(STRINGS ${SOURCE_DIR}/bedrock/QxBedrock10.rc library_version REGEX "^FILEVERSION ")
if(NOT library_version MATCHES "^FILEVERSION +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)")
  message(FATAL_ERROR "no FILEVERSION in bedrock/QxBedrock10.rc")
endif()
set(LIBRARY_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")

read_idl(${SOURCE_DIR}/server/AtomTables10.idl component)
read_idl(${SOURCE_DIR}/bedrock/QxBedrock10.idl library)

# Writes the assembly manifest of one DLL: its creatable classes under the ProgIDs registration
# gives them (<library>.<class>, apartment-threaded), its type library, and the marshalling of its
# interfaces by the automation marshaller, as registering the type library arranges.
function(write_assembly_manifest file prefix assembly version arch dll dependencies)
  set(ASSEMBLY ${assembly})
  set(VERSION ${version})
  set(ARCH ${arch})
  set(DLL ${dll})
  set(DEPENDENCIES "${dependencies}")
  set(LIBID ${${prefix}_LIBID})
  set(LIBVERSION ${${prefix}_LIBVERSION})
  set(CLASSES "")
  foreach(class IN LISTS ${prefix}_CLASSES)
    xml_escape("${${prefix}_${class}_HELP}" description)
    string(APPEND CLASSES "    <comClass clsid=\"${${prefix}_${class}_GUID}\" progid=\"${${prefix}_LIBRARY}.${class}\""
                          " threadingModel=\"Apartment\" tlbid=\"${LIBID}\" description=\"${description}\"/>\n")
  endforeach()
  set(PROXY_STUBS "")
  foreach(interface IN LISTS ${prefix}_INTERFACES)
    string(APPEND PROXY_STUBS "  <comInterfaceExternalProxyStub name=\"${interface}\" iid=\"${${prefix}_${interface}_GUID}\""
                              " proxyStubClsid32=\"{00020424-0000-0000-C000-000000000046}\" tlbid=\"${LIBID}\"/>\n")
  endforeach()
  configure_file(${SOURCE_DIR}/packaging/manifests/assembly.manifest.in ${file} @ONLY)
endfunction()

foreach(lane x64 x86)
  set(build ${BUILD_${lane}})
  set(dir ${ROOT}/${lane})
  if(lane STREQUAL "x64")
    set(arch amd64)
  else()
    set(arch x86)
  endif()
  foreach(file ${build}/AtomTables10.dll ${build}/bedrock/QxBedrock10.dll ${build}/generated/AtomTables10.tlb
               ${build}/tools/doctor/AtomTables10Doctor.exe)
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "bundle.cmake: ${file} is missing")
    endif()
    file(COPY ${file} DESTINATION ${dir})
  endforeach()
  # Without their debugging information the DLLs are a sixth of the size. (Keeping the file's date
  # keeps the PE header's time stamp that of the link, so that stripping again gives the same file.)
  foreach(dll AtomTables10.dll QxBedrock10.dll AtomTables10Doctor.exe)
    execute_process(COMMAND ${STRIP_${lane}} --strip-debug --preserve-dates ${dir}/${dll} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "bundle.cmake: cannot strip ${lane}/${dll}")
    endif()
  endforeach()
  set(dependency
"  <dependency>
    <dependentAssembly>
      <assemblyIdentity type=\"win32\" name=\"${LIBRARY_ASSEMBLY}\" version=\"${LIBRARY_VERSION}\" processorArchitecture=\"${arch}\"/>
    </dependentAssembly>
  </dependency>
")
  write_assembly_manifest(${dir}/${COMPONENT_ASSEMBLY}.manifest component ${COMPONENT_ASSEMBLY} ${VERSION} ${arch}
                          AtomTables10.dll "${dependency}")
  write_assembly_manifest(${dir}/${LIBRARY_ASSEMBLY}.manifest library ${LIBRARY_ASSEMBLY} ${LIBRARY_VERSION} ${arch}
                          QxBedrock10.dll "")
endforeach()

# The installer packages, from the stripped DLLs above.
file(STRINGS ${SOURCE_DIR}/resources/version.rc company REGEX "VALUE \"CompanyName\"")
string(REGEX REPLACE ".*\"CompanyName\", *\"([^\"]*)\".*" "\\1" company "${company}")
make_installers(OUT_DIR ${ROOT}/installers WXS_DIR ${OUT_DIR}/installer-sources STAGE ${ROOT} VERSION ${VERSION} LIBRARY_VERSION ${LIBRARY_VERSION}
                MANUFACTURER "${company}" ENTRIES ${REGISTRATION} WIXL ${WIXL} MSIBUILD ${MSIBUILD})

file(COPY ${INCLUDE_DIR}/AtomTables10.h ${INCLUDE_DIR}/AtomTables10_i.c ${SOURCE_DIR}/runtime/automation_base.h
     DESTINATION ${ROOT}/include)
file(COPY ${SOURCE_DIR}/examples/ DESTINATION ${ROOT}/examples)
configure_file(${SOURCE_DIR}/packaging/manifests/client.exe.manifest.in ${ROOT}/examples/cpp/client.exe.manifest @ONLY)
configure_file(${SOURCE_DIR}/packaging/README.md.in ${ROOT}/README.md @ONLY)

execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip -- ${NAME}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "bundle.cmake: zipping ${ROOT} failed")
endif()
message(STATUS "Release bundle: ${ZIP}")

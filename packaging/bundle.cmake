# Builds the release from the builds of both architectures:
#
#   cmake -DSOURCE_DIR=<repo> -DVERSION=<a.b.c.d> -DOUT_DIR=<dist> -DINCLUDE_DIR=<generated>
#         -DBUILD_x64=<build> -DBUILD_x86=<build> -DSTRIP_x64=<strip> -DSTRIP_x86=<strip>
#         -DOBJCOPY_x64=<objcopy> -DOBJCOPY_x86=<objcopy> -DSOURCE_DATE_EPOCH=<seconds>
#         -DREGISTRATION=<capture> -DWIXL=<wixl> -DMSIBUILD=<msibuild> -DFAKETIME=<faketime> -DZIP=<zip>
#         -DDPKG_QUERY=<dpkg-query> [-DOSSLSIGNCODE=<osslsigncode>] -P bundle.cmake
#
# A build folder holds the shipped binaries (packaging/shipped.cmake) with their link maps and
# generated/AtomTables10.tlb; INCLUDE_DIR holds the generated header and GUID definitions. The result:
#
#   <OUT_DIR>/AtomTables10-<VERSION>.zip           the bundle, one folder of that name inside:
#     README.md                      install, uninstall, registration-free use, building clients, signatures
#     x64/, x86/                     the shipped binaries (the DLLs and AtomTables10Doctor.exe; stripped,
#                                    signed when given a certificate), AtomTables10.tlb and the
#                                    assembly manifests of both DLLs
#     include/                       AtomTables10.h, AtomTables10_i.c, automation_base.h
#     examples/                      the scripts, the C++ clients and an application manifest
#     installers/                    the Windows Installer packages (signed when given a certificate)
#     THIRD-PARTY-NOTICES.txt        the statically linked libraries, their versions and licences
#     AtomTables10-<VERSION>.spdx.json   the bill of materials (SPDX 2.3)
#     SHA256SUMS                     every other file's SHA-256
#   <OUT_DIR>/AtomTables10-<VERSION>-symbols.zip   x64/, x86/: <binary>.debug for each shipped binary
#   <OUT_DIR>/SHA256SUMS                           of the two archives
#   <OUT_DIR>/unsigned/AtomTables10-<VERSION>.zip  the bundle before signing (the same as the bundle
#                                                  when nothing signs): what builds of one commit
#                                                  agree on byte for byte
#
# Signing: with ATOMTABLES_SIGN_PKCS12 and ATOMTABLES_SIGN_PASSWORD_FILE in the environment (and
# optionally ATOMTABLES_SIGN_TIMESTAMP_URL; see packaging/release.cmake), every shipped binary is
# signed first, the packages are then made from the signed binaries, and signed last.
cmake_minimum_required(VERSION 3.25)
foreach(var SOURCE_DIR VERSION OUT_DIR INCLUDE_DIR BUILD_x64 BUILD_x86 STRIP_x64 STRIP_x86 OBJCOPY_x64 OBJCOPY_x86
            SOURCE_DATE_EPOCH REGISTRATION WIXL MSIBUILD FAKETIME ZIP DPKG_QUERY)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "bundle.cmake: ${var} is not set")
  endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/shipped.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/release.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/idl.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)

set(NAME AtomTables10-${VERSION})
set(STAGE ${OUT_DIR}/stage/unsigned)
set(ROOT ${STAGE}/${NAME})
set(SYMBOLS_STAGE ${OUT_DIR}/stage/symbols)
set(SYMBOLS ${SYMBOLS_STAGE}/${NAME}-symbols)
set(ZIP_FILE ${OUT_DIR}/${NAME}.zip)
set(SYMBOLS_ZIP ${OUT_DIR}/${NAME}-symbols.zip)
set(UNSIGNED_ZIP ${OUT_DIR}/unsigned/${NAME}.zip)
file(REMOVE_RECURSE ${OUT_DIR}/stage ${OUT_DIR}/unsigned)
file(REMOVE ${ZIP_FILE} ${SYMBOLS_ZIP} ${OUT_DIR}/SHA256SUMS)
release_signing(SIGNING)

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
  if(NOT EXISTS ${build}/generated/AtomTables10.tlb)
    message(FATAL_ERROR "bundle.cmake: ${build}/generated/AtomTables10.tlb is missing")
  endif()
  file(COPY ${build}/generated/AtomTables10.tlb DESTINATION ${dir})
  # The shipped binaries without symbols or debugging information, which go to the symbols archive.
  foreach(file IN LISTS SHIPPED_FILES)
    get_filename_component(name ${file} NAME)
    foreach(input ${build}/${file} ${build}/${file}.map)
      if(NOT EXISTS ${input})
        message(FATAL_ERROR "bundle.cmake: ${input} is missing")
      endif()
    endforeach()
    release_split_debug(IN ${build}/${file} OUT ${dir}/${name} DEBUG ${SYMBOLS}/${lane}/${name}.debug
                        STRIP ${STRIP_${lane}} OBJCOPY ${OBJCOPY_${lane}} EPOCH ${SOURCE_DATE_EPOCH})
    list(APPEND SHIPPED_BINARIES ${lane}/${name})
    list(APPEND SHIPPED_MAPS ${build}/${file}.map)
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

file(STRINGS ${SOURCE_DIR}/resources/version.rc company REGEX "VALUE \"CompanyName\"")
string(REGEX REPLACE ".*\"CompanyName\", *\"([^\"]*)\".*" "\\1" company "${company}")

# The notices of what the binaries link, from their link maps and the toolchain's copyright files.
release_notices(OUT ${ROOT}/THIRD-PARTY-NOTICES.txt PRODUCT AtomTables10 VERSION ${VERSION}
                BINARIES ${SHIPPED_BINARIES} MAPS ${SHIPPED_MAPS} DPKG_QUERY ${DPKG_QUERY})

file(COPY ${INCLUDE_DIR}/AtomTables10.h ${INCLUDE_DIR}/AtomTables10_i.c ${SOURCE_DIR}/runtime/automation_base.h
     DESTINATION ${ROOT}/include)
file(COPY ${SOURCE_DIR}/examples/ DESTINATION ${ROOT}/examples)
configure_file(${SOURCE_DIR}/packaging/manifests/client.exe.manifest.in ${ROOT}/examples/cpp/client.exe.manifest @ONLY)

# What a bundle holds once its binaries are as they ship (signed or not): the packages made from
# them, the README, the bill of materials and the checksums; then the archive.
function(finish_bundle root zip)
  make_installers(OUT_DIR ${root}/installers WXS_DIR ${OUT_DIR}/installer-sources STAGE ${root} VERSION ${VERSION}
                  LIBRARY_VERSION ${LIBRARY_VERSION} MANUFACTURER "${company}" ENTRIES ${REGISTRATION} WIXL ${WIXL}
                  MSIBUILD ${MSIBUILD} EPOCH ${SOURCE_DATE_EPOCH} FAKETIME ${FAKETIME})
  file(GLOB packages RELATIVE ${root} ${root}/installers/*.msi)
  if(SIGNED)
    foreach(package IN LISTS packages)
      release_sign(FILE ${root}/${package} DESCRIPTION "AtomTables10 ${VERSION}")
    endforeach()
    set(SIGNATURE_TEXT "This build is **signed**: every DLL and program in `x64\\` and `x86\\` and every package in
`installers\\` carries an Authenticode signature (SHA-256). Windows shows it in each file's properties (Digital
Signatures); `Get-AuthenticodeSignature x64\\AtomTables10.dll` in PowerShell or
`signtool verify /pa /all x64\\AtomTables10.dll` checks it.")
  else()
    set(SIGNATURE_TEXT "This is an **unsigned build**: its DLLs, programs and packages carry no Authenticode signature.
Signed releases come from a release machine that holds the publisher's certificate.")
  endif()
  configure_file(${SOURCE_DIR}/packaging/README.md.in ${root}/README.md @ONLY)
  file(GLOB_RECURSE files RELATIVE ${root} ${root}/*)
  list(REMOVE_ITEM files ${NAME}.spdx.json SHA256SUMS)
  set(component_files "")
  set(library_files "")
  foreach(file IN LISTS files)
    if(file MATCHES "QxBedrock10")
      list(APPEND library_files ${file})
    else()
      list(APPEND component_files ${file})
    endif()
  endforeach()
  list(SORT component_files)
  list(SORT library_files)
  release_bill_of_materials(OUT ${root}/${NAME}.spdx.json DIR ${root} NAME "${NAME}" EPOCH ${SOURCE_DATE_EPOCH}
                            SUPPLIER "${company}" COMPONENT_VERSION ${VERSION} LIBRARY_VERSION ${LIBRARY_VERSION}
                            COMPONENT_FILES ${component_files} LIBRARY_FILES ${library_files})
  release_checksums(DIR ${root} OUT ${root}/SHA256SUMS)
  get_filename_component(parent ${root} DIRECTORY)
  release_zip(DIR ${parent} NAME ${NAME} OUT ${zip} EPOCH ${SOURCE_DATE_EPOCH} ZIP ${ZIP})
endfunction()

set(SIGNED FALSE)
finish_bundle(${ROOT} ${UNSIGNED_ZIP})
release_zip(DIR ${SYMBOLS_STAGE} NAME ${NAME}-symbols OUT ${SYMBOLS_ZIP} EPOCH ${SOURCE_DATE_EPOCH} ZIP ${ZIP})

if(SIGNING)
  # The binaries signed before the packages take them in; the packages are made again from them and
  # signed last.
  set(SIGNED_ROOT ${OUT_DIR}/stage/signed/${NAME})
  file(MAKE_DIRECTORY ${OUT_DIR}/stage/signed)
  file(COPY ${ROOT} DESTINATION ${OUT_DIR}/stage/signed)
  file(REMOVE_RECURSE ${SIGNED_ROOT}/installers)
  foreach(binary IN LISTS SHIPPED_BINARIES)
    release_sign(FILE ${SIGNED_ROOT}/${binary} DESCRIPTION "AtomTables10 ${VERSION}")
  endforeach()
  set(SIGNED TRUE)
  finish_bundle(${SIGNED_ROOT} ${ZIP_FILE})
  message(STATUS "Release bundle, signed: ${ZIP_FILE} (unsigned: ${UNSIGNED_ZIP})")
else()
  file(COPY_FILE ${UNSIGNED_ZIP} ${ZIP_FILE})
  message(STATUS "Release bundle, unsigned: ${ZIP_FILE}")
endif()
release_checksums(DIR ${OUT_DIR} OUT ${OUT_DIR}/SHA256SUMS FILES ${NAME}.zip ${NAME}-symbols.zip)
message(STATUS "Symbols: ${SYMBOLS_ZIP}")

# The release's own files, as vendors ship them (used by bundle.cmake):
#
#   release_split_debug(...)   a binary stripped, its debugging information kept in <file>.debug
#   release_notices(...)       THIRD-PARTY-NOTICES.txt from the link maps and the toolchain's copyright files
#   release_bill_of_materials(...)  an SPDX 2.3 document of the component, the stand-in and those libraries
#   release_checksums(...)     SHA256SUMS of a folder's files
#   release_zip(...)           a zip whose bytes depend on the files alone (order, dates, modes fixed)
#   release_sign(...)          Authenticode (SHA-256) with the certificate the environment names
#
# Signing is asked for through the environment, never through anything in the repository:
#   ATOMTABLES_SIGN_PKCS12         the PKCS#12 file (.p12, .pfx) with the code-signing certificate and its key
#   ATOMTABLES_SIGN_PASSWORD_FILE  a file holding its password
#   ATOMTABLES_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping service, for a signature that
#                                  stays valid after the certificate expires (needs the network)

# --- Stripped binaries, their debugging information beside them ----------------------------------
#   release_split_debug(IN <linked file> OUT <shipped file> DEBUG <file.debug> STRIP <strip> OBJCOPY <objcopy>
#                       EPOCH <seconds>)
# OUT carries no symbols and no debugging information, only a .gnu_debuglink naming DEBUG (with its
# checksum), which debuggers and addr2line follow; DEBUG holds what OUT lost. binutils stamps the PE
# header of what it writes with the clock unless SOURCE_DATE_EPOCH says otherwise: EPOCH, the time
# the linker gave the binary.
function(release_split_debug)
  cmake_parse_arguments(arg "" "IN;OUT;DEBUG;STRIP;OBJCOPY;EPOCH" "" ${ARGN})
  get_filename_component(debug_dir ${arg_DEBUG} DIRECTORY)
  get_filename_component(out_dir ${arg_OUT} DIRECTORY)
  file(MAKE_DIRECTORY ${debug_dir} ${out_dir})
  foreach(step "${arg_OBJCOPY};--only-keep-debug;${arg_IN};${arg_DEBUG}"
               "${arg_STRIP};--strip-all;-o;${arg_OUT};${arg_IN}"
               "${arg_OBJCOPY};--add-gnu-debuglink=${arg_DEBUG};${arg_OUT}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${arg_EPOCH} ${step}
                    RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "release: ${step} failed:\n${errors}")
    endif()
  endforeach()
endfunction()

# --- Third-party notices ---------------------------------------------------------------------------
# The libraries a shipped binary may link statically, each with the archives (and start-up objects)
# it comes in, its licence as an SPDX expression, and where its licence text is in the copyright file
# of the Debian package that installed it: "gcc" (the GCC copyright file's runtime-library terms and
# the runtime library exception) or "dep5:<path prefix>" (the paragraphs of a machine-readable
# copyright file whose files lie under that prefix). An archive of the toolchain that is in no
# entry stops the release: a new library needs its notice first.
set(_release_libraries libstdcxx libgcc winpthreads mingw_runtime)
set(_release_libstdcxx_name "GNU C++ Library (libstdc++)")
set(_release_libstdcxx_files libstdc++.a libsupc++.a)
set(_release_libstdcxx_license "GPL-3.0-or-later WITH GCC-exception-3.1")
set(_release_libstdcxx_text gcc)
set(_release_libgcc_name "GCC runtime library (libgcc)")
set(_release_libgcc_files libgcc.a libgcc_eh.a crtbegin.o crtend.o)
set(_release_libgcc_license "GPL-3.0-or-later WITH GCC-exception-3.1")
set(_release_libgcc_text gcc)
set(_release_winpthreads_name "mingw-w64 winpthreads (POSIX threads for Windows)")
set(_release_winpthreads_files libpthread.a libwinpthread.a)
set(_release_winpthreads_license "MIT AND BSD-3-Clause")
set(_release_winpthreads_text "dep5:mingw-w64-libraries/winpthreads/")
set(_release_mingw_runtime_name "mingw-w64 runtime (start-up code, libmingw32, libmingwex, msvcrt and system import libraries)")
# (and every other archive of the toolchain's own library folder: the system DLLs' import libraries)
set(_release_mingw_runtime_files dllcrt2.o crt2.o libmingw32.a libmingwex.a libmsvcrt.a libmoldname.a libuuid.a)
set(_release_mingw_runtime_license "ZPL-2.1 AND LicenseRef-mingw-w64-runtime-other")
set(_release_mingw_runtime_text "dep5:mingw-w64-crt/ default")

# The toolchain's files a link map shows were linked: archives members were taken from, and the
# start-up objects loaded directly. Files of the build itself (the project's own libraries) are not
# third-party.
function(_release_linked_files map out)
  file(STRINGS ${map} lines REGEX "^(LOAD |[^ ].*\\.a\\()")
  set(found "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^LOAD (/usr/[^ ]+\\.o)$")
      set(path ${CMAKE_MATCH_1})
    elseif(line MATCHES "^(/usr/[^ (]+\\.a)\\(")
      set(path ${CMAKE_MATCH_1})
    else()
      continue()
    endif()
    get_filename_component(path ${path} ABSOLUTE)
    list(APPEND found ${path})
  endforeach()
  list(REMOVE_DUPLICATES found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Text between two lines (both included) of a copyright file.
function(_release_excerpt file first last out)
  file(READ ${file} text)
  string(FIND "${text}" "${first}" from)
  if(from EQUAL -1)
    message(FATAL_ERROR "release: '${first}' not found in ${file}")
  endif()
  string(SUBSTRING "${text}" ${from} -1 text)
  string(FIND "${text}" "${last}" to)
  if(to EQUAL -1)
    message(FATAL_ERROR "release: '${last}' not found after '${first}' in ${file}")
  endif()
  string(LENGTH "${last}" length)
  math(EXPR to "${to} + ${length}")
  string(SUBSTRING "${text}" 0 ${to} text)
  set(${out} "${text}\n" PARENT_SCOPE)
endfunction()

# The paragraphs of a machine-readable (DEP-5) copyright file whose Files lie under prefix (or are
# "*", the package's default, when with_default), with the stand-alone licence paragraphs they refer to.
function(_release_dep5 file prefix with_default out)
  file(READ ${file} text)
  string(REPLACE ";" "\\;" text "${text}")
  string(REGEX REPLACE "\n[ \t]*\n" ";" paragraphs "${text}")
  set(chosen "")
  set(referred "")
  foreach(paragraph IN LISTS paragraphs)
    if(NOT paragraph MATCHES "^Files:(.*)\nCopyright:")
      continue()
    endif()
    string(REGEX REPLACE "[ \t\n]+" " " patterns "${CMAKE_MATCH_1}")
    string(STRIP "${patterns}" patterns)
    string(REPLACE " " ";" patterns "${patterns}")
    set(take FALSE)
    foreach(pattern IN LISTS patterns)
      string(FIND "${pattern}" "${prefix}" at)
      if((with_default AND pattern STREQUAL "*") OR (at EQUAL 0 AND NOT pattern MATCHES "/tests"))
        set(take TRUE)
      endif()
    endforeach()
    if(take)
      string(APPEND chosen "${paragraph}\n\n")
      # "License: name" with no text under it: the text is in a paragraph of its own.
      if(paragraph MATCHES "\nLicense: ([^\n]+)$")
        list(APPEND referred "${CMAKE_MATCH_1}")
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES referred)
  foreach(name IN LISTS referred)
    foreach(paragraph IN LISTS paragraphs)
      string(FIND "${paragraph}" "License: ${name}\n" at)
      if(at EQUAL 0)
        string(APPEND chosen "${paragraph}\n\n")
      endif()
    endforeach()
  endforeach()
  if(chosen STREQUAL "")
    message(FATAL_ERROR "release: nothing under ${prefix} in ${file}")
  endif()
  set(${out} "${chosen}" PARENT_SCOPE)
endfunction()

# release_notices(OUT <file> PRODUCT <name> VERSION <v> BINARIES <bundle path>... MAPS <map>... DPKG_QUERY <dpkg-query>)
# BINARIES and MAPS go in pairs: each shipped file (as the bundle names it) and its link map.
# Sets RELEASE_LIBRARIES (the ids of the libraries found) and, for each id, RELEASE_<id>_NAME,
# _VERSION, _LICENSE, _PACKAGES (Debian package and version, per architecture), _FILES (the
# archives) and _USERS (the shipped files that link it), for the bill of materials.
function(release_notices)
  cmake_parse_arguments(arg "" "OUT;PRODUCT;VERSION;DPKG_QUERY" "BINARIES;MAPS" ${ARGN})
  set(used "")
  foreach(id IN LISTS _release_libraries)
    set(users_${id} "")
    set(packages_${id} "")
    set(archives_${id} "")
    set(paths_${id} "")
  endforeach()
  set(index 0)
  foreach(binary IN LISTS arg_BINARIES)
    list(GET arg_MAPS ${index} map)
    math(EXPR index "${index} + 1")
    _release_linked_files(${map} linked)
    foreach(path IN LISTS linked)
      get_filename_component(name ${path} NAME)
      set(owner "")
      foreach(id IN LISTS _release_libraries)
        if(name IN_LIST _release_${id}_files)
          set(owner ${id})
        endif()
      endforeach()
      if(NOT owner AND path MATCHES "^/usr/[^/]+-w64-mingw32/lib/")
        set(owner mingw_runtime)
      endif()
      if(NOT owner)
        message(FATAL_ERROR "release: ${binary} links ${path}, for which no notice is known (packaging/release.cmake)")
      endif()
      list(APPEND used ${owner})
      list(APPEND users_${owner} ${binary})
      list(APPEND archives_${owner} ${name})
      list(APPEND paths_${owner} ${path})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES used)
  # In the table's order, whatever the order of the maps.
  set(libraries "")
  foreach(id IN LISTS _release_libraries)
    if(id IN_LIST used)
      list(APPEND libraries ${id})
    endif()
  endforeach()

  set(body "")
  set(number 0)
  foreach(id IN LISTS libraries)
    math(EXPR number "${number} + 1")
    list(REMOVE_DUPLICATES users_${id})
    list(REMOVE_DUPLICATES archives_${id})
    list(REMOVE_DUPLICATES paths_${id})
    list(SORT archives_${id})
    # The Debian package each file came from, its version, and its copyright file.
    execute_process(COMMAND ${arg_DPKG_QUERY} -S ${paths_${id}} OUTPUT_VARIABLE owners RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "release: no Debian package owns ${paths_${id}}:\n${errors}")
    endif()
    string(REGEX MATCHALL "(^|\n)[^:\n]+:" owner_names "${owners}")
    set(packages "")
    foreach(owner IN LISTS owner_names)
      string(REGEX REPLACE "^\n?([^:]+):$" "\\1" owner "${owner}")
      list(APPEND packages ${owner})
    endforeach()
    list(REMOVE_DUPLICATES packages)
    list(SORT packages)
    set(package_lines "")
    set(upstream "")
    set(copyright "")
    foreach(package IN LISTS packages)
      execute_process(COMMAND ${arg_DPKG_QUERY} -W -f=\${Version} ${package} OUTPUT_VARIABLE version RESULT_VARIABLE status)
      if(NOT status EQUAL 0 OR version STREQUAL "")
        message(FATAL_ERROR "release: no version for the package ${package}")
      endif()
      list(APPEND package_lines "${package} ${version}")
      # The upstream version: the Debian version without its epoch and revision.
      string(REGEX REPLACE "^[0-9]+:" "" version "${version}")
      string(REGEX REPLACE "-[^-]*$" "" version "${version}")
      string(REGEX REPLACE "-.*$" "" version "${version}")
      list(APPEND upstream ${version})
      if(NOT copyright)
        set(copyright /usr/share/doc/${package}/copyright)
      endif()
    endforeach()
    list(REMOVE_DUPLICATES upstream)
    string(REPLACE ";" ", " upstream_text "${upstream}")
    if(NOT EXISTS ${copyright})
      message(FATAL_ERROR "release: ${copyright} is missing")
    endif()
    set(text_source "${_release_${id}_text}")
    if(text_source STREQUAL "gcc")
      _release_excerpt(${copyright} "GCC is Copyright" "- libvtv" terms)
      _release_excerpt(${copyright} "GCC RUNTIME LIBRARY EXCEPTION" "requirements of the license of GCC." exception)
      set(text "${terms}\n${exception}")
    elseif(text_source MATCHES "^dep5:([^ ]+)( default)?$")
      set(prefix "${CMAKE_MATCH_1}")
      if(CMAKE_MATCH_2)
        set(with_default TRUE)
      else()
        set(with_default FALSE)
      endif()
      _release_dep5(${copyright} "${prefix}" ${with_default} text)
    endif()
    string(STRIP "${text}" text)
    string(REPLACE ";" ", " users "${users_${id}}")
    string(REPLACE ";" ", " archives "${archives_${id}}")
    string(REPLACE ";" "\n                " package_text "${package_lines}")
    string(APPEND body
"================================================================================
${number}. ${_release_${id}_name} ${upstream_text}
   Linked into: ${users}
   Archives:    ${archives}
   Packages:    ${package_text}
   Licence:     ${_release_${id}_license}
   Text:        from ${copyright}
--------------------------------------------------------------------------------
${text}

")
    set(RELEASE_${id}_NAME "${_release_${id}_name}" PARENT_SCOPE)
    set(RELEASE_${id}_VERSION "${upstream_text}" PARENT_SCOPE)
    set(RELEASE_${id}_LICENSE "${_release_${id}_license}" PARENT_SCOPE)
    set(RELEASE_${id}_PACKAGES "${package_lines}" PARENT_SCOPE)
    set(RELEASE_${id}_USERS "${users_${id}}" PARENT_SCOPE)
  endforeach()
  # The GPL's text, which the GCC terms name, from the system's common licences.
  set(gpl /usr/share/common-licenses/GPL-3)
  set(appendix "")
  if(("libstdcxx" IN_LIST libraries OR "libgcc" IN_LIST libraries) AND EXISTS ${gpl})
    file(READ ${gpl} gpl_text)
    set(appendix "================================================================================
Appendix: the GNU General Public License, version 3, which the GCC terms above refer to
(from ${gpl})
--------------------------------------------------------------------------------
${gpl_text}")
  endif()
  file(WRITE ${arg_OUT}
"THIRD-PARTY NOTICES: ${arg_PRODUCT} ${arg_VERSION}

The binaries of this release are linked statically with the libraries below, so their notices come
with every copy. Each library's version and licence text were taken, when the release was built,
from the copyright files of the toolchain packages that installed it.

${body}${appendix}")
  set(RELEASE_LIBRARIES ${libraries} PARENT_SCOPE)
endfunction()

# --- Checksums ---------------------------------------------------------------------------------------
#   release_checksums(DIR <folder> OUT <file> [FILES <relative path>...])
# Every file under DIR (or the FILES given), sorted, in the form `sha256sum -c` reads.
function(release_checksums)
  cmake_parse_arguments(arg "" "DIR;OUT" "FILES" ${ARGN})
  if(arg_FILES)
    set(files ${arg_FILES})
  else()
    file(GLOB_RECURSE files RELATIVE ${arg_DIR} ${arg_DIR}/*)
    file(RELATIVE_PATH self ${arg_DIR} ${arg_OUT})
    list(REMOVE_ITEM files ${self})
  endif()
  list(SORT files)
  set(text "")
  foreach(file IN LISTS files)
    file(SHA256 ${arg_DIR}/${file} hash)
    string(APPEND text "${hash}  ${file}\n")
  endforeach()
  file(WRITE ${arg_OUT} "${text}")
endfunction()

# --- Archives ------------------------------------------------------------------------------------------
#   release_zip(DIR <parent> NAME <folder in it> OUT <zip> EPOCH <seconds> ZIP <zip>)
# The same files always give the same bytes: names sorted, every date the commit's (in UTC), modes
# 644 and 755, no owner, no extra fields.
function(release_zip)
  cmake_parse_arguments(arg "" "DIR;NAME;OUT;EPOCH;ZIP" "" ${ARGN})
  file(GLOB_RECURSE files RELATIVE ${arg_DIR} ${arg_DIR}/${arg_NAME}/*)
  list(SORT files)
  string(REPLACE ";" "\n" list "${files}")
  set(list_file ${arg_OUT}.files)
  get_filename_component(out_dir ${arg_OUT} DIRECTORY)
  file(MAKE_DIRECTORY ${out_dir})
  file(WRITE ${list_file} "${list}\n")
  file(REMOVE ${arg_OUT})
  foreach(step "find;${arg_NAME};-type;d;-exec;chmod;755;{};+"
               "find;${arg_NAME};-type;f;-exec;chmod;644;{};+"
               "find;${arg_NAME};-exec;touch;-h;-d;@${arg_EPOCH};{};+"
               "${CMAKE_COMMAND};-E;env;TZ=UTC;${arg_ZIP};-X;-D;-q;-9;${arg_OUT};-@")
    execute_process(COMMAND ${step} WORKING_DIRECTORY ${arg_DIR} INPUT_FILE ${list_file} RESULT_VARIABLE status
                    ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "release: ${step} failed in ${arg_DIR}:\n${errors}")
    endif()
  endforeach()
  file(REMOVE ${list_file})
endfunction()

# --- Signing ---------------------------------------------------------------------------------------------
# release_signing(<var>): TRUE in var when the environment names a certificate (and checks it is
# usable), FALSE otherwise.
function(release_signing out)
  set(pkcs12 "$ENV{ATOMTABLES_SIGN_PKCS12}")
  set(password "$ENV{ATOMTABLES_SIGN_PASSWORD_FILE}")
  if(pkcs12 STREQUAL "")
    if(NOT password STREQUAL "" OR NOT "$ENV{ATOMTABLES_SIGN_TIMESTAMP_URL}" STREQUAL "")
      message(FATAL_ERROR "release: ATOMTABLES_SIGN_PASSWORD_FILE or ATOMTABLES_SIGN_TIMESTAMP_URL without ATOMTABLES_SIGN_PKCS12")
    endif()
    set(${out} FALSE PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${pkcs12}")
    message(FATAL_ERROR "release: ATOMTABLES_SIGN_PKCS12 names ${pkcs12}, which is not there")
  endif()
  if(password STREQUAL "" OR NOT EXISTS "${password}")
    message(FATAL_ERROR "release: ATOMTABLES_SIGN_PKCS12 needs ATOMTABLES_SIGN_PASSWORD_FILE, a file with its password")
  endif()
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "release: signing needs osslsigncode (scripts/setup.sh installs it)")
  endif()
  set(${out} TRUE PARENT_SCOPE)
endfunction()

#   release_sign(FILE <PE file or package> DESCRIPTION <text>)
# Signs the file in place: an Authenticode signature over its SHA-256 digest, time-stamped when a
# service is named.
function(release_sign)
  cmake_parse_arguments(arg "" "FILE;DESCRIPTION" "" ${ARGN})
  set(command ${OSSLSIGNCODE} sign -pkcs12 $ENV{ATOMTABLES_SIGN_PKCS12} -readpass $ENV{ATOMTABLES_SIGN_PASSWORD_FILE}
              -h sha256 -n ${arg_DESCRIPTION})
  if(NOT "$ENV{ATOMTABLES_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND command -ts $ENV{ATOMTABLES_SIGN_TIMESTAMP_URL})
  endif()
  file(REMOVE ${arg_FILE}.signed)
  execute_process(COMMAND ${command} -in ${arg_FILE} -out ${arg_FILE}.signed RESULT_VARIABLE status
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    file(REMOVE ${arg_FILE}.signed)
    message(FATAL_ERROR "release: signing ${arg_FILE} failed:\n${output}")
  endif()
  file(RENAME ${arg_FILE}.signed ${arg_FILE})
endfunction()

# --- Bill of materials -----------------------------------------------------------------------------------
function(_release_json text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()
function(_release_spdx_id text out)
  string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# release_bill_of_materials(OUT <file.spdx.json> DIR <bundle root> NAME <document name> EPOCH <seconds>
#     SUPPLIER <organisation> COMPONENT_VERSION <v> LIBRARY_VERSION <v>
#     COMPONENT_FILES <relative path>... LIBRARY_FILES <relative path>...)
# After release_notices (its RELEASE_* variables). The document's time is the commit's, its
# namespace a name derived from what it lists, so that one commit gives one document.
function(release_bill_of_materials)
  cmake_parse_arguments(arg "" "OUT;DIR;NAME;EPOCH;SUPPLIER;COMPONENT_VERSION;LIBRARY_VERSION" "COMPONENT_FILES;LIBRARY_FILES" ${ARGN})
  set(ENV{SOURCE_DATE_EPOCH} ${arg_EPOCH})
  string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC)
  _release_json("Organization: ${arg_SUPPLIER}" supplier)
  set(files_json "")
  set(relationships "")
  set(digest_input "")
  set(file_ids "")
  foreach(group COMPONENT LIBRARY)
    if(group STREQUAL "COMPONENT")
      set(package_id SPDXRef-Package-AtomTables10)
    else()
      set(package_id SPDXRef-Package-QxBedrock10-stand-in)
    endif()
    foreach(file IN LISTS arg_${group}_FILES)
      file(SHA1 ${arg_DIR}/${file} sha1)
      file(SHA256 ${arg_DIR}/${file} sha256)
      _release_spdx_id("${file}" id)
      set(id SPDXRef-File-${id})
      list(APPEND file_ids ${id})
      set(file_id_${file} ${id})
      string(APPEND digest_input "${file} ${sha256}\n")
      string(APPEND files_json "    {\"SPDXID\": \"${id}\", \"fileName\": \"./${file}\",
      \"checksums\": [{\"algorithm\": \"SHA1\", \"checksumValue\": \"${sha1}\"}, {\"algorithm\": \"SHA256\", \"checksumValue\": \"${sha256}\"}],
      \"licenseConcluded\": \"NOASSERTION\", \"copyrightText\": \"NOASSERTION\"},\n")
      string(APPEND relationships "    {\"spdxElementId\": \"${package_id}\", \"relationshipType\": \"CONTAINS\", \"relatedSpdxElement\": \"${id}\"},\n")
    endforeach()
  endforeach()

  set(library_packages "")
  foreach(lib IN LISTS RELEASE_LIBRARIES)
    _release_spdx_id("${lib}" id)
    set(id SPDXRef-Package-${id})
    _release_json("${RELEASE_${lib}_NAME}" name)
    string(REPLACE ";" ", " packages "${RELEASE_${lib}_PACKAGES}")
    _release_json("Linked statically; from the Debian packages ${packages}. Notices: THIRD-PARTY-NOTICES.txt." comment)
    string(REGEX REPLACE ",.*" "" version "${RELEASE_${lib}_VERSION}")
    string(APPEND library_packages "    {\"SPDXID\": \"${id}\", \"name\": ${name}, \"versionInfo\": \"${version}\",
      \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": false,
      \"licenseConcluded\": \"${RELEASE_${lib}_LICENSE}\", \"licenseDeclared\": \"${RELEASE_${lib}_LICENSE}\",
      \"copyrightText\": \"NOASSERTION\", \"comment\": ${comment}},\n")
    foreach(user IN LISTS RELEASE_${lib}_USERS)
      if(DEFINED file_id_${user})
        string(APPEND relationships "    {\"spdxElementId\": \"${file_id_${user}}\", \"relationshipType\": \"STATIC_LINK\", \"relatedSpdxElement\": \"${id}\"},\n")
      endif()
    endforeach()
    string(APPEND digest_input "${lib} ${RELEASE_${lib}_PACKAGES}\n")
  endforeach()
  string(SHA256 digest "${digest_input}")
  string(UUID namespace_uuid NAMESPACE 8DE6D737-383A-4A99-83B7-DD7EDDAED19F NAME "${digest}" TYPE SHA1)
  _release_json("${arg_NAME}" document_name)
  _release_json("The project's stand-in for the maker's common library QxBedrock10, for trying the component; not the maker's library." standin_comment)
  string(REGEX REPLACE ",\n$" "\n" files_json "${files_json}")
  file(WRITE ${arg_OUT} "{
  \"spdxVersion\": \"SPDX-2.3\",
  \"dataLicense\": \"CC0-1.0\",
  \"SPDXID\": \"SPDXRef-DOCUMENT\",
  \"name\": ${document_name},
  \"documentNamespace\": \"urn:uuid:${namespace_uuid}\",
  \"creationInfo\": {\"created\": \"${created}\", \"creators\": [\"Tool: AtomTables10 packaging/bundle.cmake\", ${supplier}]},
  \"packages\": [
    {\"SPDXID\": \"SPDXRef-Package-AtomTables10\", \"name\": \"AtomTables10\", \"versionInfo\": \"${arg_COMPONENT_VERSION}\",
      \"supplier\": ${supplier}, \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": true,
      \"packageVerificationCode\": {\"packageVerificationCodeValue\": \"@VERIFICATION_COMPONENT@\"},
      \"licenseConcluded\": \"NOASSERTION\", \"licenseDeclared\": \"NOASSERTION\", \"copyrightText\": \"NOASSERTION\",
      \"primaryPackagePurpose\": \"LIBRARY\"},
    {\"SPDXID\": \"SPDXRef-Package-QxBedrock10-stand-in\", \"name\": \"QxBedrock10 stand-in\", \"versionInfo\": \"${arg_LIBRARY_VERSION}\",
      \"supplier\": ${supplier}, \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": true,
      \"packageVerificationCode\": {\"packageVerificationCodeValue\": \"@VERIFICATION_LIBRARY@\"},
      \"licenseConcluded\": \"NOASSERTION\", \"licenseDeclared\": \"NOASSERTION\", \"copyrightText\": \"NOASSERTION\",
      \"primaryPackagePurpose\": \"LIBRARY\", \"comment\": ${standin_comment}},
${library_packages}    {\"SPDXID\": \"SPDXRef-Package-Windows-system-DLLs\", \"name\": \"Windows system DLLs (kernel32, user32, gdi32, advapi32, ole32, oleaut32, version, msvcrt)\",
      \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": false, \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": \"NOASSERTION\", \"copyrightText\": \"NOASSERTION\", \"comment\": \"Imported at run time from Windows; not shipped.\"}
  ],
  \"files\": [
${files_json}  ],
  \"hasExtractedLicensingInfos\": [
    {\"licenseId\": \"LicenseRef-mingw-w64-runtime-other\", \"name\": \"mingw-w64 runtime: public-domain parts and gdtoa\",
      \"extractedText\": \"Parts of the mingw-w64 runtime are in the public domain; its gdtoa formatting code is under the Lucent and David Gay permissive terms. The full texts are in THIRD-PARTY-NOTICES.txt.\"}
  ],
  \"relationships\": [
    {\"spdxElementId\": \"SPDXRef-DOCUMENT\", \"relationshipType\": \"DESCRIBES\", \"relatedSpdxElement\": \"SPDXRef-Package-AtomTables10\"},
    {\"spdxElementId\": \"SPDXRef-DOCUMENT\", \"relationshipType\": \"DESCRIBES\", \"relatedSpdxElement\": \"SPDXRef-Package-QxBedrock10-stand-in\"},
    {\"spdxElementId\": \"SPDXRef-Package-AtomTables10\", \"relationshipType\": \"DEPENDS_ON\", \"relatedSpdxElement\": \"SPDXRef-Package-QxBedrock10-stand-in\"},
    {\"spdxElementId\": \"SPDXRef-Package-AtomTables10\", \"relationshipType\": \"DEPENDS_ON\", \"relatedSpdxElement\": \"SPDXRef-Package-Windows-system-DLLs\"},
${relationships}    {\"spdxElementId\": \"SPDXRef-Package-QxBedrock10-stand-in\", \"relationshipType\": \"DEPENDS_ON\", \"relatedSpdxElement\": \"SPDXRef-Package-Windows-system-DLLs\"}
  ]
}
")
  # The package verification code (SPDX 2.3, 7.9): the SHA-1 of the package's files' SHA-1s, sorted.
  file(READ ${arg_OUT} document)
  foreach(group COMPONENT LIBRARY)
    set(sums "")
    foreach(file IN LISTS arg_${group}_FILES)
      file(SHA1 ${arg_DIR}/${file} sha1)
      list(APPEND sums ${sha1})
    endforeach()
    list(SORT sums)
    string(REPLACE ";" "" sums "${sums}")
    string(SHA1 code "${sums}")
    string(REPLACE "@VERIFICATION_${group}@" "${code}" document "${document}")
  endforeach()
  file(WRITE ${arg_OUT} "${document}")
  string(JSON ignored ERROR_VARIABLE invalid GET "${document}" spdxVersion)
  if(invalid)
    message(FATAL_ERROR "release: the bill of materials is not valid JSON: ${invalid}")
  endif()
endfunction()

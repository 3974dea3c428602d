# Windows Installer packages, built with wixl from WiX source written here.
#
# What a package writes into the registry is not stated here: it is what the DLLs' own registration
# writes, as registration-capture recorded it (see tools/registration-capture), entry by entry. Each
# entry becomes a row of the package's Registry table, so that install, repair, rollback and
# uninstall handle it by the book; nothing runs DllRegisterServer.
#
#   make_installer(OUT <msi> WXS <WiX source to write> ARCH <x64|x86> VERSION <a.b.c.d> UPGRADE_CODE <guid> PRODUCT <name>
#                  MANUFACTURER <name> FOLDER <folder under Program Files>
#                  DLL <file name> SOURCE_x64 <file> SOURCE_x86 <file> NOTICES <file> ENTRIES <capture file>
#                  WIXL <wixl> MSIBUILD <msibuild> [PROGRAMS <file name>...] [EPOCH <seconds> FAKETIME <faketime>])
#
# PROGRAMS: files of the DLL's folder installed beside it in each architecture (the doctor), each a
# component of its own in that architecture's feature.
#
# The same inputs give the same package, byte for byte: the product code follows from the upgrade
# code and the version, the package code from everything the package holds, and with EPOCH the
# summary's dates and the cabinet's file dates are that time (the commit's) instead of the clock's.
# THIRD-PARTY-NOTICES.txt (NOTICES) is installed beside the DLL of each architecture.
#
# ARCH x64: a package for 64-bit Windows holding both architectures, each a feature of its own (x64
# into the 64-bit Program Files, x86 into the 32-bit one), so that 64-bit and 32-bit hosts both find
# the component. Entries the two registrations share (ProgIDs, the type library's common keys, the
# interfaces' marshalling keys) belong to both features and stay while either is installed.
# ARCH x86: a package for 32-bit Windows with the x86 DLL alone; there, both registry views are one.

# A stable GUID for a component, derived from the product's upgrade code and the component's name.
function(_installer_guid upgrade name out)
  string(UUID guid NAMESPACE ${upgrade} NAME ${name} TYPE SHA1 UPPER)
  set(${out} ${guid} PARENT_SCOPE)
endfunction()

# Text made safe for an XML attribute or element (also used by the bundle's manifests).
function(xml_escape text out)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A captured value as the Registry table's formatted text: brackets are escaped, the DLL's path
# becomes a reference to the installed file.
function(_installer_value data file_id out)
  string(REPLACE "[#FILE]" "@INSTALLED_FILE@" data "${data}")
  string(REPLACE "[" "@OPEN@" data "${data}")
  string(REPLACE "]" "[\\]]" data "${data}")
  string(REPLACE "@OPEN@" "[\\[]" data "${data}")
  string(REPLACE "@INSTALLED_FILE@" "[#${file_id}]" data "${data}")
  if(data MATCHES "^#")
    message(FATAL_ERROR "installer: a value starting with # would not be written as a string: ${data}")
  endif()
  xml_escape("${data}" data)
  set(${out} "${data}" PARENT_SCOPE)
endfunction()

function(make_installer)
  cmake_parse_arguments(arg "" "OUT;WXS;ARCH;VERSION;UPGRADE_CODE;PRODUCT;MANUFACTURER;FOLDER;DLL;SOURCE_x64;SOURCE_x86;NOTICES;ENTRIES;WIXL;MSIBUILD;EPOCH;FAKETIME" "PROGRAMS" ${ARGN})
  if(arg_ARCH STREQUAL "x64")
    set(archs x64 x86)
  else()
    set(archs x86)
  endif()

  # The entries of this DLL, grouped into components: one per registry view and set of
  # architectures whose registration writes the entry.
  file(READ ${arg_ENTRIES} text)
  if(text MATCHES ";")
    message(FATAL_ERROR "installer: a captured entry holds a semicolon, which this script cannot carry")
  endif()
  file(STRINGS ${arg_ENTRIES} lines ENCODING UTF-8)
  set(groups "")
  foreach(line IN LISTS lines)
    string(REPLACE "\t" ";" fields "${line}")
    list(LENGTH fields count)
    if(NOT count EQUAL 7)
      message(FATAL_ERROR "installer: cannot read the captured entry '${line}'")
    endif()
    list(GET fields 0 dll)
    list(GET fields 1 arch)
    list(GET fields 2 view)
    list(GET fields 3 key)
    list(GET fields 4 kind)
    list(GET fields 5 name)
    list(GET fields 6 data)
    if(NOT dll STREQUAL arg_DLL OR NOT arch IN_LIST archs)
      continue()
    endif()
    if(arg_ARCH STREQUAL "x86")
      set(view 32) # 32-bit Windows has one view: what 64-bit Windows keeps apart is one key there
    endif()
    string(MD5 id "${view}|${key}|${kind}|${name}|${data}")
    string(MD5 slot "${view}|${key}|${kind}|${name}")
    if(NOT DEFINED entry_${id})
      set(entry_${id} "${view};${key};${kind};${name};${data}")
      set(archs_${id} "")
      list(APPEND groups ${id})
      if(DEFINED slot_${slot})
        message(FATAL_ERROR "installer: ${key} ${name} is written with different data by different registrations")
      endif()
      set(slot_${slot} ${id})
    endif()
    list(APPEND archs_${id} ${arch})
  endforeach()
  if(NOT groups)
    message(FATAL_ERROR "installer: nothing captured for ${arg_DLL}")
  endif()

  set(components "")
  set(key_rows "")
  set(queries "")
  foreach(id IN LISTS groups)
    set(entry "${entry_${id}}")
    list(GET entry 0 view)
    list(GET entry 1 key)
    list(GET entry 2 kind)
    list(GET entry 3 name)
    list(GET entry 4 data)
    list(REMOVE_DUPLICATES archs_${id})
    list(SORT archs_${id})
    string(REPLACE ";" "_" owners "${archs_${id}}")
    set(component Registry${view}_${owners})
    if(NOT component IN_LIST components)
      list(APPEND components ${component})
      set(${component}_rows "")
      set(${component}_view ${view})
      set(${component}_owners ${archs_${id}})
      set(${component}_keypath FALSE)
    endif()
    # The registration of one architecture refers to that architecture's file; an entry both write
    # alike names no file.
    list(GET archs_${id} 0 file_arch)
    _installer_value("${data}" "${arg_DLL}_${file_arch}" value)
    if(NOT kind STREQUAL "key")
      xml_escape("${key}" key)
      xml_escape("${name}" name)
    endif()
    if(kind STREQUAL "key")
      # wixl writes no row for a key without values: it is added to the Registry table afterwards.
      list(APPEND key_rows "${component}|${key}")
    else()
      set(attributes "")
      if(NOT name STREQUAL "")
        set(attributes " Name=\"${name}\"")
      endif()
      if(NOT ${component}_keypath)
        string(APPEND attributes " KeyPath=\"yes\"")
        set(${component}_keypath TRUE)
      endif()
      string(APPEND ${component}_rows
             "            <RegistryValue Root=\"HKCR\" Key=\"${key}\" Value=\"${value}\" Type=\"string\"${attributes}/>\n")
    endif()
  endforeach()

  # Directories, files and the registry components, each in the Program Files of its view.
  xml_escape("${arg_MANUFACTURER}" manufacturer)
  xml_escape("${arg_FOLDER}" folder)
  xml_escape("${arg_PRODUCT}" product)
  set(directories "")
  foreach(arch IN LISTS archs)
    if(arch STREQUAL "x64")
      set(root ProgramFiles64Folder)
      set(win64 yes)
      set(view 64)
    else()
      set(root ProgramFilesFolder)
      set(win64 no)
      set(view 32)
    endif()
    _installer_guid(${arg_UPGRADE_CODE} "File_${arch}" guid)
    # wixl takes sources relative to where it runs: the WiX source's folder.
    get_filename_component(wxs_dir ${arg_WXS} DIRECTORY)
    file(RELATIVE_PATH source ${wxs_dir} ${arg_SOURCE_${arch}})
    file(RELATIVE_PATH notices ${wxs_dir} ${arg_NOTICES})
    set(rows "")
    foreach(component IN LISTS components)
      if(${component}_view STREQUAL view)
        _installer_guid(${arg_UPGRADE_CODE} ${component} component_guid)
        string(APPEND rows "          <Component Id=\"${component}\" Guid=\"${component_guid}\" Win64=\"${win64}\">\n"
                           "${${component}_rows}          </Component>\n")
      endif()
    endforeach()
    get_filename_component(source_dir ${source} DIRECTORY)
    foreach(program IN LISTS arg_PROGRAMS)
      _installer_guid(${arg_UPGRADE_CODE} "${program}_${arch}" program_guid)
      string(APPEND rows "          <Component Id=\"${program}_${arch}\" Guid=\"${program_guid}\" Win64=\"${win64}\">\n"
                         "            <File Id=\"${program}_${arch}\" Name=\"${program}\" Source=\"${source_dir}/${program}\" KeyPath=\"yes\"/>\n"
                         "          </Component>\n")
    endforeach()
    string(APPEND directories
"      <Directory Id=\"${root}\">
        <Directory Id=\"INSTALLDIR_${arch}\" Name=\"${folder}\">
          <Component Id=\"File_${arch}\" Guid=\"${guid}\" Win64=\"${win64}\">
            <File Id=\"${arg_DLL}_${arch}\" Name=\"${arg_DLL}\" Source=\"${source}\" KeyPath=\"yes\"/>
            <File Id=\"Notices_${arch}\" Name=\"THIRD-PARTY-NOTICES.txt\" Source=\"${notices}\"/>
          </Component>
${rows}        </Directory>
      </Directory>
")
  endforeach()
  # On 32-bit Windows the 32-bit view is the only one: its components live where the file is.
  if(arg_ARCH STREQUAL "x86")
    set(condition "NOT VersionNT64")
    set(refusal "This package is for 32-bit Windows. On 64-bit Windows install the x64 package, which holds both architectures.")
  else()
    set(condition "VersionNT64")
    set(refusal "This package is for 64-bit Windows. On 32-bit Windows install the x86 package.")
  endif()

  set(features "")
  foreach(arch IN LISTS archs)
    if(arch STREQUAL "x64")
      set(title "For 64-bit programs")
    else()
      set(title "For 32-bit programs")
    endif()
    set(refs "      <ComponentRef Id=\"File_${arch}\"/>\n")
    foreach(program IN LISTS arg_PROGRAMS)
      string(APPEND refs "      <ComponentRef Id=\"${program}_${arch}\"/>\n")
    endforeach()
    foreach(component IN LISTS components)
      if(arch IN_LIST ${component}_owners)
        string(APPEND refs "      <ComponentRef Id=\"${component}\"/>\n")
      endif()
    endforeach()
    string(APPEND features "    <Feature Id=\"${arch}\" Title=\"${title}\" Level=\"1\" AllowAdvertise=\"no\">\n${refs}    </Feature>\n")
  endforeach()

  # One product code per product line, architecture and version: a rebuild of a version is that
  # version, a new version a major upgrade.
  _installer_guid(${arg_UPGRADE_CODE} "ProductCode ${arg_VERSION}" product_code)
  set(wxs ${arg_WXS})
  file(WRITE ${wxs}
"<?xml version=\"1.0\" encoding=\"utf-8\"?>
<!-- Generated by packaging/installer.cmake from the captured registration: do not edit. -->
<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">
  <Product Id=\"${product_code}\" Name=\"${product}\" Language=\"1033\" Version=\"${arg_VERSION}\" Manufacturer=\"${manufacturer}\"
           UpgradeCode=\"${arg_UPGRADE_CODE}\">
    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\" Description=\"${product} ${arg_VERSION} (${arg_ARCH})\"/>
    <MajorUpgrade DowngradeErrorMessage=\"A newer version of ${product} is already installed.\"/>
    <Condition Message=\"${refusal}\">${condition}</Condition>
    <Media Id=\"1\" Cabinet=\"product.cab\" EmbedCab=\"yes\"/>
    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">
${directories}    </Directory>
${features}  </Product>
</Wix>
")
  # wixl dates the summary and the cabinet's files with the clock and the files' dates: with EPOCH
  # both are that time.
  file(READ ${wxs} source)
  string(REGEX MATCHALL "Source=\"[^\"]+\"" packaged "${source}")
  list(TRANSFORM packaged REPLACE "^Source=\"(.*)\"$" "${wxs_dir}/\\1")
  set(wixl ${arg_WIXL})
  if(DEFINED arg_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${arg_EPOCH})
    string(TIMESTAMP frozen "%Y-%m-%d %H:%M:%S" UTC)
    execute_process(COMMAND touch -d @${arg_EPOCH} ${packaged})
    set(wixl ${CMAKE_COMMAND} -E env TZ=UTC ${arg_FAKETIME} -f "${frozen}" ${arg_WIXL})
  endif()
  execute_process(COMMAND ${wixl} -a ${arg_ARCH} -o ${arg_OUT} ${wxs} WORKING_DIRECTORY ${wxs_dir}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "installer: wixl failed for ${arg_OUT}:\n${output}")
  endif()
  # A key alone: created when its component is installed, removed with it (name "*").
  foreach(row IN LISTS key_rows)
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 component)
    list(GET row 1 key)
    if(key MATCHES "'")
      message(FATAL_ERROR "installer: a key with a quote: ${key}")
    endif()
    string(MD5 id "${component}|${key}")
    string(SUBSTRING ${id} 0 24 id)
    list(APPEND queries "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('key${id}', 0, '${key}', '*', '${component}')")
  endforeach()
  foreach(query IN LISTS queries)
    execute_process(COMMAND ${arg_MSIBUILD} ${arg_OUT} -q "${query}" RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "installer: msibuild failed on ${arg_OUT} (${query}):\n${output}")
    endif()
  endforeach()
  # The package code names this package's content: its source, its extra rows and every file it holds.
  set(content "${queries}")
  foreach(file IN LISTS packaged)
    file(SHA256 ${file} hash)
    string(APPEND content "|${hash}")
  endforeach()
  string(SHA256 content "${source}|${content}")
  _installer_guid(${arg_UPGRADE_CODE} "PackageCode ${content}" package_code)
  if(arg_ARCH STREQUAL "x64")
    set(template "x64;1033")
  else()
    set(template "Intel;1033")
  endif()
  execute_process(COMMAND ${arg_MSIBUILD} ${arg_OUT} -s ${arg_PRODUCT} ${arg_MANUFACTURER} "${template}" "{${package_code}}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "installer: msibuild cannot set the package code of ${arg_OUT}:\n${output}")
  endif()
endfunction()

# One upgrade code per product line and package architecture, never to change (the doctor,
# tools/doctor, finds the installed package by it).
set(upgrade_AtomTables10_x64 9765EF9E-1DE4-49FC-82EF-934F51FB0327)
set(upgrade_AtomTables10_x86 545AE3AE-079C-4B95-85F3-26026F745620)
set(upgrade_QxBedrock10_x64 F60C16B5-74CD-4B3C-BDF0-FEE223EB7C64)
set(upgrade_QxBedrock10_x86 79A256BA-2B30-4684-8D2B-C6B08033E184)

# The release's packages, from a folder laid out as the bundle's (x64\ and x86\ with the DLLs):
#   <OUT_DIR>/AtomTables10-<VERSION>-x64.msi     64-bit Windows: both architectures
#   <OUT_DIR>/AtomTables10-<VERSION>-x86.msi     32-bit Windows
#   <OUT_DIR>/QxBedrock10-standin-<LIBRARY_VERSION>-x64.msi, ...-x86.msi
#                                                the project's stand-in for the common library, in
#                                                packages of its own: never part of the component's
#
#   make_installers(OUT_DIR <dir> WXS_DIR <dir for the WiX sources> STAGE <dir> VERSION <v> LIBRARY_VERSION <v> MANUFACTURER <name>
#                   ENTRIES <capture file> WIXL <wixl> MSIBUILD <msibuild> [EPOCH <seconds> FAKETIME <faketime>])
# STAGE also holds THIRD-PARTY-NOTICES.txt, which every package installs.
function(make_installers)
  cmake_parse_arguments(arg "" "OUT_DIR;WXS_DIR;STAGE;VERSION;LIBRARY_VERSION;MANUFACTURER;ENTRIES;WIXL;MSIBUILD;EPOCH;FAKETIME" "" ${ARGN})
  set(reproducible "")
  if(DEFINED arg_EPOCH)
    set(reproducible EPOCH ${arg_EPOCH} FAKETIME ${arg_FAKETIME})
  endif()
  file(MAKE_DIRECTORY ${arg_OUT_DIR} ${arg_WXS_DIR})
  foreach(arch x64 x86)
    make_installer(OUT ${arg_OUT_DIR}/AtomTables10-${arg_VERSION}-${arch}.msi
                   WXS ${arg_WXS_DIR}/AtomTables10-${arch}.wxs ARCH ${arch} VERSION ${arg_VERSION}
                   UPGRADE_CODE ${upgrade_AtomTables10_${arch}} PRODUCT AtomTables10
                   MANUFACTURER "${arg_MANUFACTURER}" FOLDER AtomTables10 DLL AtomTables10.dll
                   SOURCE_x64 ${arg_STAGE}/x64/AtomTables10.dll SOURCE_x86 ${arg_STAGE}/x86/AtomTables10.dll
                   NOTICES ${arg_STAGE}/THIRD-PARTY-NOTICES.txt PROGRAMS AtomTables10Doctor.exe
                   ENTRIES ${arg_ENTRIES} WIXL ${arg_WIXL} MSIBUILD ${arg_MSIBUILD} ${reproducible})
    make_installer(OUT ${arg_OUT_DIR}/QxBedrock10-standin-${arg_LIBRARY_VERSION}-${arch}.msi
                   WXS ${arg_WXS_DIR}/QxBedrock10-standin-${arch}.wxs ARCH ${arch}
                   VERSION ${arg_LIBRARY_VERSION} UPGRADE_CODE ${upgrade_QxBedrock10_${arch}}
                   PRODUCT "QxBedrock10 stand-in (for trying AtomTables10, not the maker's library)"
                   MANUFACTURER "${arg_MANUFACTURER}" FOLDER "QxBedrock10 stand-in" DLL QxBedrock10.dll
                   SOURCE_x64 ${arg_STAGE}/x64/QxBedrock10.dll SOURCE_x86 ${arg_STAGE}/x86/QxBedrock10.dll
                   NOTICES ${arg_STAGE}/THIRD-PARTY-NOTICES.txt
                   ENTRIES ${arg_ENTRIES} WIXL ${arg_WIXL} MSIBUILD ${arg_MSIBUILD} ${reproducible})
  endforeach()
endfunction()

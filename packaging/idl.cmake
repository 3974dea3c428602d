# Reads from an IDL file what a side-by-side manifest needs: the library's name, LIBID and version,
# its creatable coclasses (name, CLSID, help string) and its automation interfaces (name, IID).
#
#   read_idl(<file> <prefix>) sets <prefix>_LIBRARY, <prefix>_LIBID, <prefix>_LIBVERSION,
#   <prefix>_CLASSES and <prefix>_INTERFACES (lists of names), and for each name <prefix>_<name>_GUID
#   and <prefix>_<name>_HELP. GUIDs come out in registry form, {upper case}.

function(_idl_guid attributes out)
  if(NOT attributes MATCHES "uuid\\(([0-9A-Fa-f-]+)\\)")
    message(FATAL_ERROR "no uuid in [${attributes}]")
  endif()
  string(TOUPPER "{${CMAKE_MATCH_1}}" guid)
  set(${out} "${guid}" PARENT_SCOPE)
endfunction()

function(read_idl file prefix)
  file(READ "${file}" text)
  # Comments and preprocessor lines go; semicolons would split CMake lists.
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" text "${text}")
  string(REGEX REPLACE "\n#[^\n]*" "\n" text "${text}")
  string(REPLACE ";" "," text "${text}")

  # Each declaration with its attribute list: [ ... ] library|coclass|interface Name
  string(REGEX MATCHALL "\\[[^][]*\\][ \t\r\n]*(library|coclass|interface)[ \t\r\n]+[A-Za-z_][A-Za-z0-9_]*"
         declarations "${text}")
  set(classes "")
  set(interfaces "")
  foreach(declaration IN LISTS declarations)
    string(REGEX MATCH "^\\[([^][]*)\\][ \t\r\n]*(library|coclass|interface)[ \t\r\n]+([A-Za-z0-9_]+)$"
           parsed "${declaration}")
    set(attributes "${CMAKE_MATCH_1}")
    set(kind "${CMAKE_MATCH_2}")
    set(name "${CMAKE_MATCH_3}")
    # "[default] interface X" inside a coclass names an interface; it declares nothing.
    if(NOT attributes MATCHES "uuid\\(")
      continue()
    endif()
    _idl_guid("${attributes}" guid)
    set(help "")
    if(attributes MATCHES "helpstring\\(\"([^\"]*)\"\\)")
      set(help "${CMAKE_MATCH_1}")
    endif()
    if(kind STREQUAL "library")
      if(NOT attributes MATCHES "version\\(([0-9]+\\.[0-9]+)\\)")
        message(FATAL_ERROR "${file}: the library has no version")
      endif()
      set(${prefix}_LIBRARY "${name}" PARENT_SCOPE)
      set(${prefix}_LIBID "${guid}" PARENT_SCOPE)
      set(${prefix}_LIBVERSION "${CMAKE_MATCH_1}" PARENT_SCOPE)
    elseif(kind STREQUAL "coclass")
      # A class published without the creatable mark has nothing to activate.
      if(attributes MATCHES "(^|[ \t\r\n,])noncreatable([ \t\r\n,]|$)")
        continue()
      endif()
      list(APPEND classes "${name}")
    elseif(attributes MATCHES "(^|[ \t\r\n,])(dual|oleautomation)([ \t\r\n,]|$)")
      list(APPEND interfaces "${name}")
    else()
      continue()
    endif()
    set(${prefix}_${name}_GUID "${guid}" PARENT_SCOPE)
    set(${prefix}_${name}_HELP "${help}" PARENT_SCOPE)
  endforeach()
  set(${prefix}_CLASSES "${classes}" PARENT_SCOPE)
  set(${prefix}_INTERFACES "${interfaces}" PARENT_SCOPE)
endfunction()

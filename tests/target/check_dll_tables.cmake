# cmake -DOBJDUMP=<objdump> -DDLL=<Quorvane.dll> [-DEXPECTED_IMPORTS=<file>]
#       [-DOBJECTS=<object|object|...>] -P check_dll_tables.cmake
#
# The shipped DLL exports exactly getModuleProperties and makeModule, and
# imports from Windows system DLLs only: no libstdc++, libgcc or winpthread
# DLL may be needed at load time. With EXPECTED_IMPORTS, the functions it
# imports are exactly those the file lists ("dll function" per line), so a
# new import is noticed. With OBJECTS, none of the objects the DLL is linked
# from carries a constructor list: the DLL runs no start-up code that would
# call one.
if(NOT OBJDUMP OR NOT DLL)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DDLL=... -P check_dll_tables.cmake")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL}
  OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${status}): ${errors}")
endif()

# Export names: the lines "[n] name" after the name pointer table heading.
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(in_names FALSE)
set(exports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names)
    # "[   0] name", possibly with ordinal details before the name.
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\].*[ \t]([^ \t]+)[ \t]*$")
      list(APPEND exports "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]*$")
      set(in_names FALSE)
    endif()
  endif()
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "getModuleProperties;makeModule")
  message(FATAL_ERROR "exports are [${exports}], expected exactly getModuleProperties and makeModule")
endif()

# No entry without a name either: the address table holds exactly two.
if(NOT dump MATCHES "Export Address Table[ \t]+0*([0-9a-fA-F]+)")
  message(FATAL_ERROR "no export address table in ${DLL}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL "2")
  message(FATAL_ERROR "the export address table holds ${CMAKE_MATCH_1} entries, expected 2")
endif()

# Imported DLLs: every one must be part of Windows itself.
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no import table found in ${DLL}")
endif()
set(system_dlls kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll ws2_32.dll
    ole32.dll shell32.dll gdi32.dll bcrypt.dll ucrtbase.dll)
set(names "")
foreach(entry IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: *" "" name "${entry}")
  string(STRIP "${name}" name)
  list(APPEND names "${name}")
  string(TOLOWER "${name}" lower)
  list(FIND system_dlls "${lower}" known)
  if(known EQUAL -1 AND NOT lower MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a Windows system DLL")
  endif()
endforeach()
message(STATUS "exports: ${exports}; imports: ${names}")

if(EXPECTED_IMPORTS)
  # "DLL Name: x" opens a DLL's list; each entry is "vma hint name".
  set(imported "")
  set(current "")
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: *([^ \t]+)")
      string(TOLOWER "${CMAKE_MATCH_1}" current)
    elseif(current AND line MATCHES "^[ \t]+[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([^ \t]+)[ \t]*$")
      list(APPEND imported "${current} ${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]*$")
      set(current "")
    endif()
  endforeach()
  list(SORT imported)
  file(STRINGS "${EXPECTED_IMPORTS}" expected REGEX "^[^#]")
  list(SORT expected)
  if(NOT imported STREQUAL expected)
    string(REPLACE ";" "\n  " got "${imported}")
    string(REPLACE ";" "\n  " want "${expected}")
    message(FATAL_ERROR "${DLL} imports\n  ${got}\nbut ${EXPECTED_IMPORTS} lists\n  ${want}")
  endif()
  list(LENGTH imported count)
  message(STATUS "imported functions as listed: ${count}")
endif()

if(OBJECTS)
  string(REPLACE "|" ";" objects "${OBJECTS}")
  foreach(object IN LISTS objects)
    execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${OBJDUMP} -h ${object} failed (${status})")
    endif()
    if(sections MATCHES "[ \t]\\.(ctors|init_array|dtors|fini_array)")
      message(FATAL_ERROR "${object} has a constructor or destructor list (.${CMAKE_MATCH_1}): "
                          "a global with a dynamic initialiser, which the DLL would never run")
    endif()
  endforeach()
  list(LENGTH objects count)
  message(STATUS "objects without constructor lists: ${count}")
endif()

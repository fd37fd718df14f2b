# cmake -DOBJDUMP=<objdump> -DDLL=<Quorvane.dll> -P check_dll_tables.cmake
#
# The shipped DLL exports exactly getModuleProperties and makeModule, and
# imports from Windows system DLLs only: the C++ runtime is linked in, so no
# libstdc++, libgcc or winpthread DLL may be needed at load time.
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

# Checks the Windows plug-in module: it imports only DLLs that every Windows
# has, it exports winampGetGeneralPurposePlugin under that exact,
# undecorated name, and it holds no test seam (no AMBERVOX_TEST variable is
# read from the player's environment).
#   cmake -DOBJDUMP=<objdump> -DDLL=<gen_ambervox.dll> -P check_plugin_dll.cmake
# objdump's headings are translated under a Japanese locale: read them in C.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C LANGUAGE=C ${OBJDUMP} -p ${DLL}
                OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

set(system_dlls advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
    oleaut32.dll shell32.dll shlwapi.dll user32.dll ws2_32.dll wsock32.dll)
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${DLL}")
endif()
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" lower)
  list(FIND system_dlls "${lower}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a system DLL")
  endif()
  message(STATUS "imports ${name}")
endforeach()

file(STRINGS ${DLL} seams REGEX "AMBERVOX_TEST")
if(seams)
  message(FATAL_ERROR "${DLL} holds test seams: ${seams}")
endif()

# The names of the export table: the lines after its "[Ordinal/Name
# Pointer] Table" heading, up to the next empty line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\r\n]+" exports "${table}")
if(NOT exports STREQUAL "[   0] winampGetGeneralPurposePlugin")
  message(FATAL_ERROR "expected the one export winampGetGeneralPurposePlugin, found: ${exports}")
endif()

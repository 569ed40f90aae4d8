# Reads the PE header of PROGRAM with OBJDUMP (cmake -P) and fails unless
#   - every DLL it imports is one of Windows' known DLLs, which the loader
#     takes from the system folder only: any other DLL would be looked for in
#     the program's own folder first, where anyone may have put one;
#   - it states Windows 6.1 as the lowest system it runs on, and imports none
#     of the calls newer than Windows 7 that code and toolchains reach for
#     (the program looks those up at run time);
#   - it is marked as made for Remote Desktop sessions;
#   - it carries no debug information.
cmake_minimum_required(VERSION 3.25)
if(NOT OBJDUMP OR NOT PROGRAM)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DPROGRAM=... -P CheckWindowsProgram.cmake")
endif()

# The known DLLs of Windows 7 that later versions keep (HKLM\System\
# CurrentControlSet\Control\Session Manager\KnownDLLs), in lower case.
set(known_dlls
  advapi32.dll clbcatq.dll comdlg32.dll difxapi.dll gdi32.dll imagehlp.dll imm32.dll
  kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll
  rpcrt4.dll sechost.dll setupapi.dll shell32.dll shlwapi.dll user32.dll wldap32.dll
  ws2_32.dll)

# Calls that Windows 7 SP1 lacks (some came with its update KB2533623 only).
set(newer_than_windows_7
  AddDllDirectory CreateFile2 GetDpiForMonitor GetDpiForSystem GetDpiForWindow
  GetSystemMetricsForDpi GetSystemTimePreciseAsFileTime RemoveDllDirectory
  SetDefaultDllDirectories SetProcessDpiAwareness SetProcessDpiAwarenessContext
  SetThreadDescription WaitOnAddress WakeByAddressAll WakeByAddressSingle)

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE header
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
execute_process(COMMAND ${OBJDUMP} -h ${PROGRAM} OUTPUT_VARIABLE sections)

set(problems "")
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${header}")
if(NOT imports)
  list(APPEND problems "no imports found: not a PE program?")
endif()
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST known_dlls)
    list(APPEND problems "imports ${dll}, which is not a known DLL")
  endif()
endforeach()

if(NOT header MATCHES "TERMINAL_SERVICE_AWARE")
  list(APPEND problems "not marked for Remote Desktop sessions (--tsaware)")
endif()

foreach(call IN LISTS newer_than_windows_7)
  if(header MATCHES "[ \t]${call}\n")
    list(APPEND problems "imports ${call}, which Windows 7 lacks")
  endif()
endforeach()

foreach(field IN ITEMS OSystem Subsystem)
  string(REGEX MATCH "Major${field}Version[ \t]+([0-9]+)" _ "${header}")
  set(major "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Minor${field}Version[ \t]+([0-9]+)" _ "${header}")
  set(minor "${CMAKE_MATCH_1}")
  if(NOT "${major}.${minor}" STREQUAL "6.1")
    list(APPEND problems "${field} version is ${major}.${minor}, not 6.1")
  endif()
endforeach()

if(sections MATCHES "\\.debug_")
  list(APPEND problems "carries debug information")
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${PROGRAM}:\n  ${text}")
endif()
list(LENGTH imports count)
message(STATUS "${PROGRAM}: ${count} known DLLs imported, Windows 6.1, stripped")

# What each program that users run on Windows gets (Update.exe,
# Update-sim.exe, gps-update-cli.exe):
#   - the lowest Windows version its imports allow, 6.1 (Windows 7), in its PE
#     header, so that an older system refuses it with a clear message instead
#     of failing on a missing import;
#   - its debug information moved out into <program>.debug beside it, which
#     the program names in a .gnu_debuglink section for debuggers: what users
#     download carries none, and packaging only copies;
#   - the same bytes from every build of the same sources: no link time in
#     its header (--no-insert-timestamp), and the checksum of what it is
#     (pe_checksum.py) rather than 0, so that signing and removing the
#     signature again gives back the very same file;
#   - a test that reads its PE header: known DLLs only, version 6.1, stripped.
find_program(GPS_PYTHON NAMES python3 REQUIRED)
function(gps_windows_program target)
  target_link_options(${target} PRIVATE
    -Wl,--major-os-version,6,--minor-os-version,1
    -Wl,--major-subsystem-version,6,--minor-subsystem-version,1
    -Wl,--no-insert-timestamp)
  set(program $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${program} ${program}.debug
    COMMAND ${CMAKE_STRIP} --strip-all ${program}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${program}.debug ${program}
    COMMAND ${GPS_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/pe_reproducible.py ${program}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
  if(GPS_BUILD_TESTS)
    add_test(NAME ${target}_pe_header
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DPROGRAM=${program}
                     -P ${PROJECT_SOURCE_DIR}/cmake/CheckWindowsProgram.cmake)
  endif()
endfunction()

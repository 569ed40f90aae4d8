# The licence files a zip carries beside the programs (UTF-8 with a byte
# order mark and CRLF line ends, for Notepad on every Windows):
#   LICENSE.txt               this project's licence (LICENSE)
#   THIRD-PARTY-NOTICES.txt   the licences of what the programs carry of
#                             others: the Debian copyright files of the
#                             packages named, as installed on the build
#                             machine, under a heading that says why
# gps_licence_files(DIR INTRO PACKAGE...)
function(gps_licence_files dir intro)
  string(ASCII 239 187 191 bom)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  set(text "${bom}${licence}")
  file(CONFIGURE OUTPUT ${dir}/LICENSE.txt CONTENT "@text@" @ONLY NEWLINE_STYLE CRLF)

  set(text "${bom}${intro}\n")
  foreach(package IN LISTS ARGN)
    set(copyright /usr/share/doc/${package}/copyright)
    if(NOT EXISTS ${copyright})
      message(FATAL_ERROR "${copyright} not found: install the Debian package ${package}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${copyright})
    file(READ ${copyright} notice)
    string(APPEND text "\n\n==== ${package} (Debian's copyright file of the package "
                       "the programs were built with)\n\n${notice}")
  endforeach()
  file(CONFIGURE OUTPUT ${dir}/THIRD-PARTY-NOTICES.txt CONTENT "@text@" @ONLY NEWLINE_STYLE CRLF)
endfunction()

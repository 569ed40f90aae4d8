# Installs the build tree into a scratch prefix and checks that the desktop
# program, its entry, icon and udev rule land where the desktop and udev
# look, and that the entry names the installed program and icon.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P install_check.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path bin/gps-update
             share/applications/gps-update.desktop
             share/icons/hicolor/256x256/apps/gps-update.png
             lib/udev/rules.d/70-gps-update.rules)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/gps-update.desktop" entry)
foreach(line "Exec=gps-update --in-downloads %f" "Icon=gps-update")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "the desktop entry lacks '${line}'")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")

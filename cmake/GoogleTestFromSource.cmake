# GoogleTest for a cross build: Debian ships it for the host only, so a
# cross build compiles it from Debian's source package (googletest,
# /usr/src/googletest) and offers the same target names as find_package.
set(GPS_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build")
if(NOT EXISTS ${GPS_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${GPS_GTEST_SOURCE_DIR} "
                      "(Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GPS_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Our warning options are for our code; GoogleTest keeps its own.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS "")
# GoogleTest defines GTest::gtest and GTest::gtest_main itself.

# GoogleTest built for the target from Debian's sources (package googletest), for a cross build
# where the installed libraries are for the build machine. Defines GTest::gtest, GTest::gtest_main,
# GTest::gmock and GTest::gmock_main as find_package(GTest) does.
set(TRV4_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
if(NOT EXISTS ${TRV4_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${TRV4_GOOGLETEST_SOURCE} (package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${TRV4_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

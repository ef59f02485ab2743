# GoogleTest for the data file component's tests: the system's package on a native build; when
# cross-compiling, built from the sources Debian installs, for the target system.
if(CMAKE_CROSSCOMPILING)
  set(QUELM_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT TARGET GTest::gtest_main)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    # Windows threads rather than MinGW's pthreads emulation.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(${QUELM_GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest
                     EXCLUDE_FROM_ALL SYSTEM)
    # Its own sources are not held to this project's warnings.
    foreach(library gtest gtest_main gmock gmock_main)
      if(TARGET ${library})
        target_compile_options(${library} PRIVATE -w)
      endif()
    endforeach()
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# Wine runs the cross-built tests: a prefix of its own in the build folder, no messages from
# Wine itself, no window (nothing may wait for a click on a headless machine) and no offer to
# install its .NET and HTML engines.
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(QUELM_WINE_ENVIRONMENT
      "WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix" "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml=")
endif()

# Every test has a CTest TIMEOUT, so that a test that hangs fails instead of stopping the run.
set(QUELM_TEST_TIMEOUT 120)

# quelm_add_gtest(<name> SOURCES <files...> [LIBRARIES <targets...>])
# One GoogleTest program run as a single CTest entry; its cases are not listed at build time,
# so that a cross-built program needs nothing run on the building machine. It carries the
# manifest the command-line tools ship with, so that on Windows it runs under the same code
# page and path rules.
function(quelm_add_gtest name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main ${arg_LIBRARIES})
  quelm_embed_manifest(${name} ${PROJECT_SOURCE_DIR}/resources/quelm-tools.manifest)
  # Started through CMAKE_CROSSCOMPILING_EMULATOR (Wine) when cross-compiling.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${QUELM_TEST_TIMEOUT})
  if(QUELM_WINE_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${QUELM_WINE_ENVIRONMENT}"
                                            ENVIRONMENT_MODIFICATION "DISPLAY=unset:")
  endif()
endfunction()

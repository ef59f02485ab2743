# `make package` (cpack -G DEB): three Debian packages, one per install component:
#   quelm                  the window and the commands (component "programs")
#   libquelm-datafile1     the shared data file library (component "library")
#   libquelm-datafile-dev  its headers, .so link, CMake package and .pc file ("development")
#   python3-quelm          the Python module, when it is built ("python")
# dpkg-shlibdeps works out the system libraries each needs from the binaries themselves.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quelm)
set(CPACK_PACKAGE_VERSION ${QUELM_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Quelm developers")
set(CPACK_PACKAGE_CONTACT "Quelm developers <quelm@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Each package's description below starts with its own summary line. CPackDeb puts the
# project-wide summary in front of it unless that is CPack's own default, so it is set to that.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs library development)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS library)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
# A component's dependency on another becomes "package (= version)".
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs need the library of the package beside them, not installed yet: dpkg-shlibdeps
# reads it in the build folder, and the dependency on its package comes from the components.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/datafile)
# The library package declares what it provides (DEBIAN/shlibs), so that packages built
# against it get their dependency from dpkg-shlibdeps; the other two hold no shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg runs ldconfig once after installing or removing packages that hold shared libraries.
file(WRITE ${PROJECT_BINARY_DIR}/debian-library/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian-library/triggers)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME quelm)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
# Qt loads its X11 and Wayland platform plugins at run time, so dpkg-shlibdeps cannot see them;
# libqt6gui6 only recommends them, and without them the window cannot open.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "builder of numbered data files for time-series bars\n"
    "Quelm File Builder makes numbered data files, each ready to take a chosen\n"
    "number of bars, one per press of its Build button, up to 100 files a run.\n"
    "Closing the window closes every file of the run cleanly. The package also\n"
    "holds the commands quelm-inspect, which checks and describes the data\n"
    "files, quelm-import and quelm-export, which move bars between data\n"
    "files and CSV or JSON Lines, and quelm-chart, which draws a file's bars\n"
    "as a candlestick chart in SVG.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libquelm-datafile1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "library for Quelm's numbered data files of time-series bars\n"
    "The data file library makes Quelm's numbered data files crash-safely,\n"
    "opens and validates them, and appends and reads their bars, one at a\n"
    "time or in bulk. The Quelm programs use it.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquelm-datafile-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "library for Quelm's numbered data files of time-series bars - development\n"
    "The data file library makes Quelm's numbered data files crash-safely,\n"
    "opens and validates them, and appends and reads their bars, one at a\n"
    "time or in bulk. This package holds the C++20 headers, the CMake package\n"
    "QuelmDataFile (target Quelm::datafile) and the pkg-config file\n"
    "quelm-datafile.pc.")
if(TARGET quelm_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_COMPONENT_PYTHON_DEPENDS library)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quelm)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${QUELM_PYTHON_PACKAGE_DEPENDS}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-pandas)
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
      "Python module for Quelm's numbered data files of time-series bars\n"
      "The module quelm opens, makes, reads and fills Quelm's data files from\n"
      "Python through the data file library: bars come as numpy arrays or pandas\n"
      "DataFrames, and are checked before they are appended.")
endif()
foreach(_quelm_component PROGRAMS LIBRARY DEVELOPMENT PYTHON)
  string(JOIN "" CPACK_COMPONENT_${_quelm_component}_DESCRIPTION
         ${CPACK_COMPONENT_${_quelm_component}_DESCRIPTION})
endforeach()

include(CPack)

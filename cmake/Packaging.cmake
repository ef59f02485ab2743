# `make package` (cpack -G DEB): a Debian package of the installed tree. dpkg-shlibdeps works
# out the Qt 6 runtime packages from the binaries themselves.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quelm)
set(CPACK_PACKAGE_VERSION ${QUELM_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Quelm developers")
set(CPACK_PACKAGE_CONTACT "Quelm developers <quelm@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builder of numbered data files for time-series bars")
set(CPACK_PACKAGE_DESCRIPTION
    "Quelm File Builder makes numbered data files, each ready to take a chosen\n"
    "number of bars, one per press of its Build button, up to 100 files a run.\n"
    "Closing the window closes every file of the run cleanly. The package also\n"
    "holds quelm-inspect, which checks and describes the data files.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its X11 and Wayland platform plugins at run time, so dpkg-shlibdeps cannot see them;
# libqt6gui6 only recommends them, and without them the window cannot open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)

# Debian wants a copyright file and, for a native package, a compressed changelog in the
# package's documentation folder, named after the package.
if(UNIX AND NOT APPLE)
  quelm_gzip(${PROJECT_SOURCE_DIR}/resources/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quelm)
endif()

include(CPack)

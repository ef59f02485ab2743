# Installs the data file library for other programs: the shared library (component "library"),
# and its public headers under include/quelm, the CMake package QuelmDataFile and the
# pkg-config file quelm-datafile.pc (component "development").
include(CMakePackageConfigHelpers)

set(_quelm_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QuelmDataFile)
set(_quelm_lib_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0)

install(TARGETS quelm_datafile EXPORT QuelmDataFileTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The public headers are the folder datafile/include/quelm as it stands, plus the generated
# export header.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/datafile/include/quelm
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/datafile/include/quelm/datafile_export.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quelm COMPONENT development)

install(EXPORT QuelmDataFileTargets NAMESPACE Quelm:: DESTINATION ${_quelm_cmake_dir}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QuelmDataFileConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QuelmDataFileConfig.cmake
                              INSTALL_DESTINATION ${_quelm_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuelmDataFileConfigVersion.cmake
                                 VERSION ${_quelm_lib_version} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuelmDataFileConfig.cmake
              ${PROJECT_BINARY_DIR}/QuelmDataFileConfigVersion.cmake
        DESTINATION ${_quelm_cmake_dir} COMPONENT development)

# The .pc file names the prefix it is installed under, which is known only when installing
# (cpack installs under /usr what was configured for /usr/local), so it is written then.
install(CODE "
  set(QUELM_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(QUELM_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(QUELM_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(QUELM_PC_VERSION \"${_quelm_lib_version}\")
  set(_quelm_pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quelm-datafile.pc\")
  message(STATUS \"Installing: \${_quelm_pc}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/quelm-datafile.pc.in\" \"\${_quelm_pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_quelm_pc}\")
  " COMPONENT development)

# quelm_gzip(<source> <output>): a reproducible gzip copy (no name, no time stamp), remade when
# the source changes.
function(quelm_gzip source output)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

# Debian wants a copyright file and, for a native package, a compressed changelog in each
# package's documentation folder, named after the package.
if(UNIX AND NOT APPLE)
  quelm_gzip(${PROJECT_SOURCE_DIR}/resources/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
  foreach(_quelm_doc quelm:programs libquelm-datafile1:library libquelm-datafile-dev:development)
    string(REPLACE ":" ";" _quelm_doc ${_quelm_doc})
    list(GET _quelm_doc 0 _quelm_package)
    list(GET _quelm_doc 1 _quelm_component)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/copyright ${PROJECT_BINARY_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_quelm_package}
            COMPONENT ${_quelm_component})
  endforeach()
endif()

# Installs the programs and, on free desktops, the desktop entry, the hicolor icons and the
# AppStream metainfo that make Quelm show up in menus and software centres (component
# "programs"; the data file library's own rules are in LibraryInstall.cmake).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)

install(TARGETS quelm quelm-inspect quelm-import quelm-export quelm-chart
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)

if(UNIX AND NOT APPLE)
  set(_quelm_app_id io.github.quelm.Quelm)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/${_quelm_app_id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/${_quelm_app_id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT programs)
  foreach(size 16 32 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/quelm-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${_quelm_app_id}.png COMPONENT programs)
  endforeach()
  foreach(page quelm quelm-inspect quelm-import quelm-export quelm-chart)
    quelm_gzip(${PROJECT_SOURCE_DIR}/resources/man/${page}.1 ${PROJECT_BINARY_DIR}/${page}.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT programs)
  endforeach()
endif()

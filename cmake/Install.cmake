# Installs the two programs and, on free desktops, the desktop entry, the hicolor icons and
# the AppStream metainfo that make Quelm show up in menus and software centres.
include(GNUInstallDirs)

# quelm_gzip(<source> <output>): a reproducible gzip copy (no name, no time stamp), remade when
# the source changes.
function(quelm_gzip source output)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

install(TARGETS quelm quelm-inspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
  set(_quelm_app_id io.github.quelm.Quelm)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/${_quelm_app_id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/${_quelm_app_id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/quelm-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${_quelm_app_id}.png)
  endforeach()
  foreach(page quelm quelm-inspect)
    quelm_gzip(${PROJECT_SOURCE_DIR}/resources/man/${page}.1 ${PROJECT_BINARY_DIR}/${page}.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()

# The commands that move bars between data files and CSV or JSON Lines.
install(TARGETS quelm-import quelm-export RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(UNIX AND NOT APPLE)
  foreach(page quelm-import quelm-export)
    quelm_gzip(${PROJECT_SOURCE_DIR}/resources/man/${page}.1 ${PROJECT_BINARY_DIR}/${page}.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()

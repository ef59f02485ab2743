# Windows: Quelm.exe as a GUI program, with a version resource, the icon as its file icon and
# its application manifest.
if(WIN32)
  set_target_properties(quelm PROPERTIES OUTPUT_NAME Quelm)
  set(QUELM_ICON_FILE ${PROJECT_SOURCE_DIR}/resources/quelm.ico)
  configure_file(${PROJECT_SOURCE_DIR}/resources/quelm.rc.in ${PROJECT_BINARY_DIR}/quelm.rc @ONLY)
  target_sources(quelm PRIVATE ${PROJECT_BINARY_DIR}/quelm.rc)
  quelm_embed_manifest(quelm ${PROJECT_SOURCE_DIR}/resources/quelm.manifest)
endif()

# Windows finds a program's DLLs beside it, and Qt its plugins in folders beside it
# (platforms\qwindows.dll): Qt's DLLs and the plugins the window loads are copied next to the
# programs and tests of the build, and installed next to Quelm.exe. The native-looking style is
# a plugin too; without it Qt falls back to a plain style of its own.
if(WIN32)
  set(_quelm_qt_dlls Qt6::Core Qt6::Gui Qt6::Widgets)
  set(_quelm_qt_plugins platforms=Qt6::QWindowsIntegrationPlugin
                        styles=Qt6::QWindowsVistaStylePlugin)
  set(_quelm_bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(_quelm_copy_commands)
  # The tests load QtTest too, and may run on the offscreen platform where no display is.
  foreach(_quelm_dll ${_quelm_qt_dlls} Qt6::Test)
    list(APPEND _quelm_copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
         $<TARGET_FILE:${_quelm_dll}> ${_quelm_bin})
  endforeach()
  foreach(_quelm_plugin ${_quelm_qt_plugins} platforms=Qt6::QOffscreenIntegrationPlugin)
    string(REPLACE "=" ";" _quelm_plugin ${_quelm_plugin})
    list(GET _quelm_plugin 0 _quelm_folder)
    list(GET _quelm_plugin 1 _quelm_target)
    list(APPEND _quelm_copy_commands
         COMMAND ${CMAKE_COMMAND} -E make_directory ${_quelm_bin}/${_quelm_folder}
         COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${_quelm_target}>
                 ${_quelm_bin}/${_quelm_folder})
  endforeach()
  add_custom_target(quelm_qt_runtime ALL ${_quelm_copy_commands}
                    COMMENT "Copying Qt's DLLs and plugins beside the programs")

  install(IMPORTED_RUNTIME_ARTIFACTS ${_quelm_qt_dlls}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  foreach(_quelm_plugin ${_quelm_qt_plugins})
    string(REPLACE "=" ";" _quelm_plugin ${_quelm_plugin})
    list(GET _quelm_plugin 0 _quelm_folder)
    list(GET _quelm_plugin 1 _quelm_target)
    install(IMPORTED_RUNTIME_ARTIFACTS ${_quelm_target}
            LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}/${_quelm_folder} COMPONENT programs)
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows-readme.txt
                 ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt
          DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/copyright
          DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME COPYRIGHT.txt COMPONENT programs)
  # Qt's libraries come under the GNU LGPL version 3, which builds on the GPL version 3; both
  # texts go with them.
  foreach(_quelm_licence LGPL-3 GPL-3)
    install(FILES /usr/share/common-licenses/${_quelm_licence} DESTINATION ${CMAKE_INSTALL_BINDIR}
            RENAME Qt-LICENSE-${_quelm_licence}.txt COMPONENT programs)
  endforeach()
endif()

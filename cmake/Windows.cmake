# Windows: Quelm.exe as a GUI program, with a version resource, the icon as its file icon and
# its application manifest.
if(WIN32)
  set_target_properties(quelm PROPERTIES OUTPUT_NAME Quelm)
  set(QUELM_ICON_FILE ${PROJECT_SOURCE_DIR}/resources/quelm.ico)
  configure_file(${PROJECT_SOURCE_DIR}/resources/quelm.rc.in ${PROJECT_BINARY_DIR}/quelm.rc @ONLY)
  target_sources(quelm PRIVATE ${PROJECT_BINARY_DIR}/quelm.rc)
  quelm_embed_manifest(quelm ${PROJECT_SOURCE_DIR}/resources/quelm.manifest)
endif()

# quelm_embed_manifest(<target> <manifest>): gives a Windows program its application manifest
# (code page, long paths, DPI). MSVC's linker takes the .manifest file itself; MinGW's windres
# compiles it as resource 1 of type 24 (RT_MANIFEST), where Windows looks for it.
function(quelm_embed_manifest target manifest)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    target_sources(${target} PRIVATE ${manifest})
    return()
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "1 24 \"${manifest}\"\n")
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
endfunction()

# -DQUELM_SANITIZE=ON builds everything with ASan and UBSan; any report aborts the test that caused it.
if(QUELM_SANITIZE)
  set(_quelm_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_quelm_san})
  add_link_options(${_quelm_san})
endif()

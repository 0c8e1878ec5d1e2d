vd_fuzz_target(lzma_roundtrip_fuzz ${CMAKE_CURRENT_LIST_DIR}/lzma_roundtrip_fuzz.cpp
  vd_looks vd_lzma_static)
vd_fuzz_target(lzma_differential_fuzz ${CMAKE_CURRENT_LIST_DIR}/lzma_differential_fuzz.cpp
  vd_looks vd_lzma_static)

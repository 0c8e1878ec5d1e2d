vd_fuzz_target(lookfile_fuzz ${CMAKE_CURRENT_LIST_DIR}/lookfile_fuzz.cpp vd_lookwriter)

vd_fuzz_target(json_fuzz ${CMAKE_CURRENT_LIST_DIR}/json_fuzz.cpp vd_mylooks vd_update)

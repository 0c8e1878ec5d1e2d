vd_fuzz_target(update_fuzz ${CMAKE_CURRENT_LIST_DIR}/update_fuzz.cpp vd_update)

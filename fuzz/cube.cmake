vd_fuzz_target(cube_fuzz ${CMAKE_CURRENT_LIST_DIR}/cube_fuzz.cpp vd_cube)

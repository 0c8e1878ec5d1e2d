# Fails when the committed PTX is not what nvcc makes of the kernel source today.
# cmake -DCOMMAND=<nvcc and options> -DSOURCE=<Grade.cl> -DPTX=<Grade.ptx> -DOUT=<tmp> -P
separate_arguments(command UNIX_COMMAND "${COMMAND}")
execute_process(COMMAND ${command} -o "${OUT}" "${SOURCE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nvcc failed on ${SOURCE}")
endif()
file(READ "${OUT}" fresh)
file(READ "${PTX}" committed)
if(NOT fresh STREQUAL committed)
  message(FATAL_ERROR "${PTX} is stale: rebuild it with `cmake --build <dir> --target vd_gpu_ptx` and commit it")
endif()

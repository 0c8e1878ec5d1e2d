# Writes the kernel source and its PTX as two zero-terminated char arrays into a C++ file.
# cmake -DSOURCE=<Grade.cl> -DPTX=<Grade.ptx> -DOUTPUT=<file.cpp> -P EmbedKernels.cmake
function(vd_bytes_of file out_var count_var)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR count "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # One line per 24 bytes keeps the generated file readable by tools.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
  set(${out_var} "${bytes}" PARENT_SCOPE)
  set(${count_var} "${count}" PARENT_SCOPE)
endfunction()

vd_bytes_of("${SOURCE}" source_bytes source_count)
vd_bytes_of("${PTX}" ptx_bytes ptx_count)
file(WRITE "${OUTPUT}.tmp"
"// Generated from Grade.cl and Grade.ptx by EmbedKernels.cmake; do not edit.
#include \"gpu/DevicePlan.h\"

namespace vd::gpu {

const char kKernelSource[] = {
${source_bytes}
0};
const std::size_t kKernelSourceLength = ${source_count};
const char kKernelPtx[] = {
${ptx_bytes}
0};

}  // namespace vd::gpu
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

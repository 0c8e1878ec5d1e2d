# Installs the build into ROOT (as DESTDIR) and checks what landed there.
file(REMOVE_RECURSE "${ROOT}")
set(ENV{DESTDIR} "${ROOT}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

# Fails unless the file's section table has (or, with NOT, lacks) the named section.
function(expect_section file section)
  set(want TRUE)
  if(ARGV2 STREQUAL "MISSING")
    set(want FALSE)
  endif()
  execute_process(COMMAND "${READELF}" --wide --section-headers "${file}"
                  OUTPUT_VARIABLE sections RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "readelf failed on ${file}")
  endif()
  string(FIND "${sections}" " ${section} " at)
  if(at EQUAL -1)
    set(found FALSE)
  else()
    set(found TRUE)
  endif()
  if(NOT found STREQUAL want)
    message(FATAL_ERROR "${file}: section ${section} expected ${want}, found ${found}")
  endif()
endfunction()

function(expect_stripped binary debug)
  foreach(file "${binary}" "${debug}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "not installed: ${file}")
    endif()
  endforeach()
  expect_section("${binary}" .gnu_debuglink)
  expect_section("${binary}" .debug_info MISSING)
  expect_section("${binary}" .symtab MISSING)
  expect_section("${debug}" .debug_info)
endfunction()

set(bundle "${ROOT}${OFX_DIR}")
set(binary_dir "${BINARY_SUBDIR}")
expect_stripped("${bundle}/${binary_dir}/VandrelHuebench.ofx"
                "${ROOT}${DEBUG_DIR}${OFX_DIR}/${binary_dir}/VandrelHuebench.ofx.debug")
expect_stripped("${ROOT}${BIN_DIR}/huebench" "${ROOT}${BIN_DIR}/.debug/huebench.debug")

# The bundle's folder for binaries holds the plug-in alone; the icon and every look are there.
file(GLOB binaries RELATIVE "${bundle}/${binary_dir}" "${bundle}/${binary_dir}/*")
if(NOT binaries STREQUAL "VandrelHuebench.ofx")
  message(FATAL_ERROR "${bundle}/${binary_dir} holds: ${binaries}")
endif()
file(GLOB looks "${bundle}/Contents/Resources/looks/*.vdlk")
list(LENGTH looks look_count)
if(NOT EXISTS "${bundle}/Contents/Resources/com.vandrel.Looks.png" OR NOT look_count EQUAL 58)
  message(FATAL_ERROR "installed bundle lacks its icon or has ${look_count} looks, not 58")
endif()

# Still exports the entry points after stripping.
execute_process(COMMAND "${READELF}" --wide --dyn-syms "${bundle}/${binary_dir}/VandrelHuebench.ofx"
                OUTPUT_VARIABLE symbols)
if(NOT symbols MATCHES " OfxGetPlugin\n" OR NOT symbols MATCHES " OfxGetNumberOfPlugins\n"
   OR NOT symbols MATCHES " OfxSetHost\n")
  message(FATAL_ERROR "the stripped plug-in no longer exports the OpenFX entry points")
endif()
file(REMOVE_RECURSE "${ROOT}")

# Public and internal headers of the modules under src/.
#
# Each module lists the headers other modules may include. Those appear, as links to the
# sources, under ${VD_PUBLIC_INCLUDE_DIR}/<module>/, which is the only include directory a
# module's library passes on. Every other header of the module is internal: only the
# module's own sources see the whole folder, through ${VD_INTERNAL_INCLUDE_ROOT}/<module>.
# Tests, benchmarks and fuzz targets are white-box and may see every module's internals
# (vd_internal_access); so may a build tool that a module names as its partner.
set(VD_PUBLIC_INCLUDE_DIR "${CMAKE_BINARY_DIR}/include")
set(VD_INTERNAL_INCLUDE_ROOT "${CMAKE_BINARY_DIR}/internal")
# Made afresh at every configure, so a header taken off a public list is gone.
file(REMOVE_RECURSE "${VD_PUBLIC_INCLUDE_DIR}")

# vd_module(<target> PUBLIC_HEADERS <header>...)
# Gives a module's library its include directories: its own folder privately, the public
# headers of every module to itself and to whoever links it.
function(vd_module target)
  cmake_parse_arguments(arg "" "" "PUBLIC_HEADERS" ${ARGN})
  file(RELATIVE_PATH module "${CMAKE_SOURCE_DIR}/src" "${CMAKE_CURRENT_SOURCE_DIR}")
  foreach(header IN LISTS arg_PUBLIC_HEADERS)
    if(NOT EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${header}")
      message(FATAL_ERROR "${target}: public header ${header} is not in src/${module}")
    endif()
    file(MAKE_DIRECTORY "${VD_PUBLIC_INCLUDE_DIR}/${module}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}/${header}"
         "${VD_PUBLIC_INCLUDE_DIR}/${module}/${header}" SYMBOLIC)
  endforeach()
  set(internal "${VD_INTERNAL_INCLUDE_ROOT}/${module}")
  file(MAKE_DIRECTORY "${internal}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${internal}/${module}" SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${VD_PUBLIC_INCLUDE_DIR}")
  else()
    # The module's own folder first, so its sources always reach its headers one way.
    target_include_directories(${target} PRIVATE "${internal}" PUBLIC "${VD_PUBLIC_INCLUDE_DIR}")
  endif()
endfunction()

# vd_internal_access(<target> <module>...)
# Lets a test, benchmark, fuzz target or partner tool include the modules' internal headers.
function(vd_internal_access target)
  foreach(module IN LISTS ARGN)
    target_include_directories(${target} PRIVATE "${VD_INTERNAL_INCLUDE_ROOT}/${module}")
  endforeach()
endfunction()

# Every module, for white-box targets.
set(VD_MODULES platform support grade looks json controls mylooks update gpu ofx)

# Gives every target defined in the given folders (and their subfolders) access to every
# module's internals.
function(vd_white_box dir)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY" AND NOT type STREQUAL "UTILITY")
      vd_internal_access(${target} ${VD_MODULES})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    vd_white_box("${sub}")
  endforeach()
endfunction()

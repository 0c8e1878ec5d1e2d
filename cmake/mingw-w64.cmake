# Cross-builds the 64-bit Windows bundle with Debian's MinGW-w64 (posix thread model):
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64.cmake
# The C and C++ runtimes and winpthread are linked statically, so the plug-in and the
# test programs import only DLLs that come with Windows. Tests run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(vd_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${vd_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${vd_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${vd_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${vd_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()
# ctest runs the Windows programs through wine64 (Debian installs it outside PATH).
find_program(VD_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${VD_WINE}")
endif()

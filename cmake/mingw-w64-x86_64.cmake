# Cross-compiles for 64-bit Windows with Debian's mingw-w64 toolchain
# (packages g++-mingw-w64-x86-64-posix and its gcc counterpart):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The "-posix" compilers are the variant whose C++ library has std::thread
# and std::mutex (on winpthreads); the default "-win32" variant lacks them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VESK_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Target triplet of the mingw-w64 tools")
set(CMAKE_C_COMPILER ${VESK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VESK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VESK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: the C++ runtime and winpthreads are linked in,
# so an .exe runs without the toolchain's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The test executables run under Wine through tools/wine/run-tests.sh (make
# test-windows), which first hides the machine's serial devices from Wine;
# no emulator is set here, so nothing starts Wine without that precaution.

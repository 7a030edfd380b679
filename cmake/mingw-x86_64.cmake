# Cross toolchain for the 64-bit twin of the module: mingw-w64 x86_64, posix threads. The
# twin is shipped nowhere; it lets the Windows-side code run under 64-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The `wine` launcher prefers the 32-bit loader, which cannot start where 32-bit code does
# not run; the 64-bit loader is called directly.
find_program(CIPHREL_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CIPHREL_WINE64 wine64)
if(NOT CIPHREL_WINE64)
    message(FATAL_ERROR "wine64 is missing: run scripts/install-deps.sh as root")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64-run.sh)

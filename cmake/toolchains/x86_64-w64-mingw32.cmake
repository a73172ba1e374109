# Windows x64 with Debian's MinGW-w64 cross compiler (g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-windows \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
#     -DKELDO_TARGET_SYSROOT=<dir>
#
# KELDO_TARGET_SYSROOT is a prefix holding yyjson and GoogleTest built for
# the target (scripts/cross/windows-sysroot makes one); yyjson is found
# through its pkg-config file there. Test programs run under Wine through
# scripts/cross/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELDO_CROSS_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model: GCC 12's std::thread needs it on MinGW.
set(CMAKE_C_COMPILER ${KELDO_CROSS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELDO_CROSS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KELDO_CROSS_TRIPLET}-windres)

set(KELDO_TARGET_SYSROOT "" CACHE PATH "Prefix of the dependencies built for the target")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELDO_TARGET_SYSROOT)

set(CMAKE_FIND_ROOT_PATH ${KELDO_TARGET_SYSROOT} /usr/${KELDO_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(KELDO_TARGET_SYSROOT)
  set(ENV{PKG_CONFIG_LIBDIR} ${KELDO_TARGET_SYSROOT}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()

# The GCC and C++ runtimes linked in: the DLL and the test programs need no
# MinGW DLLs beside them, only the system's (and yyjson's).
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

get_filename_component(KELDO_CROSS_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/../../scripts/cross ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KELDO_CROSS_SCRIPTS}/wine-run --sysroot "${KELDO_TARGET_SYSROOT}")

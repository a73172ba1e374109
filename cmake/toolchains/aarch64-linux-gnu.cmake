# Linux aarch64 with Debian's cross compiler (g++-aarch64-linux-gnu).
#
#   cmake -S . -B build-aarch64 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
#     -DKELDO_TARGET_SYSROOT=<dir>
#
# KELDO_TARGET_SYSROOT is a directory with Debian's arm64 packages of the
# dependencies unpacked into it (scripts/cross/aarch64-sysroot makes one):
# yyjson, OpenSSL and GoogleTest are found there, the C library in the cross
# compiler's own tree. Test programs run under qemu-user through
# scripts/cross/qemu-aarch64-run, which reads KELDO_QEMU_CPU and
# KELDO_QEMU_HIDE_SHA2.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KELDO_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${KELDO_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KELDO_CROSS_TRIPLET}-g++)

set(KELDO_TARGET_SYSROOT "" CACHE PATH "Unpacked arm64 dependency packages")
# try_compile projects see the toolchain file but not the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELDO_TARGET_SYSROOT)

set(CMAKE_FIND_ROOT_PATH ${KELDO_TARGET_SYSROOT} /usr/${KELDO_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's multiarch layout inside the unpacked packages.
set(CMAKE_LIBRARY_ARCHITECTURE ${KELDO_CROSS_TRIPLET})
if(KELDO_TARGET_SYSROOT)
  set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${KELDO_TARGET_SYSROOT}/usr/include/${KELDO_CROSS_TRIPLET})
  set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${KELDO_TARGET_SYSROOT}/usr/include/${KELDO_CROSS_TRIPLET})
  # pkg-config (the yyjson fallback lookup) reads the target's .pc files.
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${KELDO_TARGET_SYSROOT})
  set(ENV{PKG_CONFIG_LIBDIR} ${KELDO_TARGET_SYSROOT}/usr/lib/${KELDO_CROSS_TRIPLET}/pkgconfig)
  # Shared libraries the dependencies need at link time.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${KELDO_TARGET_SYSROOT}/usr/lib/${KELDO_CROSS_TRIPLET}")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${KELDO_TARGET_SYSROOT}/usr/lib/${KELDO_CROSS_TRIPLET}")
endif()

get_filename_component(KELDO_CROSS_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/../../scripts/cross ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KELDO_CROSS_SCRIPTS}/qemu-aarch64-run --sysroot "${KELDO_TARGET_SYSROOT}")

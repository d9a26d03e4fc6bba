# Cross build for 32-bit ARM Linux with hard-float ABI, the platform the
# library is deployed on. Uses Debian's arm-linux-gnueabihf cross compiler
# and its sysroot; programs built here run on the build machine under
# qemu-arm (see CMAKE_CROSSCOMPILING_EMULATOR below).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(VIDAZOHX_CROSS_TRIPLE arm-linux-gnueabihf)
set(VIDAZOHX_CROSS_SYSROOT /usr/${VIDAZOHX_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${VIDAZOHX_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VIDAZOHX_CROSS_TRIPLE}-g++)

# Look for target libraries, headers and CMake packages only in the cross
# sysroot, but run build tools (ninja, pkg-config, ...) from the host.
set(CMAKE_FIND_ROOT_PATH ${VIDAZOHX_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ARM programs (test programs, gtest discovery, the demo) run through user-mode
# QEMU; -L makes the guest's dynamic loader and libraries come from the cross
# sysroot. A preset or the command line may name another emulator.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${VIDAZOHX_CROSS_SYSROOT})
endif()

# GCC notes on every std::vector iterator passed by value that its parameter
# passing changed in GCC 7.1. Everything here, the C++ runtime included, is
# built by one compiler, so the note never applies; it only buries real
# diagnostics.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# A 64-bit time_t, so that deadlines do not overflow in 2038 (the C library
# takes _TIME_BITS=64 only together with 64-bit file offsets). Everything
# built here, tests and stand-ins included, shares the one layout.
string(APPEND CMAKE_C_FLAGS_INIT " -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
string(APPEND CMAKE_CXX_FLAGS_INIT " -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")

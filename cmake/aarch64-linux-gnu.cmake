# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); the built programs and tests run under the user
# mode emulator (qemu-aarch64), which CMake puts before every test command.
# scripts/cross.sh installs both and uses this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(QUARVEL_CROSS_TRIPLET aarch64-linux-gnu)
set(QUARVEL_CROSS_SYSROOT /usr/${QUARVEL_CROSS_TRIPLET})

set(CMAKE_C_COMPILER ${QUARVEL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUARVEL_CROSS_TRIPLET}-g++)

# Libraries and headers come from the cross tree only, never from this
# machine's own; programs (the build tools) come from this machine.
set(CMAKE_FIND_ROOT_PATH ${QUARVEL_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: the emulator finds the dynamic loader and shared libraries of the
# cross tree (the test program links libstdc++ dynamically).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${QUARVEL_CROSS_SYSROOT})

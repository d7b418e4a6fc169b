# The unit tests on the device's architecture: 32-bit big-endian MIPS Linux, built with Debian's
# mips-linux-gnu cross compiler against its glibc (the tool that ships: cmake/mips-uclibc.cmake).
# Test programs run under qemu-mips (Debian's qemu-user) with the cross libc as its root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(MIPS_TRIPLE mips-linux-gnu)
set(MIPS_SYSROOT /usr/${MIPS_TRIPLE} CACHE PATH "Root of the cross libc and headers")
set(CMAKE_C_COMPILER ${MIPS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MIPS_TRIPLE}-g++)
# The device's core is MIPS32 release 1: our code is compiled for it, so that no test relies on
# a release 2 instruction (Debian's glibc and libstdc++ themselves are built for release 2).
set(CMAKE_C_FLAGS_INIT -march=mips32)
set(CMAKE_CXX_FLAGS_INIT -march=mips32)
find_program(CMAKE_STRIP ${MIPS_TRIPLE}-strip)
find_program(CMAKE_READELF ${MIPS_TRIPLE}-readelf)
set(CMAKE_FIND_ROOT_PATH ${MIPS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(QEMU_MIPS qemu-mips)
if(QEMU_MIPS)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_MIPS} -L ${MIPS_SYSROOT})
endif()

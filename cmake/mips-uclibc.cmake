# The device tool as it ships: static, big-endian MIPS32 release 1, against uClibc-ng. The
# first configure of a build folder builds the C library into DIR/uclibc (scripts/uclibc-sysroot,
# a few minutes; later configures find it up to date) and compiles with its wrappers:
#     cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/mips-uclibc.cmake && cmake --build DIR
# The binary needs nothing on the device but the kernel. `cmake --install` strips it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(TARNVEL_UCLIBC ON)
if(NOT TARNVEL_UCLIBC_DIR)
  set(TARNVEL_UCLIBC_DIR ${CMAKE_BINARY_DIR}/uclibc)
endif()
# try_compile projects build in folders of their own: they get the same C library.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNVEL_UCLIBC_DIR)
get_property(tarnvel_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT tarnvel_in_try_compile)
  cmake_path(GET TARNVEL_UCLIBC_DIR PARENT_PATH tarnvel_sysroot_parent)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/uclibc-sysroot ${tarnvel_sysroot_parent}
    RESULT_VARIABLE tarnvel_sysroot_result)
  if(NOT tarnvel_sysroot_result EQUAL 0)
    message(FATAL_ERROR "scripts/uclibc-sysroot failed: ${tarnvel_sysroot_result}")
  endif()
endif()
set(CMAKE_C_COMPILER ${TARNVEL_UCLIBC_DIR}/bin/mips-uclibc-gcc)
set(CMAKE_CXX_COMPILER ${TARNVEL_UCLIBC_DIR}/bin/mips-uclibc-g++)
find_program(CMAKE_STRIP mips-linux-gnu-strip)
find_program(CMAKE_READELF mips-linux-gnu-readelf)
find_program(CMAKE_OBJDUMP mips-linux-gnu-objdump)
set(CMAKE_FIND_ROOT_PATH ${TARNVEL_UCLIBC_DIR}/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The static tool runs under user-mode emulation as the device's core and kernel: a MIPS32
# release 1 core (4Kc) and Linux 2.6.32.
find_program(QEMU_MIPS qemu-mips)
if(QEMU_MIPS)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_MIPS} -cpu 4Kc -r 2.6.32)
endif()

# SPDX-License-Identifier: MIT
# Shared part of the Linux cross toolchains: Debian's cross compiler for
# PELK_CROSS_TRIPLE, its libraries under /usr/<triple>, and programs linked
# statically, so that qemu-user runs them without the target's libraries.
# The toolchain files beside this one set the triple and the emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PELK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PELK_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PELK_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

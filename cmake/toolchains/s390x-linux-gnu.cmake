# SPDX-License-Identifier: MIT
# IBM Z (s390x): the big-endian processor the test suite runs under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(PELK_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

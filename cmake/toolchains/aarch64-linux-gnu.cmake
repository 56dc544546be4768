# SPDX-License-Identifier: MIT
# 64-bit ARM (aarch64), run under qemu-user by the test suite.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PELK_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

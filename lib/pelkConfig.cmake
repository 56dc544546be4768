# SPDX-License-Identifier: MIT
# find_package(pelk): the targets pelk::pelk (libpelk.so) and
# pelk::pelk_static (libpelk.a, which brings the C++ runtime it needs).
include("${CMAKE_CURRENT_LIST_DIR}/pelkTargets.cmake")
set(pelk_LICENSE "MIT")  # SPDX identifier of the library's license

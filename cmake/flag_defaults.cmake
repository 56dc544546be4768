# SPDX-License-Identifier: MIT
# The project's Release flags, read by CMake while it sets up each language
# (CMAKE_USER_MAKE_RULES_OVERRIDE): an *_INIT value only seeds the cache
# entry, so flags a user or a packager passes (-DCMAKE_CXX_FLAGS_RELEASE=...)
# are kept as given. -O2 rather than CMake's -O3: the compressor is no faster
# at -O3 and its code is larger.
if(MSVC)
  set(CMAKE_C_FLAGS_RELEASE_INIT "/O2 /DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELEASE_INIT "/O2 /DNDEBUG")
else()
  set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
  set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
endif()

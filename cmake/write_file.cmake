# SPDX-License-Identifier: MIT
# pelk_write_file(PATH TEXT): writes TEXT to PATH as it stands (no variable
# substitution, unlike file(CONFIGURE)), and only when PATH holds something
# else, so what depends on PATH is not redone at every configure.
function(pelk_write_file path text)
  set(old_text "")
  if(EXISTS "${path}")
    file(READ "${path}" old_text)
  endif()
  if(NOT old_text STREQUAL text)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()

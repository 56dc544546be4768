// SPDX-License-Identifier: MIT
// What the Windows units share beyond file_system.h: UTF-8 paths made into
// the form the wide calls take, and Windows error codes as errno values, so
// that messages read as on POSIX ("No such file or directory"). Windows
// builds only.
#pragma once

#include <string>

namespace pelk {

// The full path of a UTF-8 path, with the \\?\ prefix (\\?\UNC\ for a
// share) that lifts the 260-character limit. Made full by
// GetFullPathNameW first, so ".", "..", "/" and the trailing dots and
// spaces Windows drops mean what they mean to any program; device names
// (NUL, CON) come back as \\.\NUL and stay devices. Empty when the path is
// not UTF-8, which no call takes.
std::wstring system_path(const std::string& path);

// The errno value nearest to a GetLastError() code; EIO when none is.
int errno_from_windows(unsigned long error);

}  // namespace pelk

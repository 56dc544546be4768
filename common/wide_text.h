// SPDX-License-Identifier: MIT
// Names between UTF-8, in which Pelk keeps every path and stores names in
// containers, and UTF-16, in which Windows takes them.
//
// A Windows name is any sequence of 16-bit units, and may hold a surrogate
// without its partner. Such a unit is written as the three bytes UTF-8
// would give its code point (the "WTF-8" extension of UTF-8), so every name
// Windows can hold comes back exactly; every valid UTF-16 name gives plain
// UTF-8. Compiled everywhere, used by the Windows build.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelk {

#ifdef _WIN32
using utf16_unit = wchar_t;
static_assert(sizeof(wchar_t) == 2);
#else
using utf16_unit = char16_t;
#endif
using utf16_string = std::basic_string<utf16_unit>;

std::string utf8_from_utf16(std::basic_string_view<utf16_unit> text);

// Nothing when text is not UTF-8 (surrogate code points allowed): a byte
// that starts no sequence, a sequence cut short, an overlong form or a code
// point past U+10FFFF.
std::optional<utf16_string> utf16_from_utf8(std::string_view text);

}  // namespace pelk

// SPDX-License-Identifier: MIT
// Escaping for printing: see printable_text.h.
//
// A name is shown as UTF-8 text only where it is valid UTF-8 and harmless
// to a terminal. Escaped, byte by byte as \xNN: the C0 and C1 control
// characters, whether as raw bytes or as UTF-8 (C1 codes such as CSI, 0x9B,
// start escape sequences on terminals that read 8-bit codes), DEL, the
// bidirectional controls (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069, which can make a name display as another), every byte
// that is not part of a valid UTF-8 sequence, and the backslash itself
// (except on Windows, below), so that the escaped form reads back
// unambiguously.
#include "common/printable_text.h"

#include <cstdint>
#include <cstdio>

namespace pelk {
namespace {

// The length of the valid UTF-8 sequence starting at text[at], with its
// code point; 0 when the byte there does not start one. Overlong forms,
// surrogates and code points past U+10FFFF are not valid.
size_t utf8_sequence(std::string_view text, size_t at, uint32_t& code_point) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // below: overlong
    if (lead == 0xED) high = 0x9F;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // below: overlong
    if (lead == 0xF4) high = 0x8F;  // above: past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    code_point = code_point << 6 | (next & 0x3Fu);
  }
  return length;
}

bool is_bidirectional_control(uint32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// On Windows the backslash separates a path's components and no file name
// holds one, so it is shown as itself there: escaped, every path given on
// the command line would read "C:\x5Cdir\x5Cfile".
#ifdef _WIN32
constexpr bool backslash_escaped = false;
#else
constexpr bool backslash_escaped = true;
#endif

bool shown_escaped(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c == '\\' && backslash_escaped) || is_bidirectional_control(c);
}

void append_escaped(std::string& text, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{byte});
  text += escaped;
}

}  // namespace

std::string printable(std::string_view bytes) {
  std::string text;
  size_t at = 0;
  while (at < bytes.size()) {
    uint32_t code_point = 0;
    const size_t length = utf8_sequence(bytes, at, code_point);
    if (length == 0) {
      append_escaped(text, static_cast<unsigned char>(bytes[at++]));
    } else if (shown_escaped(code_point)) {
      for (size_t i = 0; i < length; ++i) append_escaped(text, static_cast<unsigned char>(bytes[at + i]));
      at += length;
    } else {
      text.append(bytes, at, length);
      at += length;
    }
  }
  return text;
}

}  // namespace pelk

// SPDX-License-Identifier: MIT
// UTF-8 and UTF-16: see wide_text.h.
#include "common/wide_text.h"

#include <cstdint>

namespace pelk {

std::string utf8_from_utf16(std::basic_string_view<utf16_unit> text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    // A lead surrogate followed by a trail is one character; alone, either
    // is written as its own code point.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const uint32_t next = static_cast<uint16_t>(text[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::optional<utf16_string> utf16_from_utf8(std::string_view text) {
  utf16_string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length;
    uint32_t c;
    uint32_t least;  // below this the sequence is overlong
    if (lead < 0x80) {
      length = 1, c = lead, least = 0;
    } else if (lead >= 0xC0 && lead < 0xE0) {
      length = 2, c = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3, c = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
      length = 4, c = lead & 0x07u, least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (text.size() - i < length) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (next & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF) return std::nullopt;
    if (c >= 0x10000) {
      out += static_cast<utf16_unit>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<utf16_unit>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<utf16_unit>(c);
    }
    i += length;
  }
  return out;
}

}  // namespace pelk

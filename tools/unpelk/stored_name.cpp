// Stored-name checks: see stored_name.h.
//
// Refused: the empty name, "." and "..", any path separator of the systems
// the compressor runs on ("/", "\" and ":", the same three its name cutting
// removes, so a genuine name never holds one), control characters (which
// could rewrite a terminal or a log line), and names too long to create.
// Everything else, including bytes that are not UTF-8, is a plain file name.
//
// Printing is stricter than creating: a name is shown as UTF-8 text only
// where it is valid UTF-8 and harmless to a terminal. Escaped, byte by byte
// as \xNN: the C0 and C1 control characters, whether as raw bytes or as
// UTF-8 (C1 codes such as CSI, 0x9B, start escape sequences on terminals
// that read 8-bit codes), DEL, the bidirectional controls (U+061C, U+200E,
// U+200F, U+202A-U+202E, U+2066-U+2069, which can make a name display as
// another), every byte that is not part of a valid UTF-8 sequence, and the
// backslash itself, so that the escaped form reads back unambiguously.
#include "tools/unpelk/stored_name.h"

#include <cstdio>

#include "common/wide_text.h"

namespace pelk {
namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

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

bool shown_escaped(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == '\\' || is_bidirectional_control(c);
}

void append_escaped(std::string& text, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{byte});
  text += escaped;
}

}  // namespace

const char* unsafe_name_reason(std::string_view name, uint64_t full_length, uint64_t name_max) {
  if (full_length == 0) return "the stored name is empty";
  if (full_length > name_max) return "the stored name is too long for the file system";
  if (name == "." || name == "..") return "the stored name is a directory reference";
  for (const char c : name) {
    if (c == '/' || c == '\\' || c == ':') return "the stored name contains a path separator";
    if (is_control(static_cast<unsigned char>(c))) return "the stored name contains a control character";
  }
  return nullptr;
}

const char* windows_name_reason(std::string_view name) {
  if (!utf16_from_utf8(name)) return "the stored name is not UTF-8, so Windows has no name for it";
  if (name.find_first_of("<>\"|?*") != std::string_view::npos) {
    return "the stored name contains a character Windows does not allow in names";
  }
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    return "the stored name ends in a dot or a space, which Windows drops";
  }
  // Windows judges the part before the first dot, trailing spaces removed.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper(stem);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const bool numbered = upper.size() >= 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0);
  const std::string_view number = numbered ? std::string_view(upper).substr(3) : std::string_view();
  const bool device = upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
                      upper == "CONOUT$" ||
                      (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
                      number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";  // superscript 1, 2, 3
  return device ? "the stored name is a Windows device name" : nullptr;
}

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

void report(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "%s: %s: %s\n", program_in_messages, printable(file).c_str(), reason.c_str());
}

}  // namespace pelk

// Stored-name checks: see stored_name.h.
//
// Refused: the empty name, "." and "..", any path separator of the systems
// the compressor runs on ("/", "\" and ":", the same three its name cutting
// removes, so a genuine name never holds one), control characters (which
// could rewrite a terminal or a log line), and names too long to create.
// Everything else, including bytes that are not UTF-8, is a plain file name.
#include "tools/unpelk/stored_name.h"

#include <cstdio>

namespace pelk {
namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

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

std::string printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (is_control(byte) || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{byte});
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace pelk

// SPDX-License-Identifier: MIT
// Stored-name checks: see stored_name.h.
//
// Refused: the empty name, "." and "..", any path separator of the systems
// the compressor runs on ("/", "\" and ":", the same three its name cutting
// removes, so a genuine name never holds one), control characters (which
// could rewrite a terminal or a log line), and names too long to create.
// Everything else, including bytes that are not UTF-8, is a plain file name.
//
// Printing is stricter than creating (common/printable_text.h): a name
// created as it stands may still be shown escaped.
#include "tools/unpelk/stored_name.h"

#include <cstdio>

#include "common/wide_text.h"

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

void report(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "%s: %s: %s\n", program_in_messages, printable(file).c_str(), reason.c_str());
}

}  // namespace pelk

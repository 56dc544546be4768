// SPDX-License-Identifier: MIT
// Names between UTF-8 and UTF-16, as the Windows build converts every path
// and stored name: the bytes are typed in here from the UTF-8 and UTF-16
// definitions, not computed by the code under test.
#include <gtest/gtest.h>

#include "common/wide_text.h"

namespace pelk::test {
namespace {

// Each pair both ways: ASCII, two- and three-byte forms, a character beyond
// U+FFFF (a surrogate pair), and lone surrogates, which Windows names may
// hold and which must come back as they were.
TEST(WideText, RoundTripsEveryWindowsName) {
  const struct { std::u16string wide; std::string utf8; } cases[] = {
      {u"report.txt", "report.txt"},
      {u"za\u017c\u00f3\u0142\u0107", "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87"},
      {u"\u65e5\u672c", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string{u'a', char16_t(0xD800), u'b'}, "a\xED\xA0\x80" "b"},
      {std::u16string{char16_t(0xDC00), char16_t(0xD83D)}, "\xED\xB0\x80\xED\xA0\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_from_utf16(c.wide), c.utf8);
    EXPECT_EQ(utf16_from_utf8(c.utf8), c.wide);
  }
}

// Bytes that name no UTF-16 name: the Windows unpelk refuses such a stored
// name instead of guessing its encoding.
TEST(WideText, RefusesWhatIsNotUtf8) {
  for (const std::string bad : {"\xE9t\xE9", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xF4\x90\x80\x80", "\x80", "\xFF"}) {
    EXPECT_FALSE(utf16_from_utf8(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace pelk::test

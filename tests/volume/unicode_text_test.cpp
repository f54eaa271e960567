// UTF-16 and UTF-8 at the Windows boundary: what converts, and what must be
// flagged instead of quietly naming another file.
#include <gtest/gtest.h>

#include "volume/unicode_text.h"

namespace shardix {
namespace {

const std::string kName = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x98\x83 \xF0\x9F\x93\x81.bin";
const std::u16string kWide = u"\u00DCn\u00EFc\u00F8d\u00E9 \u65E5\u672C\u8A9E \u2603 \U0001F4C1.bin";

TEST(UnicodeText, NamesOfEveryPlaneConvertBothWays) {
  bool valid = true;
  EXPECT_EQ(Utf16FromUtf8(kName, &valid), kWide);
  EXPECT_EQ(Utf8FromUtf16(kWide, &valid), kName);
  EXPECT_TRUE(valid);
}

TEST(UnicodeText, UnpairedSurrogatesAreReplacedAndFlagged) {
  for (const std::u16string& text : {std::u16string(u"a") + char16_t(0xD800) + u"b.bin",
                                     std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800),
                                     std::u16string(1, char16_t(0xDBFF))}) {
    bool valid = true;
    const std::string converted = Utf8FromUtf16(text, &valid);
    EXPECT_FALSE(valid);
    EXPECT_NE(converted.find(kReplacementCharacter), std::string::npos);
    // Nothing of the surrogate itself (ED A0 80 and the like) gets through.
    EXPECT_EQ(converted.find('\xED'), std::string::npos);
  }
}

TEST(UnicodeText, MalformedUtf8IsReplacedAndFlagged) {
  for (const std::string& text : {std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                  std::string("\xF4\x90\x80\x80"), std::string("ab\xE6\x97"),
                                  std::string("\x80z")}) {
    bool valid = true;
    const std::u16string converted = Utf16FromUtf8(text, &valid);
    EXPECT_FALSE(valid) << text;
    EXPECT_NE(converted.find(u'\uFFFD'), std::u16string::npos) << text;
    // A forbidden form never decodes to the character it spells ('/', a surrogate).
    EXPECT_EQ(converted.find(u'/'), std::u16string::npos);
  }
}

}  // namespace
}  // namespace shardix

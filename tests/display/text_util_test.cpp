#include "display/text_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace shardix {
namespace {

std::string Trimmed(std::string text) {
  std::string buffer = text;
  char* result = TrimWhitespace(buffer.data());
  EXPECT_EQ(result, buffer.data()) << "trimmed in place";
  return std::string(result);
}

TEST(TrimWhitespace, CutsBothEndsAndKeepsInnerSpaces) {
  EXPECT_EQ(Trimmed("  C:\\My Files\\a b.bin  "), "C:\\My Files\\a b.bin");
  EXPECT_EQ(Trimmed("\t\n\v\f\rx y\r\f\v\n\t"), "x y");
  EXPECT_EQ(Trimmed("plain"), "plain");
  EXPECT_EQ(Trimmed("x"), "x");
  EXPECT_EQ(Trimmed(" x"), "x");
}

TEST(TrimWhitespace, WhitespaceOnlyBecomesEmpty) {
  EXPECT_EQ(Trimmed("   "), "");
  EXPECT_EQ(Trimmed(" \t\r\n"), "");
}

TEST(TrimWhitespace, NullAndEmptyStayAsTheyAre) {
  EXPECT_EQ(TrimWhitespace(nullptr), nullptr);
  char empty[1] = "";
  EXPECT_EQ(TrimWhitespace(empty), empty);
  EXPECT_STREQ(empty, "");
}

TEST(TrimWhitespace, HighBytesAreNotWhitespace) {
  // 0xA0 (no-break space in many code pages) and 0x85 are text, whatever the
  // locale says.
  EXPECT_EQ(Trimmed("\xA0 name \x85"), "\xA0 name \x85");
  EXPECT_EQ(Trimmed(" \xA0 "), "\xA0");
}

TEST(FormatStatusError, PrefixesTheText) {
  char buffer[kTextBufferSize];
  EXPECT_STREQ(FormatStatusError(buffer, sizeof buffer, "File is not on an NTFS volume."),
               "Error: File is not on an NTFS volume.");
  EXPECT_STREQ(FormatStatusError(buffer, sizeof buffer, ""), "Error: ");
  EXPECT_STREQ(FormatStatusError(buffer, sizeof buffer, nullptr), "Error: ");
  // A percent sign in the text is text, not a format.
  EXPECT_STREQ(FormatStatusError(buffer, sizeof buffer, "100% %s %n"), "Error: 100% %s %n");
}

TEST(FormatStatusError, OverlongTextIsCutAtTheBufferEnd) {
  // A guard zone after the 512-byte buffer must stay untouched.
  constexpr char kGuard = '\x5A';
  char memory[kTextBufferSize + 64];
  std::memset(memory, kGuard, sizeof memory);
  const std::string text(3000, 'm');

  FormatStatusError(memory, kTextBufferSize, text.c_str());

  EXPECT_EQ(std::strlen(memory), kTextBufferSize - 1);
  EXPECT_EQ(std::string(memory, 7), "Error: ");
  EXPECT_EQ(memory[kTextBufferSize - 2], 'm');
  for (std::size_t i = kTextBufferSize; i < sizeof memory; ++i) {
    ASSERT_EQ(memory[i], kGuard) << "written past the buffer at " << i;
  }
}

}  // namespace
}  // namespace shardix

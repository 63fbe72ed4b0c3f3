// Clean-up of raw command lines: UTF-8 repair by maximal subparts, and trimming.
#include "bridge/control/line_text.h"

#include <gtest/gtest.h>

namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

TEST(LineText, ValidTextPassesUnchanged) {
  for (const char* text : {"", "plain", "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
                           "\xEF\xBF\xBD"}) {
    EXPECT_EQ(repairUtf8(text), text);
  }
}

TEST(LineText, EachMaximalIllFormedSubsequenceBecomesOneReplacement) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"a\x80z", "a" + R + "z"},                         // stray continuation
      {"\xC0\xAF", R + R},                               // C0 never starts a sequence
      {"\xE0\x80\x80", R + R + R},                       // overlong: E0 needs A0..BF
      {"\xED\xA0\x80", R + R + R},                       // surrogate: ED needs 80..9F
      {"\xF0\x80\x80\x80", R + R + R + R},               // overlong: F0 needs 90..BF
      {"\xF4\x90\x80\x80", R + R + R + R},               // past U+10FFFF
      {"\xF5\xBF", R + R},                               // F5 never starts a sequence
      {"\xE2\x82", R},                                   // truncated at the end
      {"\xE2\x82z", R + "z"},                            // truncated before ASCII
      {"\xF1\x80\x80\xE1\x80\xC2", R + R + R},           // three truncated sequences
      {"\xF0\x9F\x98" "\xF0\x9F\x98\x80", R + "\xF0\x9F\x98\x80"},
      {"\xFF\xFE", R + R},
  };
  for (const Case& c : cases) EXPECT_EQ(repairUtf8(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(LineText, TrimsTabsAndSpaceSeparatorsButNotLineBreaksOrOtherFormatCharacters) {
  EXPECT_EQ(trimHorizontalSpace(" \t{}\t "), "{}");
  // U+00A0, U+1680, U+2000, U+200A, U+202F, U+205F, U+3000
  EXPECT_EQ(trimHorizontalSpace("\xC2\xA0\xE1\x9A\x80\xE2\x80\x80{}\xE2\x80\x8A\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80"),
            "{}");
  // Kept: CR, LF, U+200B (not a space separator), U+2028, U+0085, U+FEFF.
  for (const char* kept : {"\r{}", "{}\n", "\xE2\x80\x8B{}", "{}\xE2\x80\xA8", "\xC2\x85{}", "\xEF\xBB\xBF{}"}) {
    EXPECT_EQ(trimHorizontalSpace(kept), kept);
  }
  EXPECT_EQ(trimHorizontalSpace("a b"), "a b");  // inner space stays
  EXPECT_EQ(trimHorizontalSpace(" \xC2\xA0\t"), "");
}

TEST(LineText, RepairComesBeforeTrimming) {
  // A lone A0 byte is not U+00A0: it becomes U+FFFD and stays.
  EXPECT_EQ(cleanCommandLine("\xA0{} "), R + "{}");
}

}  // namespace

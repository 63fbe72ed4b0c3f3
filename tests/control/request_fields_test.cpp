// The typed-field table: what each kind accepts and what counts as missing.
#include "bridge/control/request_fields.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

// Parses {"v": <text>} so that numbers keep the form the text gives them.
json field(const char* text) { return json::parse(std::string("{\"v\":") + text + "}"); }

TEST(RequestFields, StringAcceptsOnlyStrings) {
  EXPECT_EQ(stringField(field("\"abc\""), "v"), "abc");
  EXPECT_EQ(stringField(field("\"\""), "v"), "");
  for (const char* other : {"12", "true", "null", "[\"a\"]", "{}"}) EXPECT_FALSE(stringField(field(other), "v")) << other;
  EXPECT_FALSE(stringField(field("\"abc\""), "V"));  // keys are exact
}

TEST(RequestFields, IntegerAcceptsWholeNumbersInSigned64BitRange) {
  EXPECT_EQ(integerField(field("5"), "v"), 5);
  EXPECT_EQ(integerField(field("5.0"), "v"), 5);
  EXPECT_EQ(integerField(field("-5e0"), "v"), -5);
  EXPECT_EQ(integerField(field("9223372036854775807"), "v"), INT64_MAX);
  EXPECT_EQ(integerField(field("-9223372036854775808"), "v"), INT64_MIN);
  for (const char* missing : {"5.5", "\"5\"", "true", "false", "null", "9223372036854775808", "18446744073709551616",
                              "1e300", "-1e300", "[5]"}) {
    EXPECT_FALSE(integerField(field(missing), "v")) << missing;
  }
}

TEST(RequestFields, UnsignedAcceptsWholeNumbersFromZeroTo2Pow64Minus1) {
  EXPECT_EQ(unsignedField(field("0"), "v"), 0u);
  EXPECT_EQ(unsignedField(field("5.0"), "v"), 5u);
  EXPECT_EQ(unsignedField(field("18446744073709551615"), "v"), UINT64_MAX);
  for (const char* missing : {"-1", "-0.5", "0.5", "\"5\"", "true", "18446744073709551616", "1e20"}) {
    EXPECT_FALSE(unsignedField(field(missing), "v")) << missing;
  }
}

TEST(RequestFields, NumberAcceptsWhatADoubleHoldsExactly) {
  EXPECT_EQ(numberField(field("0.25"), "v"), 0.25);
  EXPECT_EQ(numberField(field("-3"), "v"), -3.0);
  EXPECT_EQ(numberField(field("9007199254740992"), "v"), 9007199254740992.0);
  EXPECT_EQ(numberField(field("18446744073709549568"), "v"), 18446744073709549568.0);  // 2^64 - 2^11
  for (const char* missing : {"9007199254740993", "-9007199254740993", "18446744073709551615", "9223372036854775807",
                              "\"0.5\"", "true", "null"}) {
    EXPECT_FALSE(numberField(field(missing), "v")) << missing;
  }
}

TEST(RequestFields, BooleanAcceptsTrueFalseOneAndZero) {
  EXPECT_EQ(booleanField(field("true"), "v"), true);
  EXPECT_EQ(booleanField(field("false"), "v"), false);
  EXPECT_EQ(booleanField(field("1"), "v"), true);
  EXPECT_EQ(booleanField(field("0"), "v"), false);
  for (const char* missing : {"2", "-1", "0.5", "\"true\"", "null"}) EXPECT_FALSE(booleanField(field(missing), "v")) << missing;
}

TEST(RequestFields, IntegerInRangeRefusesValuesOutsideTheBounds) {
  EXPECT_EQ(integerFieldInRange(field("65535"), "v", 0, 65535), 65535);
  EXPECT_FALSE(integerFieldInRange(field("65536"), "v", 0, 65535));
  EXPECT_FALSE(integerFieldInRange(field("-1"), "v", 0, 65535));
  EXPECT_FALSE(integerFieldInRange(field("1.5"), "v", 0, 65535));
}

TEST(RequestFields, WholeNumberOfAnySizeIsToldFromOtherKinds) {
  for (const char* whole : {"0", "-5", "7.0", "9223372036854775808", "18446744073709551615", "1e30", "-1e19"}) {
    EXPECT_TRUE(hasWholeNumber(field(whole), "v")) << whole;
  }
  for (const char* other : {"1.5", "\"5\"", "true", "null", "[1]"}) EXPECT_FALSE(hasWholeNumber(field(other), "v")) << other;
  EXPECT_FALSE(hasWholeNumber(nlohmann::json::object(), "v"));
}

}  // namespace

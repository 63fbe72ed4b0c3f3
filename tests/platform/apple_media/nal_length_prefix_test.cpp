#include "bridge/platform/apple_media/nal_length_prefix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;
using platform::vtimpl::widenNalLengthPrefixes;

Bytes widen(const Bytes& data, int prefixBytes) {
  Bytes out;
  EXPECT_TRUE(widenNalLengthPrefixes(data.data(), data.size(), prefixBytes, out));
  return out;
}

TEST(NalLengthPrefix, NarrowLengthsBecomeFourByteBigEndianLengths) {
  // Two units (3 bytes, then 1 byte) behind 1-byte lengths.
  EXPECT_EQ(widen({3, 0x65, 0xAA, 0xBB, 1, 0x41}, 1), (Bytes{0, 0, 0, 3, 0x65, 0xAA, 0xBB, 0, 0, 0, 1, 0x41}));
  // A 258-byte unit behind a 2-byte length keeps all of its bytes.
  Bytes twoByte{0x01, 0x02};
  for (int i = 0; i < 258; ++i) twoByte.push_back(static_cast<uint8_t>(i));
  const Bytes widened = widen(twoByte, 2);
  ASSERT_EQ(widened.size(), 262u);
  EXPECT_EQ(Bytes(widened.begin(), widened.begin() + 4), (Bytes{0, 0, 1, 2}));
  EXPECT_TRUE(std::equal(widened.begin() + 4, widened.end(), twoByte.begin() + 2));
  // Four-byte lengths come out as they went in.
  EXPECT_EQ(widen({0, 0, 0, 2, 0x67, 0x42}, 4), (Bytes{0, 0, 0, 2, 0x67, 0x42}));
}

TEST(NalLengthPrefix, AUnitRunningPastTheEndStopsTheWalkAndShortTailsAreDropped) {
  // The second unit claims 5 bytes where 2 remain: only the first is kept.
  EXPECT_EQ(widen({0, 1, 0x09, 0, 5, 0x01, 0x02}, 2), (Bytes{0, 0, 0, 1, 0x09}));
  // One byte after the last whole unit is too few for a 2-byte length.
  EXPECT_EQ(widen({0, 1, 0x09, 0x00}, 2), (Bytes{0, 0, 0, 1, 0x09}));
  EXPECT_EQ(widen({}, 1), Bytes{});

  Bytes out{0xEE};
  EXPECT_FALSE(widenNalLengthPrefixes(Bytes{1, 2}.data(), 2, 3, out));
  EXPECT_FALSE(widenNalLengthPrefixes(Bytes{1, 2}.data(), 2, 0, out));
  EXPECT_EQ(out, Bytes{0xEE});
}

}  // namespace

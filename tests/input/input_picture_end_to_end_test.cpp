// Input through the real bridge and the virtual simulator, seen in the decoded stream:
// touches draw a disc, keys change the text line, the remote moves the TV's focus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "bridge/platform/virtual_simulator/drawing/picture.h"
#include "tests/input/input_end_to_end_fixture.h"
#include "tests/support/decoded_stream.h"

namespace input_test {
namespace {

using testing_support::DecodedFrame;
using testing_support::DecodedStream;
using testing_support::Rgb;
namespace vsim = platform::virtual_sim;

bool isMagenta(const Rgb& c) { return c.r > 180 && c.g < 100 && c.b > 180; }

// A small square at a position given as fractions of the picture.
Rgb colourAt(const DecodedFrame& frame, double fx, double fy) {
  const int x = static_cast<int>(fx * frame.width);
  const int y = static_cast<int>(fy * frame.height);
  return frame.averageRgb(x - 4, y - 4, 8, 8);
}

// A rectangle of the device's display, scaled to the decoded picture.
vsim::Rect scaled(const vsim::Rect& r, const DecodedFrame& frame, int deviceWidth, int deviceHeight) {
  const double sx = static_cast<double>(frame.width) / deviceWidth;
  const double sy = static_cast<double>(frame.height) / deviceHeight;
  return {static_cast<int>(r.x * sx), static_cast<int>(r.y * sy), std::max(1, static_cast<int>(r.width * sx)),
          std::max(1, static_cast<int>(r.height * sy))};
}

// Mean absolute luma difference of two pictures inside a rectangle.
double lumaDifference(const DecodedFrame& a, const DecodedFrame& b, const vsim::Rect& r) {
  double sum = 0;
  long count = 0;
  for (int y = r.y; y < r.bottom() && y < a.height && y < b.height; ++y) {
    for (int x = r.x; x < r.right() && x < a.width && x < b.width; ++x) {
      sum += std::abs(int{a.y[static_cast<size_t>(y) * a.width + x]} - int{b.y[static_cast<size_t>(y) * b.width + x]});
      ++count;
    }
  }
  return count == 0 ? 0 : sum / count;
}

// Whether the TV's focus ring is drawn around `tile`: its top edge is near white.
bool ringAround(const DecodedFrame& frame, int tile) {
  const vsim::TVLayout layout = vsim::tvLayout(kTVWidth, kTVHeight);
  vsim::Rect ring = focusRing(layout, tile);
  ring.height = layout.ringWidth;
  const vsim::Rect edge = scaled(ring, frame, kTVWidth, kTVHeight);
  const Rgb c = frame.averageRgb(edge.x, edge.y, edge.width, edge.height);
  return c.r > 220 && c.g > 220 && c.b > 220;
}


TEST_P(InputEndToEnd, TouchDownShowsAMagentaDiscWhereItLandsAndUpRemovesIt) {
  DecodedStream stream(startCapture(kVirtualPhone));
  ASSERT_TRUE(stream.connected());
  std::optional<DecodedFrame> before = stream.nextFrame();
  ASSERT_TRUE(before.has_value());
  EXPECT_FALSE(isMagenta(colourAt(*before, 0.25, 0.75)));

  stream.watch([](const DecodedFrame& f) { return isMagenta(colourAt(f, 0.25, 0.75)); });
  EXPECT_EQ(touch(kVirtualPhone, 0.25, 0.75, 0), ok_);
  std::optional<DecodedStream::Match> down = stream.waitForMatch();
  ASSERT_TRUE(down.has_value()) << "no disc at (0.25, 0.75)";
  EXPECT_FALSE(isMagenta(colourAt(down->frame, 0.75, 0.25)));
  EXPECT_FALSE(isMagenta(colourAt(down->frame, 0.25, 0.25)));

  stream.watch([](const DecodedFrame& f) { return !isMagenta(colourAt(f, 0.25, 0.75)); });
  EXPECT_EQ(touch(kVirtualPhone, 0.25, 0.75, 2), ok_);
  EXPECT_TRUE(stream.waitForMatch().has_value())
      << "the disc stayed after UP (" << stream.framesDecoded() << " pictures decoded)";
  EXPECT_EQ(stream.decodeErrors(), 0);
}

TEST_P(InputEndToEnd, TypedLettersChangeTheTextLine) {
  DecodedStream stream(startCapture(kVirtualPhone));
  ASSERT_TRUE(stream.connected());
  std::optional<DecodedFrame> before = stream.nextFrame();
  ASSERT_TRUE(before.has_value());
  const vsim::Rect textBox = scaled(vsim::homeLayout(kPhoneWidth, kPhoneHeight).textBox, *before, kPhoneWidth,
                                    kPhoneHeight);

  stream.watch([&](const DecodedFrame& f) { return lumaDifference(f, *before, textBox) > 2.0; });
  for (int keyCode : {4, 34}) {  // "h", "i"
    for (bool isDown : {true, false}) {
      EXPECT_EQ(ask({{"cmd", "keyboard"},
                     {"udid", kVirtualPhone},
                     {"keyCode", keyCode},
                     {"modifierFlags", 0},
                     {"isDown", isDown}}),
                ok_);
    }
  }
  EXPECT_TRUE(stream.waitForMatch().has_value()) << "the text line did not change";
}

TEST_P(InputEndToEnd, RightOnTheTVMovesTheFocus) {
  DecodedStream stream(startCapture(kVirtualTV));
  ASSERT_TRUE(stream.connected());
  stream.watch([](const DecodedFrame& f) { return ringAround(f, 0); });
  ASSERT_TRUE(stream.waitForMatch().has_value()) << "no focus on the first tile";

  stream.watch([](const DecodedFrame& f) { return ringAround(f, 1) && !ringAround(f, 0); });
  EXPECT_EQ(ask({{"cmd", "button"}, {"udid", kVirtualTV}, {"button", "right"}}), ok_);
  EXPECT_TRUE(stream.waitForMatch().has_value()) << "the focus did not move right";
}

INSTANTIATE_TEST_SUITE_P(Bridges, InputEndToEnd, testing::ValuesIn(testing_support::bridgeBinaries()),
                         testing_support::ParamName());

}  // namespace
}  // namespace input_test

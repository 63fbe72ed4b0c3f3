#include "bridge/control/button_names.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kButtonNames = {"up",     "down", "left",      "right",
                                               "select", "menu", "playpause", "home"};

TEST(ButtonNames, KeyTableMapsEveryNameToItsKeyWithoutModifiers) {
  const std::vector<uint16_t> codes = {126, 125, 123, 124, 36, 53, 49, 115};
  for (size_t i = 0; i < kButtonNames.size(); ++i) {
    SCOPED_TRACE(kButtonNames[i]);
    auto key = buttonToKey(kButtonNames[i]);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(*key, (KeyMapping{codes[i], 0}));
  }
}

TEST(ButtonNames, RemoteTableMapsEveryNameToItsConsumerUsage) {
  // "home" is the Power usage, not one of the menu usages.
  const std::vector<uint32_t> usages = {0x42, 0x43, 0x44, 0x45, 0x41, 0x40, 0xCD, 0x30};
  for (size_t i = 0; i < kButtonNames.size(); ++i) {
    SCOPED_TRACE(kButtonNames[i]);
    EXPECT_EQ(remoteButtonToUsage(kButtonNames[i]), usages[i]);
  }
}

TEST(ButtonNames, NamesAreMatchedExactly) {
  const std::vector<std::string> names = {"ios_home", "",       "Home", "HOME",
                                          " home",    "home ",  "home\n", "play",
                                          std::string("home\0", 5)};
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(buttonToKey(name).has_value());
    EXPECT_FALSE(remoteButtonToUsage(name).has_value());
  }
}

}  // namespace

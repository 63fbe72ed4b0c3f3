// The virtual simulator's images, classes, catalog, I/O ports and device faults.
#include <cstdlib>
#include <cstring>

#include "bridge/platform/virtual_simulator/device/indigo_message.h"
#include "tests/support/virtual_simulator_test_support.h"

namespace virtual_sim_test {
namespace {

TEST(VirtualSimulatorImages, ClassesAndSymbolsAppearOnlyWithTheirImages) {
  platform::resetVirtualSimulatorForTesting();
  for (const char* name : {"SimServiceContext", "SimDeviceIOClient", "SimulatorKit.SimDeviceLegacyHIDClient"})
    EXPECT_EQ(sim().classNamed(name), nullptr) << name;

  EXPECT_EQ(sim().openImage("/usr/lib/libc.so.6", 10), nullptr);
  EXPECT_EQ(sim().openImage("/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulatorX", 10), nullptr);
  EXPECT_EQ(sim().openImage("/x/SimulatorKit.framework/SimulatorKit.dylib", 10), nullptr);

  // SimulatorKit first: only its class appears, and only under its namespaced name.
  void* simKit = sim().openImage("/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit", 10);
  ASSERT_NE(simKit, nullptr);
  EXPECT_EQ(sim().openImage(kSimulatorKitPath, 10), simKit);
  EXPECT_NE(sim().classNamed("SimulatorKit.SimDeviceLegacyHIDClient"), nullptr);
  EXPECT_EQ(sim().classNamed("SimDeviceLegacyHIDClient"), nullptr);
  EXPECT_EQ(sim().classNamed("SimServiceContext"), nullptr);
  EXPECT_EQ(sim().classNamed("SimDeviceIOClient"), nullptr);
  for (const char* symbol : {platform::kIndigoMouseMessageSymbol, platform::kIndigoKeyboardMessageSymbol,
                             platform::kIndigoButtonMessageSymbol, platform::kIndigoArbitraryMessageSymbol})
    EXPECT_NE(sim().lookupSymbol(simKit, symbol), nullptr) << symbol;
  EXPECT_EQ(sim().lookupSymbol(simKit, "IndigoHIDMessageForScrollEvent"), nullptr);
  EXPECT_EQ(sim().lookupSymbol(nullptr, platform::kIndigoMouseMessageSymbol), nullptr);

  void* coreSim = sim().openImage(kCoreSimulatorPath, 10);
  ASSERT_NE(coreSim, nullptr);
  EXPECT_NE(coreSim, simKit);
  EXPECT_EQ(sim().lookupSymbol(coreSim, platform::kIndigoMouseMessageSymbol), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<platform::SimServiceContextClass>(sim().classNamed("SimServiceContext")), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<platform::SimIOClientClass>(sim().classNamed("SimDeviceIOClient")), nullptr);
  EXPECT_EQ(sim().classNamed("SimDevice"), nullptr);
  platform::resetVirtualSimulatorForTesting();
}

using VirtualSimulatorCatalog = VirtualSimulatorTest;

TEST_F(VirtualSimulatorCatalog, ListsTheEightDevicesInOrderWithTheirFamilies) {
  struct Expected {
    const char* udid;
    const char* name;
    int32_t family;
  };
  const Expected expected[] = {
      {kPhone, "Virtual Phone", 1},          {kTablet, "Virtual Tablet", 2},
      {kTV, "Virtual TV", 3},                {kDualPanel, "Virtual Dual-Panel Phone", 1},
      {kSlowBoot, "Virtual Slow-Boot Phone", 1}, {kHeadless, "Virtual Headless Device", 1},
      {kStaleInput, "Virtual Stale-Input Phone", 1}, {kAnimated, "Virtual Animated Phone", 1},
  };
  auto list = devices();
  ASSERT_EQ(list.size(), 8u);
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i]->udidString(), expected[i].udid);
    EXPECT_NE(list[i]->description().find(expected[i].name), std::string::npos) << list[i]->description();
    if (std::string(expected[i].udid) == kHeadless) continue;
    auto type = list[i]->deviceType();
    ASSERT_NE(type, nullptr);
    EXPECT_TRUE(type->respondsToProductFamilyID());
    EXPECT_EQ(type->productFamilyID(), expected[i].family) << expected[i].name;
  }
  // Every developer directory and every lookup gives the same device objects.
  auto cls = std::dynamic_pointer_cast<platform::SimServiceContextClass>(sim().classNamed("SimServiceContext"));
  auto other = cls->sharedServiceContextForDeveloperDir("")->defaultDeviceSet()->devices();
  ASSERT_TRUE(other.has_value());
  EXPECT_EQ((*other)[3], list[3]);
}

TEST_F(VirtualSimulatorCatalog, HardwareKeyboardEnablesEverywhereButOnTheHeadlessDevice) {
  for (const auto& d : devices()) {
    if (d->udidString() == kHeadless) continue;
    ASSERT_TRUE(d->respondsToSetHardwareKeyboardEnabled());
    platform::SimErrorRef error = std::make_shared<platform::SimError>();
    EXPECT_TRUE(d->setHardwareKeyboardEnabled(true, 0, &error));
    EXPECT_EQ(error, nullptr);
  }
  auto headless = device(kHeadless);
  EXPECT_FALSE(headless->respondsToSetHardwareKeyboardEnabled());
  EXPECT_THROW(headless->setHardwareKeyboardEnabled(true, 0, nullptr), platform::SimException);
  EXPECT_THROW(headless->deviceType(), platform::SimException);
}

TEST_F(VirtualSimulatorCatalog, IOClientsOfferDisplayPortsBesideOthers) {
  auto phone = openIO(kPhone);
  ASSERT_NE(phone, nullptr);
  auto ports = phone->ioPorts();
  ASSERT_GE(ports.size(), 2u);
  size_t others = 0;
  for (const auto& port : ports)
    if (port->portIdentifier() != platform::kFramebufferDisplayPortIdentifier) ++others;
  EXPECT_GE(others, 1u);
  auto phoneDisplays = displays(phone);
  ASSERT_EQ(phoneDisplays.size(), 1u);
  auto properties = phoneDisplays[0]->screenProperties();
  ASSERT_TRUE(properties.has_value());
  EXPECT_EQ(properties->uiOrientation, 1u);
  EXPECT_EQ(properties->screenID, 0u);
  auto surface = phoneDisplays[0]->framebufferSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->width(), 1179u);
  EXPECT_EQ(surface->height(), 2556u);

  auto dual = displays(openIO(kDualPanel));
  ASSERT_EQ(dual.size(), 2u);
  EXPECT_EQ(dual[1]->screenProperties()->screenID, 1u);
  EXPECT_NE(dual[0]->framebufferSurface(), dual[1]->framebufferSurface());

  EXPECT_EQ(displays(openIO(kTV))[0]->framebufferSurface()->width(), 1920u);
  EXPECT_EQ(displays(openIO(kTablet))[0]->framebufferSurface()->height(), 2360u);

  auto headless = openIO(kHeadless);
  ASSERT_NE(headless, nullptr);
  EXPECT_EQ(headless->ioPorts().size(), 2u);
  EXPECT_TRUE(displays(headless).empty());

  // Devices of other platforms get no client.
  auto cls = std::dynamic_pointer_cast<platform::SimIOClientClass>(sim().classNamed("SimDeviceIOClient"));
  EXPECT_EQ(cls->initWithDevice(nullptr, platform::GlobalQueue::shared(), [](platform::SimErrorRef) {}), nullptr);
}

TEST_F(VirtualSimulatorCatalog, IndigoMessagesCarryTheirArgumentsIn192Bytes) {
  using platform::virtual_sim::decodeIndigoMessage;
  const double position[2] = {0.25, 0.75};
  void* touch = symbol<platform::IndigoMouseMessageFn>(platform::kIndigoMouseMessageSymbol)(position, nullptr, 50, 6, 0, 1, 1, 1, 1);
  auto decoded = decodeIndigoMessage(touch);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->kind, 1u);
  EXPECT_EQ(decoded->target, 50u);
  EXPECT_EQ(decoded->op, 0u);
  EXPECT_EQ(decoded->eventType, 6);
  EXPECT_EQ(decoded->x, 0.25);
  EXPECT_EQ(decoded->y, 0.75);
  std::free(touch);

  auto keyFn = symbol<platform::IndigoKeyboardMessageFn>(platform::kIndigoKeyboardMessageSymbol);
  auto up = sim().keyEvent(11, 0, 0, 1u << 17, 12.5, 0, nullptr, "", "", false, 0x24);
  void* key = keyFn(up.get());
  decoded = decodeIndigoMessage(key);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->code, 0x24u);
  EXPECT_EQ(decoded->op, 2u);
  EXPECT_EQ(decoded->modifierFlags, 1u << 17);
  std::free(key);
  EXPECT_EQ(keyFn(nullptr), nullptr);
  auto notAKey = sim().keyEvent(1, 0, 0, 0, 0, 0, nullptr, "", "", false, 0);
  EXPECT_EQ(keyFn(notAKey.get()), nullptr);

  void* usage = symbol<platform::IndigoArbitraryMessageFn>(platform::kIndigoArbitraryMessageSymbol)(21, 0x0C, 0x42, 2);
  decoded = decodeIndigoMessage(usage);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->target, 21u);
  EXPECT_EQ(decoded->page, 0x0Cu);
  EXPECT_EQ(decoded->code, 0x42u);
  EXPECT_EQ(decoded->op, 2u);
  // The whole message is defined: the reserved bytes are zero.
  EXPECT_EQ(static_cast<const uint8_t*>(usage)[platform::kIndigoMessageSize - 1], 0);
  std::free(usage);

  char garbage[platform::kIndigoMessageSize] = {};
  EXPECT_FALSE(decodeIndigoMessage(garbage).has_value());
}

}  // namespace
}  // namespace virtual_sim_test

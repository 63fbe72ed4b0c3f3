// VirtualDevice: what input does to the device's state.
#include <algorithm>

#include "bridge/platform/virtual_simulator/device/input_effects.h"
#include "bridge/platform/virtual_simulator/device/virtual_device.h"

namespace platform::virtual_sim {
namespace {

constexpr auto kBannerTime = std::chrono::seconds(1);
constexpr auto kFlashTime = std::chrono::milliseconds(300);
constexpr size_t kLongestText = 256;  // the text line keeps its last characters

}  // namespace

void VirtualDevice::apply(const IndigoMessage& message) {
  const SteadyTime now = currentClock()->now();
  {
    std::lock_guard<std::mutex> model(modelLock_);
    applyLocked(message, now);
  }
  renderDue();
}

void VirtualDevice::applyLocked(const IndigoMessage& message, SteadyTime now) {
  InputState& s = input_;
  auto showBanner = [&](std::string name) {
    s.banner = std::move(name);
    s.bannerUntil = now + kBannerTime;
  };
  const bool press = message.op != kIndigoOpRelease;

  switch (static_cast<IndigoKind>(message.kind)) {
    case IndigoKind::Pointer: {
      const double x = std::clamp(message.x, 0.0, 1.0);
      const double y = std::clamp(message.y, 0.0, 1.0);
      if (message.op == kIndigoOpPress) {
        s.touching = true;
      } else if (message.op == kIndigoOpRelease) {
        s.touching = false;
      }
      // A drag moves the finger only while it is down.
      if (s.touching) s.touchX = x, s.touchY = y;
      break;
    }
    case IndigoKind::Keyboard: {
      if (!press) break;
      const uint16_t keyCode = static_cast<uint16_t>(message.code);
      const KeyEffect effect = keyEffect(keyCode, message.modifierFlags);
      if (entry_.behaviour == Behaviour::TVGrid || effect.kind == KeyEffect::Kind::Other) {
        showBanner(keyName(keyCode));
      } else if (effect.kind == KeyEffect::Kind::Insert) {
        s.text.push_back(effect.character);
        if (s.text.size() > kLongestText) s.text.erase(0, s.text.size() - kLongestText);
      } else if (effect.kind == KeyEffect::Kind::Delete) {
        if (!s.text.empty()) s.text.pop_back();
      } else {
        s.sent = std::move(s.text);
        s.text.clear();
      }
      break;
    }
    case IndigoKind::Button:
      if (press) showBanner(buttonName(message.code));
      break;
    case IndigoKind::HIDUsage: {
      if (!press) break;
      showBanner(usageName(message.page, message.code));
      if (entry_.behaviour != Behaviour::TVGrid || message.page != kConsumerPage) break;
      int row = s.focus / kTVColumns;
      int col = s.focus % kTVColumns;
      switch (message.code) {
        case kUsageMenuUp: row = std::max(0, row - 1); break;
        case kUsageMenuDown: row = std::min(kTVRows - 1, row + 1); break;
        case kUsageMenuLeft: col = std::max(0, col - 1); break;
        case kUsageMenuRight: col = std::min(kTVColumns - 1, col + 1); break;
        case kUsageMenu:
        case kUsagePower: row = 0, col = 0; break;
        case kUsageMenuPick: s.flashUntil = now + kFlashTime; break;
        case kUsagePlayPause:
          if (s.playing) {
            s.progressAtStart = progressAt(s, now);
            s.playing = false;
          } else {
            s.playStartedAt = now;
            s.playing = true;
          }
          break;
        default: break;
      }
      s.focus = row * kTVColumns + col;
      break;
    }
  }
}

}  // namespace platform::virtual_sim

// VirtualDevice: identity, displays, I/O lifecycle and the render thread.
#include "bridge/platform/virtual_simulator/device/virtual_device.h"

#include <algorithm>
#include <thread>

namespace platform::virtual_sim {
namespace {

// The longest a render thread sleeps, so that a replaced clock is noticed.
constexpr auto kLongestSleep = std::chrono::seconds(1);
constexpr auto kSlowBootNoSurface = std::chrono::milliseconds(1500);
constexpr auto kSlowBootNotReady = std::chrono::milliseconds(2000);

class VirtualDeviceType final : public SimDeviceType {
 public:
  explicit VirtualDeviceType(int32_t family) : family_(family) {}
  bool respondsToProductFamilyID() const override { return true; }
  int32_t productFamilyID() override { return family_; }

 private:
  const int32_t family_;
};

}  // namespace

struct VirtualDevice::RenderToken {
  std::mutex lock;
  std::condition_variable wake;
  bool stop = false;  // guarded by lock
};

VirtualDevice::VirtualDevice(const CatalogEntry& entry) : entry_(entry) {
  for (int i = 0; i < entry.displayCount; ++i)
    panels_.push_back(std::make_unique<PanelRenderer>(entry.displayWidth, entry.displayHeight));
}

VirtualDevice::~VirtualDevice() = default;

std::shared_ptr<SimDeviceType> VirtualDevice::deviceType() {
  if (entry_.behaviour == Behaviour::Headless) throw SimException("device type unavailable");
  return std::make_shared<VirtualDeviceType>(entry_.productFamily);
}

bool VirtualDevice::respondsToSetHardwareKeyboardEnabled() const { return entry_.behaviour != Behaviour::Headless; }

bool VirtualDevice::setHardwareKeyboardEnabled(bool enabled, uint32_t, SimErrorRef* error) {
  if (!respondsToSetHardwareKeyboardEnabled())
    throw SimException("-[SimDevice setHardwareKeyboardEnabled:keyboardType:error:]: unrecognized selector sent to instance");
  hardwareKeyboard_.store(enabled, std::memory_order_relaxed);
  if (error != nullptr) *error = nullptr;
  return true;
}

std::string VirtualDevice::description() const {
  return std::string(entry_.name) + " (" + entry_.udid + ") (Booted)";
}

std::optional<SteadyTime> VirtualDevice::timelineStart() const {
  int64_t ns = timelineStartNs_.load(std::memory_order_acquire);
  if (ns == kNotStarted) return std::nullopt;
  return SteadyTime(std::chrono::nanoseconds(ns));
}

SurfaceRef VirtualDevice::framebufferSurface(int index) {
  if (index < 0 || index >= displayCount()) return nullptr;
  if (entry_.behaviour == Behaviour::SlowBoot) {
    std::optional<SteadyTime> start = timelineStart();
    if (!start) return nullptr;
    const auto elapsed = currentClock()->now() - *start;
    if (elapsed < kSlowBootNoSurface) return nullptr;
    if (elapsed < kSlowBootNotReady) throw SimException("display not ready");
  }
  return panels_[index]->surface();
}

bool VirtualDevice::registerHIDClient() {
  const int earlier = hidClientsMade_.fetch_add(1, std::memory_order_relaxed);
  return earlier == 0 && entry_.behaviour == Behaviour::StaleInput;
}

void VirtualDevice::openIO() {
  std::lock_guard<std::mutex> life(lifecycleLock_);
  if (ioOpen_++ > 0) return;
  if (timelineStartNs_.load(std::memory_order_acquire) == kNotStarted) {
    const auto now = currentClock()->now().time_since_epoch();
    timelineStartNs_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), std::memory_order_release);
  }
  if (panels_.empty()) return;  // nothing to draw
  rendering_.store(true, std::memory_order_release);
  renderDue();  // the first picture is there before the client is handed out
  renderToken_ = std::make_shared<RenderToken>();
  std::thread(renderLoop, shared_from_this(), renderToken_).detach();
}

void VirtualDevice::closeIO() {
  std::lock_guard<std::mutex> life(lifecycleLock_);
  if (ioOpen_ == 0 || --ioOpen_ > 0) return;
  // Before the render thread is told to stop, so that it finds the device closed and
  // gives the displays' memory back on its way out.
  rendering_.store(false, std::memory_order_release);
  if (renderToken_) {
    {
      std::lock_guard<std::mutex> hold(renderToken_->lock);
      renderToken_->stop = true;
    }
    renderToken_->wake.notify_all();
    renderToken_.reset();
  }
  // The thread may still be finishing a draw; it exits on its own. From here on no
  // draw starts until the next open.
}

void VirtualDevice::renderLoop(std::shared_ptr<VirtualDevice> device, std::shared_ptr<RenderToken> token) {
  for (;;) {
    const SteadyTime next = device->renderDue();
    auto wait = next - currentClock()->now();
    wait = std::clamp<std::chrono::steady_clock::duration>(wait, std::chrono::steady_clock::duration::zero(), kLongestSleep);
    std::unique_lock<std::mutex> hold(token->lock);
    if (token->wake.wait_for(hold, wait, [&] { return token->stop; })) break;
  }
  device->releaseDisplaysIfClosed();
}

void VirtualDevice::releaseDisplaysIfClosed() {
  std::lock_guard<std::mutex> draw(drawLock_);
  // Opened again meanwhile: the new render thread goes on with the pictures drawn.
  if (rendering_.load(std::memory_order_acquire)) return;
  for (const auto& panel : panels_) panel->release();
}

SteadyTime VirtualDevice::renderDue() {
  std::lock_guard<std::mutex> draw(drawLock_);
  const auto clock = currentClock();
  const SteadyTime now = clock->now();
  if (!rendering_.load(std::memory_order_acquire)) return now + kLongestSleep;
  const WallTime wall = clock->wallNow();
  InputState input;
  {
    std::lock_guard<std::mutex> model(modelLock_);
    input = input_;
  }
  for (int i = 0; i < displayCount(); ++i) {
    std::optional<Picture> picture = pictureFor(i, input, now, wall);
    PanelRenderer& panel = *panels_[i];
    if (picture) {
      panel.draw(*picture);
    } else if (!panel.drawn() || panel.drawn()->mode == PanelMode::Black) {
      // A frozen panel keeps its last lit picture; one that never had one gets the
      // picture it would have frozen on, once.
      std::optional<Picture> lit = pictureFor(0, input, now, wall);
      if (lit) {
        lit->touching = false;
        lit->banner.clear();
        panel.draw(*lit);
      }
    }
  }
  return nextChange(input, now, wall);
}

int VirtualDevice::tvFocusForTesting() {
  std::lock_guard<std::mutex> model(modelLock_);
  return input_.focus;
}

}  // namespace platform::virtual_sim

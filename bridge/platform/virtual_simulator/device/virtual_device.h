// One virtual device of the catalog: its SimDevice face, its displays, its input state
// and its rendering.
//
// Rendering: while at least one I/O client of the device is open (openIO .. closeIO),
// a render thread of the device's own keeps its displays current: it draws what the
// device's timeline and animations make due, then sleeps until the next change (an
// idle phone wakes once a second for its clock). Input is drawn by the thread that
// applies it, before apply returns. When the last I/O client closes, the render thread
// gives the displays' pixel memory back on its way out (a device nobody captures costs
// none); the next open draws the whole picture again.
//
// Locks, always taken in this order, none held while calling out of the device:
//   lifecycleLock_  the I/O open count and the render thread's token
//   drawLock_       drawing (the panels' renderers)
//   modelLock_      the input state
//   (each surface's own lock, taken by the renderers)
// A draw waits for the readers of the surface it redraws. So a thread that holds a
// surface's read-only lock must not, before unlocking, send input to its device or
// open the device's first I/O client; releasing I/O objects is always safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/platform/simulator_platform.h"
#include "bridge/platform/virtual_simulator/device/catalog.h"
#include "bridge/platform/virtual_simulator/device/indigo_message.h"
#include "bridge/platform/virtual_simulator/device/panel_renderer.h"
#include "bridge/platform/virtual_simulator/device/virtual_clock.h"

namespace platform::virtual_sim {

class VirtualDevice final : public SimDevice, public std::enable_shared_from_this<VirtualDevice> {
 public:
  explicit VirtualDevice(const CatalogEntry& entry);
  ~VirtualDevice() override;

  // SimDevice; any thread.
  std::optional<std::string> udidString() override { return std::string(entry_.udid); }
  // The Headless Device raises.
  std::shared_ptr<SimDeviceType> deviceType() override;
  // Every device but the Headless Device, which raises when sent it anyway.
  bool respondsToSetHardwareKeyboardEnabled() const override;
  bool setHardwareKeyboardEnabled(bool enabled, uint32_t keyboardType, SimErrorRef* error) override;
  std::string description() const override;

  const CatalogEntry& entry() const { return entry_; }
  int displayCount() const { return static_cast<int>(panels_.size()); }

  // What display `index` answers to framebufferSurface now: the Slow-Boot Phone has
  // no surface for 1.5 s after its first I/O client and raises "display not ready"
  // until 2.0 s. Null for an index out of range. Any thread; never blocks.
  SurfaceRef framebufferSurface(int index);

  // An I/O client of the device was made / its last object is gone. The first open
  // starts the device's timeline. Opening draws the first picture before it returns
  // (tens of milliseconds); closing does not wait, and once it returns nothing is
  // started until the next open (one already under way finishes). Any thread.
  void openIO();
  void closeIO();

  // Counts a HID client made for the device; true when it is the stale one (the
  // Stale-Input Phone's first in the process). Any thread.
  bool registerHIDClient();

  // Applies one input message in order and draws its effect before returning. Any thread.
  void apply(const IndigoMessage& message);

  // Draws whatever is due at the clock's current time; returns when the next change
  // is due. Does nothing while the device is not rendering. Any thread; blocks while
  // a reader holds a surface being redrawn.
  SteadyTime renderDue();

  // The state of the TV's remote-driven screen, for tests.
  int tvFocusForTesting();

 private:
  struct InputState {
    bool touching = false;
    double touchX = 0;  // fractions of the screen
    double touchY = 0;
    std::string text;
    std::string sent;
    std::string banner;
    SteadyTime bannerUntil{};
    int focus = 0;
    SteadyTime flashUntil{};
    bool playing = false;
    SteadyTime playStartedAt{};
    int progressAtStart = 0;  // per mille
  };
  struct RenderToken;  // one per render thread: its stop flag and wake-up

  // The picture of display `panel` at `now`; nothing when the panel is frozen.
  std::optional<Picture> pictureFor(int panel, const InputState& input, SteadyTime now, WallTime wall) const;
  SteadyTime nextChange(const InputState& input, SteadyTime now, WallTime wall) const;
  std::optional<SteadyTime> timelineStart() const;
  // The TV progress bar's position (per mille) at `now`.
  static int progressAt(const InputState& input, SteadyTime now);
  void applyLocked(const IndigoMessage& message, SteadyTime now);  // modelLock_ held
  static void renderLoop(std::shared_ptr<VirtualDevice> device, std::shared_ptr<RenderToken> token);
  // Releases every panel's pixels unless the device has been opened again. Render
  // thread, as it ends; takes drawLock_ and waits for the surfaces' readers.
  void releaseDisplaysIfClosed();

  const CatalogEntry& entry_;
  std::vector<std::unique_ptr<PanelRenderer>> panels_;  // fixed at construction; contents guarded by drawLock_

  std::mutex lifecycleLock_;
  int ioOpen_ = 0;                            // guarded by lifecycleLock_
  std::shared_ptr<RenderToken> renderToken_;  // guarded by lifecycleLock_; null: no render thread

  std::mutex drawLock_;  // serialises drawing: the panels' renderers are used under it
  // Whether draws may happen: set by the first open, cleared by the last close.
  // Atomic (release store / acquire load), so that closing never waits for a draw.
  std::atomic<bool> rendering_{false};

  std::mutex modelLock_;
  InputState input_;  // guarded by modelLock_

  // Clock time (ns since the steady epoch) of the first I/O client; kNotStarted
  // before. Atomic: release store (once, under lifecycleLock_) / acquire load.
  static constexpr int64_t kNotStarted = INT64_MIN;
  std::atomic<int64_t> timelineStartNs_{kNotStarted};
  std::atomic<int> hidClientsMade_{0};
  std::atomic<bool> hardwareKeyboard_{false};
};

}  // namespace platform::virtual_sim

// The virtual SimulatorKit HID client ("SimulatorKit.SimDeviceLegacyHIDClient").
//
// sendWithMessage decodes the Indigo message (indigo_message.h), frees it when told to,
// applies it to the device and draws its effect on the calling thread, then runs the
// completion on the given queue: with no error, or with the error of a stale client
// (the Stale-Input Phone's first client in the process: every send fails with
// "stale mach port" and nothing reaches the device), or with "invalid Indigo message"
// for a block that is not a message. Sends are applied in the order they are made.
//
// Callable from any thread; a send never waits for its completion.
#pragma once

#include "bridge/platform/simulator_platform.h"

namespace platform::virtual_sim {

class VirtualHIDClientClass final : public SimHIDClientClass {
 public:
  std::string name() const override { return "SimulatorKit.SimDeviceLegacyHIDClient"; }
  std::shared_ptr<SimHIDClientAllocation> alloc() override;
};

// The error of every send through a stale client.
SimErrorRef staleMachPortError();

}  // namespace platform::virtual_sim

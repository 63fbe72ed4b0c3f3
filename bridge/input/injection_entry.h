// The steps every injection entry takes around its send function, and the seam for the
// message buffers the send functions allocate.
//
// An entry: loads its Indigo message function; replaces a client marked invalid (touch
// refuses some events instead); makes or finds the device's client; sends, on the
// calling thread under g_injectionLock (hid_registry.h explains why there is no hop to
// another thread); drops the client when the send failed. All of it runs with
// g_injectionLock held by the entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/input/indigo_functions.h"
#include "bridge/platform/simulator_platform.h"

// The device's client and the entry's message function, ready for the send.
struct InjectionTarget {
  platform::SimHIDClientRef client;
  void* messageFunction = nullptr;
};

// When the UDID's client is marked invalid: drops the client and clears the mark.
void _replaceMarkedClient(const std::string& udid);

// Makes or finds the UDID's client: 0 with `target` filled, -2 when no client can be
// made (logged), -3 when the client or the function's address is missing afterwards.
int32_t _prepareTarget(const std::string& udid, IndigoFunction function, InjectionTarget& target);

// Removes the UDID's client from hidClients, if there is one.
void _dropHIDClient(const std::string& udid);

// Allocates one message buffer of `size` bytes with malloc (or the test allocator);
// null when there is no memory. The buffer is freed with free.
void* _allocateMessage(size_t size);

// Test seam: the next allocations use `allocator` (null: malloc again).
void setMessageAllocatorForTesting(void* (*allocator)(size_t));
// Part of resetInjectionStateForTesting.
void _resetInjectionSeamsForTesting();

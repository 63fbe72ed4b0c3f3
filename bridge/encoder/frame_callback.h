// The receiver of encoded access units (see annexb.h for their layout).
#pragma once

#include <cstdint>

extern "C" {
// Called on an encoder's output thread with one whole Annex B access unit. The bytes are
// valid only during the call; the receiver copies what it keeps. Never called with a
// length of 0.
typedef void (*SHFrameCallback)(const uint8_t* data, uint64_t length);
}

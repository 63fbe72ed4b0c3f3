// Encoded samples to H.264 access units in Annex B form, as the frame callbacks receive
// them: on keyframes each parameter set behind a start code, then each NAL unit of the
// sample behind a start code instead of its 4-byte length:
//
//   [00 00 00 01][set 0][00 00 00 01][set 1]...   keyframes with parameter sets only
//   [00 00 00 01][unit 0][00 00 00 01][unit 1]...  every whole unit of the sample
//
// A unit whose length runs past the end of the data ends the walk: the units before it
// are kept, it and whatever follows are not.
#pragma once

#include <cstdint>
#include <vector>

#include "bridge/platform/media_platform.h"

namespace encoder {

inline constexpr uint8_t kAnnexBStartCode[4] = {0x00, 0x00, 0x00, 0x01};

// Whether the sample is a keyframe: the first attachment lacks NotSync, or there are no
// attachments at all.
bool isKeyFrameSample(const platform::EncodedSample& sample);

// Appends the access unit of `sample` to `out` (which the caller clears). Reads only the
// sample; pure otherwise. Does not look at the sample's readiness.
void appendAnnexBAccessUnit(const platform::EncodedSample& sample, std::vector<uint8_t>* out);

// The output callback of every encoder session: `outputContext` is the EncoderState.
// Runs on the session's output thread; takes no lock; calls the encoder's frame callback
// at most once per sample, never with an empty access unit.
void _vtOutputCallback(void* outputContext, void* frameContext, int32_t status, uint32_t infoFlags,
                       const platform::EncodedSample* sample);

}  // namespace encoder

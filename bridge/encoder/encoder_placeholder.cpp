// PLACEHOLDER until the encoder lands: the encoders do nothing. Delete this file when
// encoder.cpp and remote_stream.cpp provide the real entries.
#include "bridge/encoder/encoder.h"
#include "bridge/encoder/remote_stream.h"

void SHEncoderSetLocalCallback(SHFrameCallback) {}
void SHEncoderEncode(const platform::PixelBuffer*, size_t, size_t) {}
void SHEncoderStopAll(void) {}
void SHRequestKeyframe(void) {}
void SHRequestRemoteKeyframe(void) {}
void SHStartRemoteStream(SHFrameCallback, int32_t, int32_t, int32_t) {}
void SHSetRemoteStreamParams(int32_t, int32_t, int32_t) {}
void SHStopRemoteStream(void) {}

// Fuzzes the conversion of an encoded sample into an Annex B access unit. The fuzz bytes
// choose the sample's attachments (none, an empty array, a first entry with or without
// NotSync), its format description and parameter sets (some of which may fail to be
// fetched), and its data: either raw bytes, whose length prefixes are whatever the bytes
// say, or well-formed units with optional trailing bytes.
//
// The output is checked byte for byte against the layout computed here independently:
// on a keyframe, every parameter set that can be fetched behind 00 00 00 01; then every
// whole unit of the data behind 00 00 00 01 in place of its length, stopping at the first
// unit that runs past the end. Bytes already in the output buffer stay untouched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "bridge/encoder/annexb.h"
#include "bridge/platform/media_platform.h"
#include "tests/support/fake_media_platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStartCode[4] = {0x00, 0x00, 0x00, 0x01};
constexpr int32_t kFetchFailure = -12710;

[[noreturn]] void fail(const char* what, size_t expected, size_t actual) {
  std::fprintf(stderr, "annexb_fuzzer: %s (expected %zu, got %zu)\n", what, expected, actual);
  std::abort();
}

Bytes consumeBytes(FuzzedDataProvider& provider, size_t maxLength) {
  const std::string text = provider.ConsumeRandomLengthString(maxLength);
  return Bytes(text.begin(), text.end());
}

void appendWithStartCode(const uint8_t* bytes, size_t size, Bytes* out) {
  out->insert(out->end(), kStartCode, kStartCode + 4);
  out->insert(out->end(), bytes, bytes + size);
}

// What the sample must convert to, from the sample's plain fields.
Bytes expectedAccessUnit(const testing_support::FakeEncodedSample& sample, bool* keyFrame) {
  Bytes out;
  *keyFrame = !sample.attachments || sample.attachments->empty() || !sample.attachments->front().containsNotSync;
  if (*keyFrame && sample.format && sample.format->countStatus == 0) {
    const auto& format = *sample.format;
    for (size_t index = 0; index < format.parameterSets.size(); ++index) {
      const Bytes& set = format.parameterSets[index];
      bool fetchable = true;
      for (size_t failing : format.failingSets) fetchable = fetchable && failing != index;
      // A set handed out without bytes (the fake gives an empty set's null data pointer)
      // is skipped rather than written as a bare start code.
      if (fetchable && set.data() != nullptr) appendWithStartCode(set.data(), set.size(), &out);
    }
  }
  if (sample.dataStatus != 0 || sample.nullData) return out;
  const Bytes& data = sample.data;
  size_t offset = 0;
  while (data.size() - offset >= 4) {
    const uint64_t length = (uint64_t{data[offset]} << 24) | (uint64_t{data[offset + 1]} << 16) |
                            (uint64_t{data[offset + 2]} << 8) | uint64_t{data[offset + 3]};
    if (length > data.size() - offset - 4) break;
    appendWithStartCode(data.data() + offset + 4, static_cast<size_t>(length), &out);
    offset += 4 + static_cast<size_t>(length);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider provider(bytes, size);
  testing_support::FakeEncodedSample sample;

  switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      sample.attachments.reset();
      break;
    case 1:
      sample.attachments.emplace();
      break;
    default: {
      sample.attachments.emplace();
      const int count = provider.ConsumeIntegralInRange<int>(1, 3);
      for (int i = 0; i < count; ++i) sample.attachments->push_back({provider.ConsumeBool()});
    }
  }

  if (provider.ConsumeBool()) {
    testing_support::FakeFormatDescription format;
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0) format.countStatus = kFetchFailure;
    const int sets = provider.ConsumeIntegralInRange<int>(0, 4);
    for (int index = 0; index < sets; ++index) {
      if (provider.ConsumeIntegralInRange<int>(0, 5) == 0) format.failingSets.push_back(static_cast<size_t>(index));
      format.parameterSets.push_back(consumeBytes(provider, 48));
    }
    sample.format = std::move(format);
  }

  if (provider.ConsumeIntegralInRange<int>(0, 15) == 0) sample.dataStatus = kFetchFailure;
  if (provider.ConsumeIntegralInRange<int>(0, 15) == 0) sample.nullData = true;
  const Bytes prefix = consumeBytes(provider, 8);
  if (provider.ConsumeBool()) {
    const int units = provider.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < units; ++i) sample.appendNalUnit(consumeBytes(provider, 256));
    const Bytes tail = consumeBytes(provider, 16);
    sample.data.insert(sample.data.end(), tail.begin(), tail.end());
  } else {
    sample.data = provider.ConsumeRemainingBytes<uint8_t>();
  }

  bool keyFrame = false;
  const Bytes expected = expectedAccessUnit(sample, &keyFrame);
  if (encoder::isKeyFrameSample(sample) != keyFrame) fail("keyframe decision differs", keyFrame, !keyFrame);

  Bytes out = prefix;
  encoder::appendAnnexBAccessUnit(sample, &out);
  if (out.size() != prefix.size() + expected.size()) fail("output length", prefix.size() + expected.size(), out.size());
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (out[i] != prefix[i]) fail("bytes already in the buffer changed at", i, i);
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    if (out[prefix.size() + i] != expected[i]) fail("output differs at byte", i, i);
  }
  return 0;
}

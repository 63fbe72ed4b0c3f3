// H.264 Annex B helpers for tests: splitting a byte stream into NAL units and access
// units, and decoding access units to pictures with libavcodec.
//
// Ownership: everything returned is a copy owned by the caller. An H264Decoder is used
// from one thread at a time; several decoders may run on different threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// NAL unit types of interest.
inline constexpr int kNalNonIdrSlice = 1;
inline constexpr int kNalIdrSlice = 5;
inline constexpr int kNalSei = 6;
inline constexpr int kNalSps = 7;
inline constexpr int kNalPps = 8;
inline constexpr int kNalAud = 9;

// One NAL unit found in an Annex B buffer. `offset` and `size` cover the unit itself
// (its header byte onwards), not the start code in front of it.
struct NalUnit {
  int type = 0;
  size_t offset = 0;
  size_t size = 0;
  size_t startCodeLength = 0;  // 3 or 4
};

// Splits an Annex B buffer at its 3- and 4-byte start codes. Bytes before the first start
// code are ignored.
std::vector<NalUnit> splitNalUnits(const uint8_t* data, size_t length);

// What an access unit holds.
struct AccessUnitInfo {
  std::vector<int> nalTypes;      // in stream order
  bool startsWithStartCode = false;  // the first four bytes are 00 00 00 01
  bool allStartCodesFourBytes = false;
  bool hasSps = false;
  bool hasPps = false;
  bool hasIdr = false;
  bool parameterSetsFirst = false;  // SPS and PPS come before every slice
};
AccessUnitInfo inspectAccessUnit(const uint8_t* data, size_t length);
inline AccessUnitInfo inspectAccessUnit(const std::vector<uint8_t>& au) {
  return inspectAccessUnit(au.data(), au.size());
}

// Cuts a raw Annex B byte stream (as a stream client receives it, without framing) into
// access units. A new unit begins at an AUD, SPS, PPS or SEI that follows a slice, or at a
// slice whose first_mb_in_slice is 0 that follows a slice. A trailing partial unit is
// returned too (pass the whole stream when it has ended).
std::vector<std::vector<uint8_t>> splitAccessUnits(const uint8_t* data, size_t length);

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
};

// One decoded picture, kept as 8-bit 4:2:0 planes.
struct DecodedFrame {
  int width = 0;
  int height = 0;
  bool keyFrame = false;
  char pictureType = '?';  // 'I', 'P', 'B' or '?'
  std::vector<uint8_t> y, u, v;  // tightly packed: y is width x height, u and v half size

  // BT.601 limited-range conversion of one pixel (x, y inside the picture).
  Rgb rgbAt(int x, int y) const;
  // Average colour of the rectangle (clipped to the picture).
  Rgb averageRgb(int x, int y, int w, int h) const;
};

class H264Decoder {
 public:
  H264Decoder();
  ~H264Decoder();
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // Decodes one whole access unit and appends the pictures it yields (with low-delay
  // decoding of a stream without B-frames, exactly one). Returns false when libavcodec
  // rejected the data or reported an error while decoding it.
  bool decodeAccessUnit(const uint8_t* data, size_t length, std::vector<DecodedFrame>* frames);
  bool decodeAccessUnit(const std::vector<uint8_t>& au, std::vector<DecodedFrame>* frames) {
    return decodeAccessUnit(au.data(), au.size(), frames);
  }
  // Splits a byte stream into access units and decodes them all.
  bool decodeStream(const uint8_t* data, size_t length, std::vector<DecodedFrame>* frames);
  // Drains pictures still held by the decoder.
  void flush(std::vector<DecodedFrame>* frames);

  // Errors seen so far (rejected packets, corrupt pictures, error messages of the
  // decoder), and the text of the last one.
  int errorCount() const;
  std::string lastError() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace testing_support

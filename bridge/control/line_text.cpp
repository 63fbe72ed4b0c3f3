#include "bridge/control/line_text.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool _inRange(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

// The length of the well-formed sequence that starts at `s`, or the length of its
// maximal ill-formed prefix (at least 1) with `valid` false.
size_t _sequenceAt(std::string_view s, bool& valid) {
  const auto lead = static_cast<unsigned char>(s[0]);
  valid = false;
  if (lead < 0x80) {
    valid = true;
    return 1;
  }
  size_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (_inRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (_inRange(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) secondLow = 0xA0;   // no overlong forms
    if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
  } else if (_inRange(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) secondLow = 0x90;   // no overlong forms
    if (lead == 0xF4) secondHigh = 0x8F;  // nothing past U+10FFFF
  } else {
    return 1;  // C0, C1, F5..FF, or a continuation byte without a lead
  }
  size_t i = 1;
  for (; i < length; ++i) {
    if (i >= s.size()) return i;
    const auto byte = static_cast<unsigned char>(s[i]);
    const bool ok = (i == 1) ? _inRange(byte, secondLow, secondHigh) : _inRange(byte, 0x80, 0xBF);
    if (!ok) return i;
  }
  valid = true;
  return length;
}

// The length of the horizontal space character at the start of `s`, or 0.
size_t _spaceAtStart(std::string_view s) {
  if (s.empty()) return 0;
  if (s[0] == ' ' || s[0] == '\t') return 1;
  if (s.starts_with("\xC2\xA0")) return 2;                    // U+00A0
  if (s.starts_with("\xE1\x9A\x80")) return 3;                // U+1680
  if (s.size() >= 3 && s[0] == '\xE2') {
    const auto b1 = static_cast<unsigned char>(s[1]);
    const auto b2 = static_cast<unsigned char>(s[2]);
    if (b1 == 0x80 && b2 <= 0x8A && b2 >= 0x80) return 3;     // U+2000..U+200A
    if (b1 == 0x80 && b2 == 0xAF) return 3;                   // U+202F
    if (b1 == 0x81 && b2 == 0x9F) return 3;                   // U+205F
  }
  if (s.starts_with("\xE3\x80\x80")) return 3;                // U+3000
  return 0;
}

// The length of the horizontal space character at the end of `s`, or 0.
size_t _spaceAtEnd(std::string_view s) {
  for (size_t length = 1; length <= 3 && length <= s.size(); ++length) {
    if (_spaceAtStart(s.substr(s.size() - length)) == length) return length;
  }
  return 0;
}

}  // namespace

std::string repairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    bool valid = false;
    const size_t length = _sequenceAt(bytes, valid);
    if (valid) {
      out.append(bytes.substr(0, length));
    } else {
      out.append(kReplacement);
    }
    bytes.remove_prefix(length);
  }
  return out;
}

std::string_view trimHorizontalSpace(std::string_view text) {
  while (size_t n = _spaceAtStart(text)) text.remove_prefix(n);
  while (size_t n = _spaceAtEnd(text)) text.remove_suffix(n);
  return text;
}

std::string cleanCommandLine(std::string_view rawLine) { return std::string(trimHorizontalSpace(repairUtf8(rawLine))); }

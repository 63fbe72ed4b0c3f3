// Text clean-up of one command line before it is parsed. Pure; any thread.
#pragma once

#include <string>
#include <string_view>

// Returns `bytes` as valid UTF-8: each maximal ill-formed subsequence (a stray
// continuation byte, a byte that never starts a sequence, or a truncated, overlong or
// surrogate sequence cut at its first bad byte) becomes one U+FFFD, as standard
// decoders do.
std::string repairUtf8(std::string_view bytes);

// Removes leading and trailing tabs and Unicode space separators (U+0020, U+00A0,
// U+1680, U+2000 to U+200A, U+202F, U+205F, U+3000) from valid UTF-8 text. Line breaks
// are kept.
std::string_view trimHorizontalSpace(std::string_view text);

// A raw line (terminator already removed) made ready for parsing: repaired, then trimmed.
std::string cleanCommandLine(std::string_view rawLine);

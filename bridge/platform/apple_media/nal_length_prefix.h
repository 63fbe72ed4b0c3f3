// The media platform hands out NAL units behind 4-byte big-endian lengths. H.264 in the
// MP4 form VideoToolbox writes may use 1-, 2- or 4-byte lengths (the format description
// says which); this rewrites the narrower forms to 4 bytes so that every sample keeps the
// one layout the encoder layer reads.
//
// Pure function; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::vtimpl {

// Appends to `out` the units of `data` (each behind a `prefixBytes`-wide big-endian
// length) each behind a 4-byte length instead. A unit that runs past the end stops the
// walk: the units before it are kept, it and whatever follows are dropped, and so are
// trailing bytes too few for a length. Returns false, appending nothing, when
// `prefixBytes` is not 1, 2 or 4.
bool widenNalLengthPrefixes(const uint8_t* data, size_t length, int prefixBytes, std::vector<uint8_t>& out);

}  // namespace platform::vtimpl

#ifndef VELLOC_ZLIB_H
#define VELLOC_ZLIB_H

#include <cstddef>
#include <string>
#include <string_view>

namespace velloc {

// A complete zlib stream (header and Adler-32 trailer) at zlib's default level.
// Empty input gives empty output; a failure while deflating gives empty output too.
std::string ZlibDeflate(std::string_view data);

// The same kind of zlib stream for large data, made on several threads: the data is cut into
// pieces of DeflatePieceSize bytes, each piece is compressed with the 32 KiB before it as its
// dictionary and ended on a byte boundary, and the raw pieces are joined under one header and
// one Adler-32 trailer. The pieces do not depend on the number of threads, so the output is the
// same on every machine. Small data goes through ZlibDeflate.
std::string ZlibDeflateInParallel(std::string_view data);

constexpr size_t DeflatePieceSize = size_t{1} << 20;

enum class TInflateOutcome : unsigned char {
    Complete,  // the stream ended properly
    Truncated, // the input ran out before the end of the stream
    Damaged,   // zlib found bad data, or the stream needs a preset dictionary
    Refused,   // zlib could not start or failed otherwise: nothing was inflated
    LimitHit   // the output reached the caller's limit
};

struct TInflateResult
{
    std::string Data; // what could be inflated, also when the stream was not complete
    TInflateOutcome Outcome = TInflateOutcome::Complete;
};

// Inflates one zlib stream. `expectedSize` only sizes the first buffer; `limit` caps the
// output (bytes past it are neither produced nor kept).
TInflateResult ZlibInflate(std::string_view data, size_t expectedSize = 0,
                           size_t limit = static_cast<size_t>(-1));

} // namespace velloc

#endif

#include "engine/support/VellocZlib.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <system_error>
#include <thread>
#include <vector>
#include <zlib.h>

namespace velloc {

namespace {

// zlib takes 32-bit counts; feed it in slices so huge buffers work too.
constexpr size_t MaxSlice = UINT_MAX / 2;

enum class TZlibMode : unsigned char {
    Deflate,    // a zlib stream at the default level
    RawDeflate, // raw deflate data at the default level, one piece of a larger stream
    Inflate
};

// A z_stream that is ended on every path out of its scope.
class TZlibStream
{
  public:
    explicit TZlibStream(TZlibMode mode) : m_Mode(mode)
    {
        switch (mode) {
        case TZlibMode::Deflate:
            m_Ok = deflateInit(&m_Stream, Z_DEFAULT_COMPRESSION) == Z_OK;
            break;
        case TZlibMode::RawDeflate:
            m_Ok = deflateInit2(&m_Stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY) == Z_OK;
            break;
        case TZlibMode::Inflate:
            m_Ok = inflateInit(&m_Stream) == Z_OK;
            break;
        }
    }
    ~TZlibStream()
    {
        if (m_Ok) {
            m_Mode == TZlibMode::Inflate ? inflateEnd(&m_Stream) : deflateEnd(&m_Stream);
        }
    }
    TZlibStream(const TZlibStream&) = delete;
    TZlibStream& operator=(const TZlibStream&) = delete;

    bool Ok() const { return m_Ok; }
    z_stream& Stream() { return m_Stream; }

  private:
    z_stream m_Stream{};
    TZlibMode m_Mode;
    bool m_Ok = false;
};

// zlib does not modify the input, but next_in is not declared const.
Bytef* InputPointer(const char* data)
{
    return reinterpret_cast<Bytef*>(const_cast<char*>(data));
}

} // namespace

std::string ZlibDeflate(std::string_view data)
{
    if (data.empty()) {
        return {};
    }
    TZlibStream deflater(TZlibMode::Deflate);
    if (!deflater.Ok()) {
        return {};
    }
    z_stream& stream = deflater.Stream();
    std::string out;
    out.resize(deflateBound(&stream, static_cast<uLong>(std::min(data.size(), MaxSlice))) + 64);
    size_t produced = 0;
    size_t consumed = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const size_t slice = std::min(data.size() - consumed, MaxSlice);
        stream.next_in = InputPointer(data.data() + consumed);
        stream.avail_in = static_cast<uInt>(slice);
        const bool last = consumed + slice == data.size();
        do {
            if (produced == out.size()) {
                out.resize(out.size() * 2);
            }
            const size_t room = std::min(out.size() - produced, MaxSlice);
            stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
            stream.avail_out = static_cast<uInt>(room);
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) {
                return {};
            }
            produced += room - stream.avail_out;
        } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
        consumed += slice - stream.avail_in;
    }
    out.resize(produced);
    return out;
}

namespace {

// The dictionary of a piece: the window's worth of data just before it.
constexpr size_t WindowSize = size_t{1} << MAX_WBITS;

// Piece `index` of the data as raw deflate data; the last piece ends the deflate stream, every
// other one ends with a sync flush, so that the pieces join on byte boundaries. False when
// zlib fails.
bool DeflatePiece(std::string_view data, size_t index, std::string& out)
{
    const size_t start = index * DeflatePieceSize;
    const std::string_view piece = data.substr(start, DeflatePieceSize);
    const bool last = start + piece.size() == data.size();
    TZlibStream deflater(TZlibMode::RawDeflate);
    if (!deflater.Ok()) {
        return false;
    }
    z_stream& stream = deflater.Stream();
    if (start > 0) {
        const size_t dictionarySize = std::min(start, WindowSize);
        if (deflateSetDictionary(
                &stream, reinterpret_cast<const Bytef*>(data.data() + start - dictionarySize),
                static_cast<uInt>(dictionarySize)) != Z_OK) {
            return false;
        }
    }
    out.resize(deflateBound(&stream, static_cast<uLong>(piece.size())) + 16);
    stream.next_in = InputPointer(piece.data());
    stream.avail_in = static_cast<uInt>(piece.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (status != (last ? Z_STREAM_END : Z_OK) || stream.avail_in != 0 || stream.avail_out == 0) {
        return false;
    }
    out.resize(out.size() - stream.avail_out);
    return true;
}

void AppendBigEndian32(std::string& out, uLong value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

} // namespace

std::string ZlibDeflateInParallel(std::string_view data)
{
    const size_t pieceCount = (data.size() + DeflatePieceSize - 1) / DeflatePieceSize;
    if (pieceCount < 2) {
        return ZlibDeflate(data);
    }
    std::vector<std::string> pieces(pieceCount);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (size_t index = next++; index < pieceCount; index = next++) {
            if (!DeflatePiece(data, index, pieces[index])) {
                failed = true;
            }
        }
    };
    const size_t helpers =
        std::min<size_t>(std::max(std::thread::hardware_concurrency(), 1u), pieceCount) - 1;
    std::vector<std::jthread> threads;
    try {
        for (size_t i = 0; i < helpers; ++i) {
            threads.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // Fewer threads only make it slower; the pieces are the same.
    }
    work();
    threads.clear();
    if (failed) {
        return {};
    }

    // 78 9C: deflate with a 32 KiB window at the default level, as zlib itself writes it.
    std::string out = "\x78\x9C";
    size_t total = out.size() + 4;
    for (const std::string& piece : pieces) {
        total += piece.size();
    }
    out.reserve(total);
    for (std::string& piece : pieces) {
        out += piece;
        std::string().swap(piece);
    }
    uLong checksum = adler32(0, nullptr, 0);
    for (size_t done = 0; done < data.size();) {
        const size_t slice = std::min(data.size() - done, MaxSlice);
        checksum = adler32(checksum, reinterpret_cast<const Bytef*>(data.data() + done),
                           static_cast<uInt>(slice));
        done += slice;
    }
    AppendBigEndian32(out, checksum);
    return out;
}

TInflateResult ZlibInflate(std::string_view data, size_t expectedSize, size_t limit)
{
    TInflateResult result;
    TZlibStream inflater(TZlibMode::Inflate);
    if (!inflater.Ok()) {
        result.Outcome = TInflateOutcome::Refused;
        return result;
    }
    z_stream& stream = inflater.Stream();
    std::string& out = result.Data;
    size_t initial = expectedSize != 0 ? expectedSize : std::max<size_t>(data.size() * 4, 1024);
    out.resize(std::min(initial, limit));
    size_t produced = 0;
    size_t consumed = 0;
    for (;;) {
        if (produced == out.size()) {
            if (out.size() >= limit) {
                result.Outcome = TInflateOutcome::LimitHit;
                break;
            }
            out.resize(std::min(std::max<size_t>(out.size() * 2, 1024), limit));
        }
        const size_t inSlice = std::min(data.size() - consumed, MaxSlice);
        const size_t room = std::min(out.size() - produced, MaxSlice);
        stream.next_in = InputPointer(data.data() + consumed);
        stream.avail_in = static_cast<uInt>(inSlice);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        stream.avail_out = static_cast<uInt>(room);
        const int status = inflate(&stream, Z_NO_FLUSH);
        consumed += inSlice - stream.avail_in;
        produced += room - stream.avail_out;
        if (status == Z_STREAM_END) {
            break;
        }
        if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
            result.Outcome = TInflateOutcome::Damaged;
            break;
        }
        if (status == Z_BUF_ERROR && consumed == data.size() && stream.avail_out != 0) {
            result.Outcome = TInflateOutcome::Truncated;
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            result.Outcome = TInflateOutcome::Refused;
            produced = 0;
            break;
        }
        if (consumed == data.size() && stream.avail_out != 0) {
            result.Outcome = TInflateOutcome::Truncated;
            break;
        }
    }
    out.resize(produced);
    return result;
}

} // namespace velloc

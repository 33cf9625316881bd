#include "engine/support/VellocZlib.h"

#include <algorithm>
#include <climits>
#include <zlib.h>

namespace velloc {

namespace {

// zlib takes 32-bit counts; feed it in slices so huge buffers work too.
constexpr size_t MaxSlice = UINT_MAX / 2;

class DeflateStream
{
public:
    DeflateStream() { m_Ok = deflateInit(&m_Stream, Z_DEFAULT_COMPRESSION) == Z_OK; }
    ~DeflateStream()
    {
        if (m_Ok) {
            deflateEnd(&m_Stream);
        }
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    bool Ok() const { return m_Ok; }
    z_stream& Stream() { return m_Stream; }

private:
    z_stream m_Stream{};
    bool m_Ok = false;
};

class InflateStream
{
public:
    InflateStream() { m_Ok = inflateInit(&m_Stream) == Z_OK; }
    ~InflateStream()
    {
        if (m_Ok) {
            inflateEnd(&m_Stream);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool Ok() const { return m_Ok; }
    z_stream& Stream() { return m_Stream; }

private:
    z_stream m_Stream{};
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
    DeflateStream deflater;
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

TInflateResult ZlibInflate(std::string_view data, size_t expectedSize, size_t limit)
{
    TInflateResult result;
    InflateStream inflater;
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

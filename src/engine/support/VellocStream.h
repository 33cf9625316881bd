#ifndef VELLOC_STREAM_H
#define VELLOC_STREAM_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace velloc {

enum class TSeekOrigin : uint8_t
{
    Start,
    Current,
    End
};

// The engine's byte stream: files (TVellocWideFileStream) and memory both read through it.
// Read and Write answer the number of bytes transferred, 0 when the system call fails.
class TVellocStream
{
public:
    virtual ~TVellocStream() = default;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Answers the new position from the start, or -1 when the position cannot be set.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }

    int64_t Size()
    {
        const int64_t here = Position();
        const int64_t end = Seek(0, TSeekOrigin::End);
        Seek(here, TSeekOrigin::Start);
        return end;
    }
};

// A stream over bytes held in memory; writing past the end grows the buffer.
class TVellocMemoryStream : public TVellocStream
{
public:
    TVellocMemoryStream() = default;
    explicit TVellocMemoryStream(std::string bytes) : m_Bytes(std::move(bytes)) {}

    int64_t Read(void* buffer, int64_t count) override
    {
        if (count <= 0 || m_Position >= static_cast<int64_t>(m_Bytes.size())) {
            return 0;
        }
        const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(m_Bytes.size()) - m_Position);
        std::memcpy(buffer, m_Bytes.data() + m_Position, static_cast<size_t>(n));
        m_Position += n;
        return n;
    }

    int64_t Write(const void* buffer, int64_t count) override
    {
        if (count <= 0) {
            return 0;
        }
        const auto end = static_cast<size_t>(m_Position + count);
        if (end > m_Bytes.size()) {
            m_Bytes.resize(end);
        }
        std::memcpy(m_Bytes.data() + m_Position, buffer, static_cast<size_t>(count));
        m_Position += count;
        return count;
    }

    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        int64_t base = 0;
        if (origin == TSeekOrigin::Current) {
            base = m_Position;
        } else if (origin == TSeekOrigin::End) {
            base = static_cast<int64_t>(m_Bytes.size());
        }
        if (base + offset < 0) {
            return -1;
        }
        m_Position = base + offset;
        return m_Position;
    }

    const std::string& Bytes() const { return m_Bytes; }

private:
    std::string m_Bytes;
    int64_t m_Position = 0;
};

} // namespace velloc

#endif

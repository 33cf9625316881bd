#include "cli/CliProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace pagewell {

namespace {

constexpr int DefaultColumns = 80;
constexpr int BarCells = 30;

int TerminalColumns(std::FILE* stream)
{
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return DefaultColumns;
}

// The length in characters of UTF-8 text: the bytes that do not continue a sequence.
size_t Utf8Length(const std::string& text)
{
    size_t length = 0;
    for (const char c : text) {
        length += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return length;
}

// The last `count` characters of UTF-8 text.
std::string Utf8Tail(const std::string& text, size_t count)
{
    size_t start = text.size();
    size_t taken = 0;
    while (start > 0 && taken < count) {
        --start;
        taken += (static_cast<unsigned char>(text[start]) & 0xC0) != 0x80;
    }
    return text.substr(start);
}

} // namespace

TCliProgress::TCliProgress(std::FILE* stream, bool enabled) : m_Stream(stream), m_Enabled(enabled)
{
}

std::string TCliProgress::BarLine(int32_t pageNumber, int32_t pageCount,
                                  const std::string& fileName, int columns)
{
    const double fraction = pageCount > 0 ? static_cast<double>(pageNumber) / pageCount : 0.0;
    const auto filled = static_cast<int>(std::nearbyint(fraction * BarCells));
    const auto percent = static_cast<int>(std::nearbyint(fraction * 100));
    char figures[64];
    std::snprintf(figures, sizeof figures, "] %3d%% %d/%d ", percent, pageNumber, pageCount);
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(BarCells - filled), ' ') + figures;
    // The last column stays free: a terminal that wraps at the last column would start a new
    // line and the bar could no longer be redrawn in place.
    const size_t usable = static_cast<size_t>(std::max(0, columns - 1));
    const size_t room = usable > line.size() ? usable - line.size() : 0;
    if (Utf8Length(fileName) <= room) {
        line += fileName;
    } else if (room > 3) {
        line += "..." + Utf8Tail(fileName, room - 3);
    }
    return line;
}

void TCliProgress::Update(int32_t pageNumber, int32_t pageCount, const std::string& fileName)
{
    if (m_Enabled) {
        draw(BarLine(pageNumber, pageCount, fileName, TerminalColumns(m_Stream)));
    }
}

void TCliProgress::Writing()
{
    if (m_Enabled) {
        draw("Writing PDF document...");
    }
}

void TCliProgress::Message(const std::string& line)
{
    clear();
    std::fprintf(m_Stream, "%s\n", line.c_str());
    std::fflush(m_Stream);
}

void TCliProgress::Finish()
{
    clear();
}

void TCliProgress::draw(const std::string& line)
{
    // Carriage return, the line, then erase to the end of the line (ANSI EL).
    std::fprintf(m_Stream, "\r%s\x1b[K", line.c_str());
    std::fflush(m_Stream);
    m_Drawn = true;
}

void TCliProgress::clear()
{
    if (m_Drawn) {
        std::fputs("\r\x1b[K", m_Stream);
        m_Drawn = false;
    }
}

} // namespace pagewell

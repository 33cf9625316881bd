#ifndef PAGEWELL_CLI_PROGRESS_H
#define PAGEWELL_CLI_PROGRESS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace pagewell {

// A one-line progress bar redrawn in place on a terminal. Disabled, it draws nothing, while
// Message still prints.
class TCliProgress
{
  public:
    TCliProgress(std::FILE* stream, bool enabled);

    bool Enabled() const { return m_Enabled; }

    void Update(int32_t pageNumber, int32_t pageCount, const std::string& fileName);
    void Writing();
    // Clears the bar and prints one line.
    void Message(const std::string& line);
    // Clears the bar for good.
    void Finish();

    // The text of the bar for a terminal `columns` wide, without control characters.
    static std::string BarLine(int32_t pageNumber, int32_t pageCount, const std::string& fileName,
                               int columns);

  private:
    void draw(const std::string& line);
    void clear();

    std::FILE* m_Stream;
    bool m_Enabled;
    bool m_Drawn = false;
};

} // namespace pagewell

#endif

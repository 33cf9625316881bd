#ifndef PAGEWELL_TEST_TOOLS_H
#define PAGEWELL_TEST_TOOLS_H

// Helpers for the conversion tests: temporary folders, running programs, and reading the
// layout of a written PDF file (object headers, trailer) without a PDF library.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace pagewell::test {

// A fresh folder, removed with everything in it at the end of the test.
class TTempFolder
{
  public:
    explicit TTempFolder(const std::string& name)
        : m_Path(std::filesystem::temp_directory_path() /
                 ("pagewell-" + name + "-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(m_Path);
        std::filesystem::create_directories(m_Path);
    }
    ~TTempFolder() { std::filesystem::remove_all(m_Path); }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return (m_Path / name).string(); }

  private:
    std::filesystem::path m_Path;
};

inline std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

struct TCommandResult
{
    int ExitStatus = -1;
    // Standard output and standard error together.
    std::string Output;
};

inline TCommandResult RunCommand(const std::string& command)
{
    TCommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.Output.append(buffer, read);
    }
    const int status = ::pclose(pipe);
    result.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline std::string ReadBytes(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& fileName, const std::string& bytes)
{
    std::ofstream(fileName, std::ios::binary) << bytes;
}

// The object numbers of the "N G obj" headers in file order.
inline std::vector<int> PdfObjectNumbers(const std::string& pdf)
{
    static const std::regex header(R"((?:^|[\r\n])(\d+) \d+ obj\b)");
    std::vector<int> numbers;
    for (auto match = std::sregex_iterator(pdf.begin(), pdf.end(), header);
         match != std::sregex_iterator(); ++match) {
        numbers.push_back(std::stoi((*match)[1]));
    }
    return numbers;
}

// The text of object `number` from its header up to its stream data or its end.
inline std::string PdfObjectText(const std::string& pdf, int number)
{
    const std::string header = std::to_string(number) + " 0 obj";
    size_t start = 0;
    while ((start = pdf.find(header, start)) != std::string::npos) {
        if (start == 0 || pdf[start - 1] == '\n' || pdf[start - 1] == '\r') {
            break;
        }
        start += header.size();
    }
    if (start == std::string::npos) {
        return {};
    }
    const size_t stream = pdf.find("stream", start);
    const size_t end = std::min(stream, pdf.find("endobj", start));
    return pdf.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The Size entry of the last trailer, or -1.
inline int PdfTrailerSize(const std::string& pdf)
{
    const size_t trailer = pdf.rfind("trailer");
    static const std::regex size(R"(/Size\s+(\d+))");
    std::smatch match;
    const std::string tail = trailer == std::string::npos ? std::string() : pdf.substr(trailer);
    return std::regex_search(tail, match, size) ? std::stoi(match[1]) : -1;
}

} // namespace pagewell::test

#endif

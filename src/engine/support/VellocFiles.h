#ifndef VELLOC_FILES_H
#define VELLOC_FILES_H

#include "engine/support/VellocError.h"
#include "engine/support/VellocStream.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

namespace velloc {

// The code of the error raised when a file cannot be opened or created.
constexpr int32_t FileCreationErrorCode = 0x0201;

// Creates or truncates the file, read and write access.
constexpr uint16_t FileModeCreate = 0xFFFF;
// Opens an existing file for reading while others may read it too.
constexpr uint16_t FileModeReadShareRead = 0x0020;

// Raised when a file stream cannot be opened; the message is "Error", the reason the
// system gave is kept apart.
class EVellocFileCreationError : public EVellocError
{
  public:
    EVellocFileCreationError(int systemError, std::string reason)
        : EVellocError(FileCreationErrorCode, "Error"), m_SystemError(systemError),
          m_Reason(std::move(reason))
    {
    }

    // The errno value, or EINVAL for a mode that is not valid.
    int SystemError() const { return m_SystemError; }
    const std::string& Reason() const { return m_Reason; }

  private:
    int m_SystemError;
    std::string m_Reason;
};

// The file name of a wide (UTF-16) name: its UTF-8 bytes; unpaired surrogates become U+FFFD.
std::filesystem::path WideToPath(const std::u16string& name);

// True when the name is an existing entry other than a directory whose last-write time, in
// local time, lies in the years 1980 to 2107 (a time a DOS date and time can hold).
bool FileExistsWide(const std::u16string& name);

// A file opened by wide name. FileModeCreate creates or truncates it; any other mode opens
// an existing file with the access in bits 0-1 (0 read, 1 write, 2 read and write) and the
// sharing in bits 4-7 (0 to 4, checked only: Linux does not lock files against others).
class TVellocWideFileStream : public TVellocStream
{
  public:
    // Raises EVellocFileCreationError for a mode that is not valid or a failed open.
    TVellocWideFileStream(const std::u16string& name, uint16_t mode);
    ~TVellocWideFileStream() override;
    TVellocWideFileStream(const TVellocWideFileStream&) = delete;
    TVellocWideFileStream& operator=(const TVellocWideFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

    // A stream over a file the caller opened itself (for example exclusively, with O_EXCL);
    // the stream closes the handle when it is destroyed.
    static std::unique_ptr<TVellocWideFileStream> AdoptHandle(int handle);

    // Flushes the file's data to the disk; false when the system reports a failure.
    bool Sync();

  private:
    // Lets AdoptHandle use make_unique while nobody else can call the adopting constructor.
    struct TAdoptKey
    {
        explicit TAdoptKey() = default;
    };

  public:
    TVellocWideFileStream(TAdoptKey, int handle) : m_Handle(handle) {}

  private:
    int m_Handle = -1;
};

} // namespace velloc

#endif

#include "engine/support/VellocFiles.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velloc {

namespace {

void AppendUtf8(std::string& bytes, char32_t codePoint)
{
    if (codePoint < 0x80) {
        bytes += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        bytes += static_cast<char>(0xC0 | (codePoint >> 6));
        bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        bytes += static_cast<char>(0xE0 | (codePoint >> 12));
        bytes += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (codePoint >> 18));
        bytes += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Open flags for a mode, or -1 when the mode is not valid.
int OpenFlags(uint16_t mode)
{
    if (mode == FileModeCreate) {
        return O_RDWR | O_CREAT | O_TRUNC;
    }
    const int sharing = (mode >> 4) & 0x0F;
    if (sharing > 4) {
        return -1;
    }
    switch (mode & 0x03) {
    case 0:
        return O_RDONLY;
    case 1:
        return O_WRONLY;
    case 2:
        return O_RDWR;
    default:
        return -1;
    }
}

// Repeats a read or write until `count` bytes are through, the end of the file is reached or
// the system reports an error; answers the bytes transferred.
template <typename TCall> int64_t Transfer(int64_t count, TCall call)
{
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = call(done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += n;
    }
    return done;
}

} // namespace

std::filesystem::path WideToPath(const std::u16string& name)
{
    std::string bytes;
    bytes.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
            name[i + 1] <= 0xDFFF) {
            AppendUtf8(bytes, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                  (name[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(bytes, 0xFFFD);
        } else {
            AppendUtf8(bytes, unit);
        }
    }
    return std::filesystem::path(bytes);
}

bool FileExistsWide(const std::u16string& name)
{
    if (name.empty()) {
        return false;
    }
    struct stat status = {};
    if (stat(WideToPath(name).c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    tm local{};
    if (localtime_r(&status.st_mtim.tv_sec, &local) == nullptr) {
        return false;
    }
    const int year = local.tm_year + 1900;
    return year >= 1980 && year <= 2107;
}

TVellocWideFileStream::TVellocWideFileStream(const std::u16string& name, uint16_t mode)
{
    const int flags = OpenFlags(mode);
    if (flags < 0) {
        throw EVellocFileCreationError(EINVAL, "invalid file mode");
    }
    const int handle = open(WideToPath(name).c_str(), flags | O_CLOEXEC, 0666);
    if (handle < 0) {
        const int error = errno;
        throw EVellocFileCreationError(error, std::generic_category().message(error));
    }
    // Linux opens a directory for reading; a file stream over one would only fail later.
    struct stat status = {};
    if (fstat(handle, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(handle);
        throw EVellocFileCreationError(EISDIR, std::generic_category().message(EISDIR));
    }
    m_Handle = handle;
}

TVellocWideFileStream::~TVellocWideFileStream()
{
    close(m_Handle);
}

int64_t TVellocWideFileStream::Read(void* buffer, int64_t count)
{
    auto* bytes = static_cast<char*>(buffer);
    return Transfer(count,
                    [&](int64_t done, size_t rest) { return read(m_Handle, bytes + done, rest); });
}

int64_t TVellocWideFileStream::Write(const void* buffer, int64_t count)
{
    const auto* bytes = static_cast<const char*>(buffer);
    return Transfer(count,
                    [&](int64_t done, size_t rest) { return write(m_Handle, bytes + done, rest); });
}

int64_t TVellocWideFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    int whence = SEEK_SET;
    if (origin == TSeekOrigin::Current) {
        whence = SEEK_CUR;
    } else if (origin == TSeekOrigin::End) {
        whence = SEEK_END;
    }
    return lseek(m_Handle, static_cast<off_t>(offset), whence);
}

std::unique_ptr<TVellocWideFileStream> TVellocWideFileStream::AdoptHandle(int handle)
{
    return std::make_unique<TVellocWideFileStream>(TAdoptKey(), handle);
}

bool TVellocWideFileStream::Sync()
{
    return fsync(m_Handle) == 0;
}

} // namespace velloc

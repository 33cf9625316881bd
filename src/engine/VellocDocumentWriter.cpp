// The file writer: header, indirect objects, cross-reference table and trailer, and the save
// of a document to a named file through a temporary file beside it.
#include "engine/VellocDocument.h"

#include "engine/VellocPageTree.h"
#include "engine/support/VellocError.h"
#include "engine/support/VellocFiles.h"
#include "engine/support/VellocStream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velloc {

namespace {

constexpr int32_t FileWriteErrorCode = 0x0202;

// The largest offset the ten digits of a cross-reference line can hold.
constexpr int64_t MaxXrefOffset = 9'999'999'999;

// Bytes of the target's name kept in the name of the temporary file.
constexpr size_t MaxTemporaryStem = 200;

std::atomic<int64_t> WriteLimit{-1};

std::string SystemMessage(int error)
{
    return std::generic_category().message(error);
}

// Decimal digits with leading zeros up to `width`; a negative value gives zeros only.
void AppendZeroPadded(std::string& out, int64_t value, size_t width)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, std::max<int64_t>(value, 0)).ptr;
    const auto length = static_cast<size_t>(end - digits);
    if (length < width) {
        out.append(width - length, '0');
    }
    out.append(digits, length);
}

void AppendDecimal(std::string& out, int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// Every byte of the file goes through here; the count of bytes taken so far gives the offsets
// of the cross-reference table. Small pieces are gathered into larger writes. A write the
// stream takes only in part is a failure.
class TByteSink
{
  public:
    explicit TByteSink(TVellocStream& stream) : m_Stream(stream), m_Limit(WriteLimit.load())
    {
        m_Flushed = std::max<int64_t>(stream.Position(), 0);
    }

    int64_t Count() const { return m_Flushed + static_cast<int64_t>(m_Buffer.size()); }

    void Write(std::string_view bytes)
    {
        if (m_Buffer.size() + bytes.size() > BufferSize) {
            Flush();
        }
        if (bytes.size() >= BufferSize) {
            put(bytes);
        } else {
            m_Buffer += bytes;
        }
    }

    void Flush()
    {
        put(m_Buffer);
        m_Buffer.clear();
    }

  private:
    static constexpr size_t BufferSize = 64 * 1024;

    void put(std::string_view bytes)
    {
        const auto wanted = static_cast<int64_t>(bytes.size());
        int64_t allowed = wanted;
        if (m_Limit >= 0) {
            allowed = std::clamp<int64_t>(m_Limit - m_Written, 0, wanted);
        }
        errno = 0;
        const int64_t done = allowed > 0 ? m_Stream.Write(bytes.data(), allowed) : 0;
        const int error = errno;
        if (done > 0) {
            m_Flushed += done;
            m_Written += done;
        }
        if (done != wanted) {
            std::string message = "wrote ";
            AppendDecimal(message, std::max<int64_t>(done, 0));
            message += " of ";
            AppendDecimal(message, wanted);
            message += " bytes";
            if (error != 0) {
                message += ": " + SystemMessage(error);
            }
            throw EVellocError(FileWriteErrorCode, message);
        }
    }

    TVellocStream& m_Stream;
    int64_t m_Limit;
    int64_t m_Flushed = 0;
    int64_t m_Written = 0;
    std::string m_Buffer;
};

// "N G obj", the object's text, "endobj", each line ended by a line feed.
void BuildObjectText(std::string& text, const TPDFIndObj& record)
{
    text.clear();
    AppendDecimal(text, record.ObjectNumber());
    text += ' ';
    AppendDecimal(text, record.Generation());
    text += " obj\n";
    if (record.Object() != nullptr) {
        record.Object()->WriteText(text);
    } else {
        text += "null";
    }
    if (text.back() != '\n') {
        text += '\n';
    }
    text += "endobj\n";
}

// Each line is exactly 20 bytes: ten digits of offset, five of generation, "n" or "f", and a
// blank before the line feed, so that readers can index the table without parsing it.
std::string XrefTableText(const std::vector<TPDFXrefEntry>& entries)
{
    std::string text = "xref\n0 ";
    AppendDecimal(text, static_cast<int64_t>(entries.size()));
    text += '\n';
    text.reserve(text.size() + entries.size() * 20);
    for (const TPDFXrefEntry& entry : entries) {
        AppendZeroPadded(text, entry.Offset, 10);
        text += ' ';
        AppendZeroPadded(text, entry.Generation, 5);
        text += entry.InUse ? " n \n" : " f \n";
    }
    return text;
}

void WriteBody(TPDFDocument& document, TVellocStream& stream)
{
    TByteSink sink(stream);
    // A comment with bytes above 127 tells transfer programs that the file is binary.
    sink.Write("%PDF-" + document.Version() + "\n%\xE2\xE3\xCF\xD3\n");

    std::vector<TPDFXrefEntry>& entries = document.XrefEntries();
    entries.assign(static_cast<size_t>(document.HighestObjectNumber()) + 1, TPDFXrefEntry{});
    for (size_t number = 0; number < entries.size(); ++number) {
        entries[number].Number = static_cast<int32_t>(number);
    }
    entries[0].Generation = 65535;

    std::string text;
    for (const auto& record : document.IndirectObjects()) {
        BuildObjectText(text, *record);
        if (sink.Count() > MaxXrefOffset) {
            throw EVellocError(FileWriteErrorCode, "file too large for a cross-reference table");
        }
        TPDFXrefEntry& entry = entries[static_cast<size_t>(record->ObjectNumber())];
        entry.Offset = sink.Count();
        entry.Generation = std::max(record->Generation(), 0);
        entry.InUse = true;
        sink.Write(text);
    }

    const int64_t xrefPosition = sink.Count();
    sink.Write(XrefTableText(entries));

    TPDFDictionary& trailer = document.Trailer();
    trailer.Remove("XRefStm");
    text = "trailer\n";
    trailer.WriteText(text);
    text += "startxref\n";
    AppendDecimal(text, xrefPosition);
    text += "\n%%EOF\n";
    sink.Write(text);
    sink.Flush();
}

// A new file beside the target, removed again unless it was renamed over the target.
class TTemporaryFile
{
  public:
    TTemporaryFile() = default;
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    ~TTemporaryFile()
    {
        m_Stream.reset();
        if (!m_Path.empty()) {
            unlink(m_Path.c_str());
        }
    }

    // Creates ".<name>.XXXXXX" in the target's directory, with `permissions` unless they are
    // negative; answers errno, 0 on success.
    int Create(const std::filesystem::path& target, int permissions)
    {
        static constexpr std::string_view Letters =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        thread_local std::mt19937_64 random{std::random_device{}()};
        std::uniform_int_distribution<size_t> pick(0, Letters.size() - 1);
        // Built by appending: GCC 12 warns wrongly (-Wrestrict) about "." + string.
        // The name is cut so that the temporary name stays within the usual 255-byte limit
        // of a directory entry even when the target's name nearly reaches it.
        std::string prefix(1, '.');
        prefix += target.filename().string().substr(0, MaxTemporaryStem);
        prefix += '.';
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            std::string name = prefix;
            for (int i = 0; i < 6; ++i) {
                name += Letters[pick(random)];
            }
            const std::filesystem::path candidate = target.parent_path() / name;
            // O_EXCL: an existing file of that name is never opened, whoever made it.
            const int handle =
                open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (handle >= 0) {
                if (permissions >= 0) {
                    fchmod(handle, static_cast<mode_t>(permissions));
                }
                m_Path = candidate;
                m_Stream = TVellocWideFileStream::AdoptHandle(handle);
                return 0;
            }
            error = errno;
        }
        return error;
    }

    TVellocStream& Stream() { return *m_Stream; }

    // Flushes the data to the disk and closes the file; answers errno, 0 on success.
    int SyncAndClose()
    {
        if (!m_Stream->Sync()) {
            return errno;
        }
        m_Stream.reset();
        return 0;
    }

    // Renames the closed file over the target; answers errno, 0 on success.
    int Commit(const std::filesystem::path& target)
    {
        if (rename(m_Path.c_str(), target.c_str()) != 0) {
            return errno;
        }
        m_Path.clear();
        return 0;
    }

  private:
    std::filesystem::path m_Path;
    std::unique_ptr<TVellocWideFileStream> m_Stream;
};

// The file a save replaces: a symbolic link is followed, so the file it points at gets the
// new content and the link stays, as when the file is written in place.
std::filesystem::path ResolveTarget(const std::filesystem::path& name)
{
    std::error_code error;
    if (std::filesystem::is_symlink(name, error)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(name, error);
        if (!error) {
            return resolved;
        }
    }
    return name;
}

// The directory entry of the renamed file reaches the disk only with the directory's sync.
void SyncDirectory(const std::filesystem::path& target)
{
    const std::filesystem::path directory =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const int handle = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle >= 0) {
        fsync(handle);
        close(handle);
    }
}

} // namespace

bool WriteDocument(TPDFDocument& document, TVellocStream& stream, std::string* reason)
{
    TPDFPageTree& pageTree = document.PageTree();
    const int32_t currentPage = pageTree.CurrentPage();
    bool written = true;
    try {
        WriteBody(document, stream);
    } catch (const std::exception& error) {
        written = false;
        if (reason != nullptr) {
            *reason = error.what();
        }
    }
    try {
        pageTree.SelectPage(currentPage);
    } catch (const std::exception& error) {
        if (written && reason != nullptr) {
            *reason = error.what();
        }
        written = false;
    }
    return written;
}

void SetWriteLimitForTesting(int64_t bytes)
{
    WriteLimit.store(bytes);
}

bool TPDFDocument::SaveToFile(const std::u16string& fileName)
{
    m_LastSaveError.clear();
    const std::filesystem::path named = WideToPath(fileName);
    const std::string shown = named.string();
    const auto fail = [&](std::string_view what, const std::string& why) {
        m_LastSaveError = std::string(what) + " " + shown + ": " + why;
        return false;
    };

    const std::filesystem::path target = ResolveTarget(named);
    if (!target.has_filename()) {
        return fail("cannot create", SystemMessage(fileName.empty() ? ENOENT : EISDIR));
    }
    struct stat existing = {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return fail("cannot create", SystemMessage(EISDIR));
    }
    // A device or pipe cannot be replaced by renaming; it is written in place.
    if (exists && !S_ISREG(existing.st_mode)) {
        std::unique_ptr<TVellocWideFileStream> stream;
        try {
            stream = std::make_unique<TVellocWideFileStream>(fileName, FileModeCreate);
        } catch (const EVellocFileCreationError& error) {
            return fail("cannot create", error.Reason());
        }
        std::string reason;
        return WriteDocument(*this, *stream, &reason) || fail("cannot write", reason);
    }

    TTemporaryFile temporary;
    // The new file takes the place of the old one, so it keeps the old one's permissions.
    const int permissions = exists ? static_cast<int>(existing.st_mode & 07777) : -1;
    if (const int error = temporary.Create(target, permissions); error != 0) {
        return fail("cannot create", SystemMessage(error));
    }

    std::string reason;
    if (!WriteDocument(*this, temporary.Stream(), &reason)) {
        return fail("cannot write", reason);
    }
    if (const int error = temporary.SyncAndClose(); error != 0) {
        return fail("cannot write", SystemMessage(error));
    }
    if (const int error = temporary.Commit(target); error != 0) {
        return fail("cannot replace", SystemMessage(error));
    }
    SyncDirectory(target);
    return true;
}

} // namespace velloc

#include "engine/support/VellocFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace velloc;

namespace {

class VellocFiles : public testing::Test
{
  protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velloc-files-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_Dir); }

    // The wide name of a file in the test directory.
    std::u16string Wide(const std::u16string& leaf) const
    {
        const std::string dir = m_Dir.string();
        return std::u16string(dir.begin(), dir.end()) + u"/" + leaf;
    }

    static void WriteFile(const std::filesystem::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    static std::string ReadFile(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static bool SetModificationTime(const std::filesystem::path& path, time_t seconds)
    {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        struct stat status = {};
        return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 &&
               stat(path.c_str(), &status) == 0 && status.st_mtim.tv_sec == seconds;
    }

    std::filesystem::path m_Dir;
};

size_t OpenHandleCount()
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

} // namespace

TEST_F(VellocFiles, WideNamesBecomeUtf8)
{
    EXPECT_EQ(WideToPath(u"Zo\u00EB.png").string(), "Zo\xC3\xAB.png");
    EXPECT_EQ(WideToPath(u"\u0444\u20AC\U0001F600").string(),
              "\xD1\x84\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(WideToPath(std::u16string(1, u'\xD83D') + u"a").string(), "\xEF\xBF\xBD"
                                                                        "a");
}

TEST_F(VellocFiles, ExistsOnlyForFilesWithADosTime)
{
    const std::u16string name = Wide(u"Zo\u00EB \u0444\u0430\u0439\u043B.png");
    EXPECT_FALSE(FileExistsWide(name));
    WriteFile(WideToPath(name), "x");
    EXPECT_TRUE(FileExistsWide(name));
    EXPECT_TRUE(std::filesystem::exists(m_Dir / "Zo\xC3\xAB \xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.png"));

    EXPECT_FALSE(FileExistsWide(Wide(u"")));
    EXPECT_FALSE(FileExistsWide(u""));
    std::filesystem::create_directory(WideToPath(Wide(u"folder.png")));
    EXPECT_FALSE(FileExistsWide(Wide(u"folder.png")));

    ASSERT_TRUE(SetModificationTime(WideToPath(name), 86400 * 365)); // early 1971
    EXPECT_FALSE(FileExistsWide(name));
    // Mid-1980 is 1980 in every zone.
    ASSERT_TRUE(SetModificationTime(WideToPath(name), 331000000));
    EXPECT_TRUE(FileExistsWide(name));
    if (!SetModificationTime(WideToPath(name), 4450000000)) { // 2111
        GTEST_SKIP() << "the file system cannot hold times after 2038";
    }
    EXPECT_FALSE(FileExistsWide(name));
}

TEST_F(VellocFiles, ModeSelectsAccess)
{
    const std::u16string name = Wide(u"data.bin");
    const struct
    {
        uint16_t Mode;
        bool CanRead;
        bool CanWrite;
    } rows[] = {
        {0x0000, true, false}, {0x0001, false, true}, {0x0002, true, true}, {0x0010, true, false},
        {0x0020, true, false}, {0x0031, false, true}, {0x0042, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Mode);
        WriteFile(WideToPath(name), "hello");
        {
            TVellocWideFileStream stream(name, row.Mode);
            char buffer[8] = {};
            EXPECT_EQ(stream.Read(buffer, 8), row.CanRead ? 5 : 0);
            EXPECT_EQ(stream.Seek(0, TSeekOrigin::Start), 0);
            EXPECT_EQ(stream.Write("J", 1), row.CanWrite ? 1 : 0);
            EXPECT_EQ(stream.Size(), 5); // an existing file is opened, never truncated
        }
        EXPECT_EQ(ReadFile(WideToPath(name)), row.CanWrite ? "Jello" : "hello");
    }
}

TEST_F(VellocFiles, InvalidModesAndFailedOpensRaiseTheCreationError)
{
    const std::u16string name = Wide(u"data.bin");
    WriteFile(WideToPath(name), "hello");
    const struct
    {
        std::u16string Name;
        uint16_t Mode;
        int SystemError;
    } rows[] = {
        {name, 0x0003, EINVAL},
        {name, 0x0023, EINVAL},
        {name, 0x0050, EINVAL},
        {name, 0x00F2, EINVAL},
        {Wide(u"missing.bin"), 0x0020, ENOENT},
        {Wide(u"missing.bin"), 0x0002, ENOENT},
        {Wide(u"no-folder/new.pdf"), FileModeCreate, ENOENT},
        {Wide(u""), FileModeCreate, EISDIR},
        {Wide(u""), 0x0020, EISDIR},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Mode);
        try {
            TVellocWideFileStream stream(row.Name, row.Mode);
            ADD_FAILURE() << "no error raised";
        } catch (const EVellocFileCreationError& error) {
            EXPECT_EQ(error.Code(), FileCreationErrorCode);
            EXPECT_STREQ(error.what(), "Error");
            EXPECT_EQ(error.SystemError(), row.SystemError);
            EXPECT_FALSE(error.Reason().empty());
        }
    }
    EXPECT_FALSE(std::filesystem::exists(WideToPath(Wide(u"missing.bin"))));
}

TEST_F(VellocFiles, CreateModeTruncatesAndReadsBack)
{
    const std::u16string name = Wide(u"out \u00E9.pdf");
    WriteFile(WideToPath(name), "old content that is longer");
    const size_t handlesBefore = OpenHandleCount();
    {
        TVellocWideFileStream stream(name, FileModeCreate);
        EXPECT_EQ(stream.Size(), 0);
        EXPECT_EQ(stream.Write("%PDF-1.4\n", 9), 9);
        EXPECT_EQ(stream.Position(), 9);
        EXPECT_TRUE(stream.Sync());
        EXPECT_EQ(stream.Seek(5, TSeekOrigin::Start), 5);
        char version[3] = {};
        EXPECT_EQ(stream.Read(version, 3), 3);
        EXPECT_EQ(std::string(version, 3), "1.4");
        EXPECT_EQ(stream.Seek(-2, TSeekOrigin::End), 7);
        EXPECT_EQ(stream.Seek(1, TSeekOrigin::Current), 8);
        EXPECT_EQ(stream.Seek(-20, TSeekOrigin::Current), -1);
        EXPECT_EQ(stream.Read(version, 3), 1); // only the line feed is left
        EXPECT_EQ(stream.Read(version, 3), 0);
        EXPECT_EQ(OpenHandleCount(), handlesBefore + 1);
    }
    EXPECT_EQ(OpenHandleCount(), handlesBefore);
    EXPECT_EQ(ReadFile(WideToPath(name)), "%PDF-1.4\n");

    const std::u16string fresh = Wide(u"fresh.pdf");
    {
        TVellocWideFileStream stream(fresh, FileModeCreate);
    }
    EXPECT_TRUE(std::filesystem::exists(WideToPath(fresh)));
    EXPECT_EQ(std::filesystem::file_size(WideToPath(fresh)), 0u);
}

TEST_F(VellocFiles, AdoptedHandleIsWrittenAndClosedByTheStream)
{
    const std::filesystem::path path = m_Dir / "exclusive.pdf";
    const int handle = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    ASSERT_GE(handle, 0);
    const size_t handlesBefore = OpenHandleCount();
    {
        std::unique_ptr<TVellocWideFileStream> stream = TVellocWideFileStream::AdoptHandle(handle);
        EXPECT_EQ(stream->Write("%PDF-1.7\n", 9), 9);
        EXPECT_EQ(stream->Position(), 9);
        EXPECT_TRUE(stream->Sync());
    }
    EXPECT_EQ(OpenHandleCount(), handlesBefore - 1);
    EXPECT_EQ(ReadFile(path), "%PDF-1.7\n");
}

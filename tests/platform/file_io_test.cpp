#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/file_io.h"
#include "platform/native_text.h"
#include "text/codepage.h"

namespace {

using tk::platform::File;
using tk::platform::FileMode;
using tk::platform::NativePath;

class FileIo : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/tkfileio-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        m_dir = name;
    }
    void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }
    std::u16string Wide(const std::string& ascii) {
        return std::u16string(ascii.begin(), ascii.end());
    }
    std::string m_dir;
};

TEST(FilePath, BackslashesBecomeSlashesAndTextUtf8) {
    EXPECT_EQ(NativePath(TKL("C\\data\\表.csv")), "C/data/\xE8\xA1\xA8.csv");
    EXPECT_EQ(NativePath(TKL("\U0001F600")), "\xF0\x9F\x98\x80");
    EXPECT_EQ(NativePath(nullptr), "");
    EXPECT_EQ(NativePath(TKL("")), "");
}

// The OS layer spells text for the OS itself; it must agree with the UTF-8
// code page of the text runtime, lone surrogates included.
TEST(FilePath, NativeTextAgreesWithTheUtf8CodePage) {
    struct Row {
        const char* name;
        std::u16string text;
        std::string utf8;
    } rows[] = {
        {"ascii", u"abc", "abc"},
        {"two and three bytes", u"\u00E9\u8868", "\xC3\xA9\xE8\xA1\xA8"},
        {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"lone high at the end", u"a\xD83D", "a\xEF\xBF\xBD"},
        {"lone low", u"\xDE00" u"b",
         "\xEF\xBF\xBD"
         "b"},
        {"high before a non-low", u"\xD83Dx", "\xEF\xBF\xBDx"},
        {"reversed pair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Row& row : rows) {
        const TKWCHAR* text = reinterpret_cast<const TKWCHAR*>(row.text.c_str());
        const int units = static_cast<int>(row.text.size());
        EXPECT_EQ(tk::platform::NativeText(text, row.text.size()), row.utf8) << row.name;
        std::string viaCodePage(row.text.size() * 3, '\0');
        viaCodePage.resize(tk::platform::WideCharToMultiByte(tk::platform::kCodePageUtf8, 0, text,
                                                             units, viaCodePage.data(),
                                                             static_cast<int>(viaCodePage.size())));
        EXPECT_EQ(viaCodePage, row.utf8) << row.name;
    }
}

TEST_F(FileIo, WriteSeekReadAndSize) {
    std::u16string path = Wide(m_dir) + u"\\f.bin";
    {
        File out;
        ASSERT_EQ(out.Open(path.c_str(), FileMode::kWrite), 0);
        ASSERT_EQ(out.Write("hello world", 11), 0);
        EXPECT_EQ(out.Close(), 0);
    }
    File in;
    ASSERT_EQ(in.Open(path.c_str(), FileMode::kRead), 0);
    std::uint64_t size = 0;
    ASSERT_EQ(in.Size(size), 0);
    EXPECT_EQ(size, 11u);
    char buf[32] = {};
    std::size_t got = 0;
    ASSERT_EQ(in.Read(buf, 5, got), 0);  // measuring did not move the position
    EXPECT_EQ(std::string(buf, got), "hello");
    ASSERT_EQ(in.Seek(6), 0);
    ASSERT_EQ(in.Read(buf, sizeof buf, got), 0);  // short at the end, no error
    EXPECT_EQ(std::string(buf, got), "world");
    ASSERT_EQ(in.Read(buf, sizeof buf, got), 0);
    EXPECT_EQ(got, 0u);

    File moved(std::move(in));
    EXPECT_FALSE(in.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    ASSERT_EQ(moved.Seek(0), 0);
    ASSERT_EQ(moved.Read(buf, 1, got), 0);
    EXPECT_EQ(buf[0], 'h');
}

TEST_F(FileIo, ReadingAWriteOnlyStreamFails) {
    std::u16string path = Wide(m_dir) + u"/w.bin";
    File out;
    ASSERT_EQ(out.Open(path.c_str(), FileMode::kWrite), 0);
    char c;
    std::size_t got = 7;
    EXPECT_EQ(out.Read(&c, 1, got), EBADF);
    EXPECT_EQ(got, 0u);
}

}  // namespace

#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/file_io.h"

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

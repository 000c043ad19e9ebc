// JSON files on real files in a temporary folder: opening, lengths, byte
// encodings, error handles and debugger messages, and saving that never
// loses the old file.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_replace.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"

namespace {

std::u16string Wide(const TKWCHAR* s) {
    return reinterpret_cast<const char16_t*>(s);
}

std::u16string FromUtf8(const std::string& s) {
    CTKString wide(s.c_str());  // the default ANSI code page is UTF-8
    return Wide(wide);
}

// A fresh folder per test, removed afterwards.
class JsonFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tk-json-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        received_.clear();
        tkSetDebugOutputSink([](const TKWCHAR* text) { received_.push_back(Wide(text)); });
    }
    void TearDown() override {
        tkSetDebugOutputSink(nullptr);
        tk::platform::SetWriteFaultHook(nullptr);
        tk::platform::SetReadFaultHook(nullptr);
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    CTKString WidePath(const std::string& name) const { return CTKString(Path(name).c_str()); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    // Takes the handle's code and message, and closes it.
    static std::u16string Take(std::uint64_t handle, int* code) {
        TKWCHAR* text = tkGetErrorW(handle, code);
        std::u16string message = Wide(text);
        tkFreeMem(text);
        tkCloseHandle(handle);
        return message;
    }
    // Reads path expecting it not to open: the handle's message and status,
    // and the one debug line, name the path and the system's code.
    static void ExpectOpenFailure(const CTKString& path, int status, const char* code,
                                  const char* name) {
        received_.clear();
        CMyJsonObj doc;
        std::uint64_t error = 0;
        EXPECT_FALSE(TKJsonUtils::ReadJsonFile(path, doc, &error)) << name;
        int got = 0;
        std::u16string expected =
            u"Tavik: Can't open " + Wide(path) + u", error: " + FromUtf8(code);
        EXPECT_EQ(Take(error, &got), expected) << name;
        EXPECT_EQ(got, status) << name;
        EXPECT_EQ(received_, std::vector<std::u16string>{expected}) << name;
    }

    std::string dir_;
    static std::vector<std::u16string> received_;
};
std::vector<std::u16string> JsonFiles::received_;

}  // namespace

TEST_F(JsonFiles, OpenFailuresByCause) {
    struct Row {
        const char* name;
        std::string path;
        int status;
        const char* code;
    } rows[] = {
        {"missing file", Path("nope.json"), 2, "0x2"},
        {"missing folder", Path("no/such/dir.json"), 2, "0x2"},
        {"file used as a folder", Path("plain.txt/x.json"), 2, "0x14"},  // ENOTDIR
        {"a folder", dir_, 14, "0x15"},                                  // EISDIR
    };
    Write("plain.txt", "not a folder");
    for (const Row& row : rows)
        ExpectOpenFailure(CTKString(row.path.c_str()), row.status, row.code, row.name);
}

TEST_F(JsonFiles, LengthLimits) {
    Write("ten.json", "{\"a\":1234}");  // valid JSON, but 10 bytes
    Write("eleven.json", "{\"a\":12345}");
    CMyJsonObj doc;
    std::uint64_t error = 0;
    EXPECT_FALSE(TKJsonUtils::ReadJsonFile(WidePath("ten.json"), doc, &error));
    int code = 0;
    EXPECT_EQ(Take(error, &code),
              u"Tavik: " + Wide(WidePath("ten.json")) + u" file length is invalid");
    EXPECT_EQ(code, 5);
    EXPECT_TRUE(TKJsonUtils::ReadJsonFile(WidePath("eleven.json"), doc, nullptr));

    // One byte past 50 MiB, as a sparse file.
    ASSERT_EQ(truncate((Write("huge.json", "{"), Path("huge.json")).c_str(), 52428801), 0);
    received_.clear();
    EXPECT_FALSE(
        TKJsonUtils::ReadJsonFile(WidePath("huge.json"), doc, nullptr));  // null: no handle
    EXPECT_EQ(received_.size(), 1u);
}

TEST_F(JsonFiles, EncodingsAndParseFailures) {
    const std::string chinese = "{\"名字\":\"中文文本\"}";
    Write("bom.json", "\xEF\xBB\xBF" + chinese);
    CMyJsonObj doc;
    ASSERT_TRUE(TKJsonUtils::ReadJsonFile(WidePath("bom.json"), doc, nullptr));
    CTKString value;
    ASSERT_TRUE(doc.ValueEx(TKL("名字"), value));
    EXPECT_EQ(Wide(value), u"中文文本");

    // Without the mark the bytes are ANSI text: GBK under code page 936.
    Write("gbk.json", "{\"k\":\"\xD6\xD0\xCE\xC4\"}");
    ASSERT_TRUE(tkSetAnsiCodePage(936));
    ASSERT_TRUE(TKJsonUtils::ReadJsonFile(WidePath("gbk.json"), doc, nullptr));
    ASSERT_TRUE(doc.ValueEx(TKL("k"), value));
    EXPECT_EQ(Wide(value), u"中文");
    ASSERT_TRUE(
        TKJsonUtils::ReadJsonFile(WidePath("bom.json"), doc, nullptr));  // the mark still wins
    tkSetAnsiCodePage(65001);

    // Parse failures are not debugger output.
    Write("number.json", "12345678901");
    received_.clear();
    CMyJsonValue number;
    std::uint64_t error = 0;
    EXPECT_FALSE(TKJsonUtils::ReadJsonFileEx(WidePath("number.json"), number, &error));
    int code = 0;
    EXPECT_EQ(Take(error, &code), u"无效的json，无效的json字符串");
    EXPECT_EQ(code, 5);
    Write("broken.json", "{\"a\" 1, \"b\":2}");
    EXPECT_FALSE(TKJsonUtils::ReadJsonFile(WidePath("broken.json"), doc, &error));
    EXPECT_EQ(Take(error, &code), Wide(doc.GetErrMsg()));
    EXPECT_TRUE(received_.empty());
}

// A GBK settings file keeps every character through a read and a save:
// the euro sign, a pair whose trail byte looks like '@' (81 40), and a
// user-defined character (AA A1, U+E000).
TEST_F(JsonFiles, GbkFileSurvivesReadAndSave) {
    const std::string gbk = "{\"name\":\"\x80\x81\x40 ok\",\"mark\":\"\xAA\xA1\"}";
    Write("gbk.json", gbk);
    ASSERT_TRUE(tkSetAnsiCodePage(936));
    CMyJsonObj doc, again;
    CTKString name, mark;
    bool read = TKJsonUtils::ReadJsonFile(WidePath("gbk.json"), doc, nullptr);
    bool saved = read && TKJsonUtils::SaveJsonFile(WidePath("saved.json"), doc, nullptr);
    bool reread = saved && TKJsonUtils::ReadJsonFile(WidePath("saved.json"), again, nullptr);
    tkSetAnsiCodePage(65001);
    ASSERT_TRUE(reread);
    ASSERT_TRUE(again.ValueEx(TKL("name"), name));
    ASSERT_TRUE(again.ValueEx(TKL("mark"), mark));
    EXPECT_EQ(Wide(name), u"€丂 ok");
    EXPECT_EQ(Wide(mark), u"\uE000");
    std::string bytes = Read("saved.json");
    EXPECT_NE(bytes.find("\x80\x81\x40 ok"), std::string::npos);
    EXPECT_NE(bytes.find("\xAA\xA1"), std::string::npos);
}

TEST_F(JsonFiles, SaveAndReadBack) {
    CMyJsonObj doc;
    doc.AddItem(TKL("name"), TKL("测试"));
    doc.AddItem(TKL("n"), 42);
    ASSERT_TRUE(TKJsonUtils::SaveJsonFile(WidePath("ansi.json"), doc, nullptr));
    EXPECT_EQ(Read("ansi.json"), "{\r\n\t\"name\":\"测试\",\r\n\t\"n\":42\r\n}");

    CMyJsonValue value(TKL("值"));
    ASSERT_TRUE(TKJsonUtils::SaveJsonFileEx(WidePath("utf8.json"), value, true, nullptr));
    std::string saved = Read("utf8.json");
    EXPECT_EQ(saved, "\xEF\xBB\xBF\"值\"");

    // A large document survives the round trip unchanged.
    CMyJsonObj big;
    for (int i = 0; i < 20000; ++i) {
        CTKString key;
        key.Format(TKL("key%d"), i);
        big.AddItem(key, i * 0.5);
    }
    ASSERT_TRUE(TKJsonUtils::SaveJsonFile(WidePath("big.json"), big, nullptr));
    CMyJsonObj back;
    ASSERT_TRUE(TKJsonUtils::ReadJsonFile(WidePath("big.json"), back, nullptr));
    EXPECT_EQ(Wide(back.CreateJson(false)), Wide(big.CreateJson(false)));
}

TEST_F(JsonFiles, FailedSaveKeepsTheOldFile) {
    Write("settings.json", "{\"old\":true}");
    ASSERT_EQ(chmod(Path("settings.json").c_str(), 0640), 0);
    CMyJsonObj doc;
    doc.AddItem(TKL("new"), true);

    // A full disk part way through the write.
    tk::platform::SetWriteFaultHook([](std::size_t) { return ENOSPC; });
    std::uint64_t error = 0;
    EXPECT_FALSE(TKJsonUtils::SaveJsonFile(WidePath("settings.json"), doc, &error));
    int code = 0;
    EXPECT_EQ(Take(error, &code),
              u"Tavik: Can't save " + Wide(WidePath("settings.json")) + u", error: 0x1C");
    EXPECT_EQ(code, 14);
    EXPECT_EQ(Read("settings.json"), "{\"old\":true}");
    tk::platform::SetWriteFaultHook(nullptr);

    // Saving through a symbolic link replaces its target and keeps the mode.
    ASSERT_EQ(symlink(Path("settings.json").c_str(), Path("link.json").c_str()), 0);
    ASSERT_TRUE(TKJsonUtils::SaveJsonFile(WidePath("link.json"), doc, nullptr));
    struct stat info;
    ASSERT_EQ(lstat(Path("link.json").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(Path("settings.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(Read("settings.json"), "{\r\n\t\"new\":true\r\n}");

    // A folder that does not exist.
    received_.clear();
    EXPECT_FALSE(TKJsonUtils::SaveJsonFile(WidePath("missing\\x.json"), doc, &error));
    EXPECT_EQ(Take(error, &code),
              u"Tavik: Can't save " + Wide(WidePath("missing\\x.json")) + u", error: 0x2");
    EXPECT_EQ(code, 14);
    EXPECT_EQ(received_.size(), 1u);
}

// Dangling links get the file they name; loops fail as open() fails them.
TEST_F(JsonFiles, SaveThroughLinks) {
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
    struct Link {
        const char* name;
        const char* target;
    } links[] = {
        {"dangling.json", "made.json"},
        {"sub/up.json", "../made-above.json"},  // relative to the link's folder
        {"chain.json", "dangling.json"},
        {"l1.json", "l2.json"},
        {"l2.json", "l1.json"},
        {"self.json", "self.json"},
    };
    for (const Link& link : links) ASSERT_EQ(symlink(link.target, Path(link.name).c_str()), 0);
    CMyJsonObj doc;
    doc.AddItem(TKL("n"), 1);
    const std::string saved = "{\r\n\t\"n\":1\r\n}";

    struct Row {
        const char* path;
        const char* made;  // the file that must hold the text; null: the save fails
    } rows[] = {
        {"dangling.json", "made.json"}, {"sub/up.json", "made-above.json"},
        {"chain.json", "made.json"},    {"l1.json", nullptr},
        {"self.json", nullptr},
    };
    for (const Row& row : rows) {
        std::remove(Path("made.json").c_str());
        std::uint64_t error = 0;
        bool ok = TKJsonUtils::SaveJsonFile(WidePath(row.path), doc, &error);
        EXPECT_EQ(ok, row.made != nullptr) << row.path;
        if (row.made) {
            EXPECT_EQ(Read(row.made), saved) << row.path;
        } else {
            int code = 0;
            EXPECT_EQ(Take(error, &code),
                      u"Tavik: Can't save " + Wide(WidePath(row.path)) + u", error: 0x28")
                << row.path;  // ELOOP
            EXPECT_EQ(code, 14) << row.path;
        }
    }
    for (const Link& link : links) {  // every link is still the link it was
        char target[64] = {};
        EXPECT_EQ(readlink(Path(link.name).c_str(), target, sizeof target - 1),
                  static_cast<ssize_t>(std::strlen(link.target)))
            << link.name;
        EXPECT_STREQ(target, link.target);
    }
}

namespace {

// Runs body in a child process, so that the identity, limits, signal
// settings and mounts it changes stay there. Returns what the body reported
// as wrong, plus the child's death if it died; "" when all went well.
std::string InChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string report = body();
        (void)!write(fds[1], report.data(), report.size());
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += " [child ended with status " + std::to_string(status) + "]";
    return report;
}

// Long file contents shortened for a failure message.
std::string Brief(const std::string& s) {
    if (s.size() <= 40) return s;
    return s.substr(0, 40) + "... (" + std::to_string(s.size()) + " bytes)";
}

// A document whose formatted text is about 400 KB.
void FillLarge(CMyJsonObj& doc) {
    for (int i = 0; i < 20000; ++i) {
        CTKString key;
        key.Format(TKL("key%05d"), i);
        doc.AddItem(key, i);
    }
}

// The save's result and error code, as "ok" or "14/0x1B" (status/errno).
std::string SaveOutcome(const CTKString& path, const CMyJsonObj& doc) {
    std::uint64_t error = 0;
    if (TKJsonUtils::SaveJsonFile(path, doc, &error)) return "ok";
    int code = 0;
    TKWCHAR* text = tkGetErrorW(error, &code);
    std::u16string message = reinterpret_cast<const char16_t*>(text);
    tkFreeMem(text);
    tkCloseHandle(error);
    std::size_t hex = message.rfind(u"0x");
    return std::to_string(code) + "/" +
           std::string(message.begin() + static_cast<long>(hex), message.end());
}

}  // namespace

// Where no temporary file can be made (a folder that may not be written),
// the file is rewritten in place; when that fails part way (a file-size
// limit), its old bytes are put back. As root the body runs as "nobody".
TEST_F(JsonFiles, FailedInPlaceSaveInReadOnlyFolderKeepsTheOldFile) {
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path("locked").c_str(), 0755), 0);
    Write("locked/settings.json", "{\"old\":true}");
    ASSERT_EQ(chmod(Path("locked/settings.json").c_str(), 0666), 0);
    ASSERT_EQ(chmod(Path("locked").c_str(), 0555), 0);

    std::string report = InChild([this] {
        std::string wrong;
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return std::string("setuid");
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{65536, 65536};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto expect = [&](const std::string& got, const std::string& want, const char* what) {
            if (got != want)
                wrong += std::string(what) + ": " + Brief(got) + ", want " + Brief(want) + "; ";
        };

        CMyJsonObj large;
        FillLarge(large);
        expect(SaveOutcome(WidePath("locked/settings.json"), large), "14/0x1B", "past the limit");
        expect(Read("locked/settings.json"), "{\"old\":true}", "old bytes after the limit");

        CMyJsonObj small;
        small.AddItem(TKL("n"), 1);
        tk::platform::SetWriteFaultHook([](std::size_t) { return EIO; });
        expect(SaveOutcome(WidePath("locked/settings.json"), small), "14/0x5", "write fault");
        expect(Read("locked/settings.json"), "{\"old\":true}", "old bytes after the fault");
        tk::platform::SetWriteFaultHook(nullptr);

        expect(SaveOutcome(WidePath("locked/settings.json"), small), "ok", "in place");
        expect(Read("locked/settings.json"), "{\r\n\t\"n\":1\r\n}", "new text in place");
        expect(SaveOutcome(WidePath("locked/new.json"), small), "14/0xD", "new file");
        return wrong;
    });
    EXPECT_EQ(report, "");
}

// A small tmpfs without a free inode for the temporary file (root only, in
// a private mount namespace): the in-place rewrite runs out of space and
// puts the old bytes back; a text that fits is saved whole.
TEST_F(JsonFiles, FailedSaveOnAFullFileSystemKeepsTheOldFile) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_EQ(mkdir(Path("tmpfs").c_str(), 0755), 0);
    const std::string old(1000, 'x');
    std::string report = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tk-test", Path("tmpfs").c_str(), "tmpfs", 0, "size=128k,nr_inodes=2") != 0)
            return std::string("SKIP: no private tmpfs: ") + std::strerror(errno);
        std::string wrong;
        auto expect = [&](const std::string& got, const std::string& want, const char* what) {
            if (got != want)
                wrong += std::string(what) + ": " + Brief(got) + ", want " + Brief(want) + "; ";
        };
        Write("tmpfs/settings.json", old);  // the last free inode
        CMyJsonObj large;
        FillLarge(large);
        expect(SaveOutcome(WidePath("tmpfs/settings.json"), large), "14/0x1C", "full");
        expect(Read("tmpfs/settings.json"), old, "old bytes");
        CMyJsonObj small;
        small.AddItem(TKL("n"), 1);
        expect(SaveOutcome(WidePath("tmpfs/settings.json"), small), "ok", "in place");
        expect(Read("tmpfs/settings.json"), "{\r\n\t\"n\":1\r\n}", "new text");
        return wrong;
    });
    if (report.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << report;
    EXPECT_EQ(report, "");
}

// ---- failures while reading -------------------------------------------------------

namespace {

// The one call the read seam fails, and how.
tk::platform::FileCall g_failCall;
int g_failErrno;

int FailOneCall(tk::platform::FileCall call, std::size_t& bytes) {
    if (call != g_failCall) return 0;
    bytes /= 2;  // a read delivers half the file, then fails
    return g_failErrno;
}

int OpenDescriptors() {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
    return n;
}

}  // namespace

TEST_F(JsonFiles, ReadFailuresBecomeErrorHandlesAndLeaveNothingOpen) {
    using tk::platform::FileCall;
    struct Row {
        const char* name;
        FileCall call;
        int err;
        int status;
        const char* code;
    } rows[] = {
        {"open refused", FileCall::kOpen, EACCES, 14, "0xD"},
        {"file gone between listing and opening", FileCall::kOpen, ENOENT, 2, "0x2"},
        {"length cannot be taken", FileCall::kSize, EOVERFLOW, 14, "0x4B"},
        {"device fails half way through the read", FileCall::kRead, EIO, 14, "0x5"},
    };
    std::string text = "{\"cities\":[";
    for (int i = 0; i < 2000; ++i) text += "\"city " + std::to_string(i) + "\",";
    text += "\"city 2000\"],\"last\":\"end\"}";
    Write("cities.json", text);
    const CTKString path = WidePath("cities.json");
    const int descriptors = OpenDescriptors();
    for (const Row& row : rows) {
        g_failCall = row.call;
        g_failErrno = row.err;
        tk::platform::SetReadFaultHook(FailOneCall);
        ExpectOpenFailure(path, row.status, row.code, row.name);
        EXPECT_EQ(OpenDescriptors(), descriptors) << row.name;

        // The same file reads whole once the device recovers.
        tk::platform::SetReadFaultHook(nullptr);
        CMyJsonObj doc;
        ASSERT_TRUE(TKJsonUtils::ReadJsonFile(path, doc, nullptr)) << row.name;
        CTKString last;
        EXPECT_TRUE(doc.ValueEx(TKL("last"), last)) << row.name;
        EXPECT_EQ(Wide(last), u"end") << row.name;
    }
}

// ---- files of many blocks ------------------------------------------------------

namespace {

std::size_t g_readCalls;
std::size_t g_bytesWritten;

// Fails the third read, half way through it.
int FailThirdRead(tk::platform::FileCall call, std::size_t& bytes) {
    if (call != tk::platform::FileCall::kRead || ++g_readCalls != 3) return 0;
    bytes /= 2;
    return EIO;
}

// A disk that fills up after a megabyte.
int FullAfterOneMegabyte(std::size_t bytes) {
    if (g_bytesWritten + bytes > (1u << 20)) return ENOSPC;
    g_bytesWritten += bytes;
    return 0;
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    std::string command = "ls -A '" + dir + "'";
    if (std::FILE* ls = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, ls)) names.push_back(line);
        pclose(ls);
    }
    return names;
}

}  // namespace

// Files are read and saved a block at a time: characters cut by a block's
// end (UTF-8 sequences, GBK pairs, surrogate pairs) come out whole, and a
// failure after some blocks went through loses nothing.
TEST_F(JsonFiles, LargeFilesCrossBlocksWholeAndFailWithoutLoss) {
    // Seven units, thirteen UTF-8 bytes: every offset of the pattern meets
    // a block end somewhere, and the text (6.7 million units) outgrows the
    // writer's chunks.
    CTKString pattern(TKL("ab西\U0001F600\U0001F600"));
    CTKString longText;
    for (int i = 0; i < 40000; ++i) longText += pattern;
    CMyJsonValue doc(static_cast<CMyJsonValue* const*>(nullptr), 0);
    for (int i = 0; i < 24; ++i) ASSERT_TRUE(doc.AddToArr(static_cast<const TKWCHAR*>(longText)));
    ASSERT_TRUE(doc.AddToArr(TKL("end")));
    const std::u16string expected = Wide(doc.CreateJson(false));

    ASSERT_TRUE(TKJsonUtils::SaveJsonFileEx(WidePath("big.json"), doc, true, nullptr));
    char* utf8 = doc.CreateUTF8Json(true);
    EXPECT_TRUE(Read("big.json") == "\xEF\xBB\xBF" + std::string(utf8)) << "streamed bytes";
    tkFreeMem(utf8);
    CMyJsonValue back;
    ASSERT_TRUE(TKJsonUtils::ReadJsonFileEx(WidePath("big.json"), back, nullptr));
    EXPECT_TRUE(Wide(back.CreateJson(false)) == expected) << "UTF-8 read";

    // GBK: letters and CJK pairs only (no byte below 0x40) for 700 KB.
    ASSERT_TRUE(tkSetAnsiCodePage(936));
    CTKString gbkText;
    for (int i = 0; i < 100000; ++i) gbkText += TKL("abc西安");
    CMyJsonObj gbk, gbkBack;
    gbk.AddItem(TKL("text"), static_cast<const TKWCHAR*>(gbkText));
    bool saved = TKJsonUtils::SaveJsonFile(WidePath("gbk.json"), gbk, nullptr);
    bool read = saved && TKJsonUtils::ReadJsonFile(WidePath("gbk.json"), gbkBack, nullptr);
    tkSetAnsiCodePage(65001);
    ASSERT_TRUE(read);
    EXPECT_TRUE(Wide(gbkBack.CreateJson(false)) == Wide(gbk.CreateJson(false))) << "GBK read";

    // A read that fails on its third block: the document keeps its value.
    g_readCalls = 0;
    tk::platform::SetReadFaultHook(FailThirdRead);
    std::uint64_t error = 0;
    EXPECT_FALSE(TKJsonUtils::ReadJsonFileEx(WidePath("big.json"), back, &error));
    tk::platform::SetReadFaultHook(nullptr);
    int code = 0;
    EXPECT_EQ(Take(error, &code),
              u"Tavik: Can't open " + Wide(WidePath("big.json")) + u", error: 0x5");
    EXPECT_EQ(code, 14);
    EXPECT_TRUE(Wide(back.CreateJson(false)) == expected) << "document after the failed read";

    // A save over the file that runs out of disk after a megabyte: the old
    // file stays whole and no temporary file is left behind.
    const std::string before = Read("big.json");
    const std::vector<std::string> names = Listing(dir_);
    CMyJsonValue other(static_cast<CMyJsonValue* const*>(nullptr), 0);
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(other.AddToArr(static_cast<const TKWCHAR*>(longText)));
    g_bytesWritten = 0;
    tk::platform::SetWriteFaultHook(FullAfterOneMegabyte);
    EXPECT_FALSE(TKJsonUtils::SaveJsonFileEx(WidePath("big.json"), other, true, &error));
    tk::platform::SetWriteFaultHook(nullptr);
    EXPECT_EQ(Take(error, &code),
              u"Tavik: Can't save " + Wide(WidePath("big.json")) + u", error: 0x1C");
    EXPECT_GT(g_bytesWritten, 0u);
    EXPECT_TRUE(Read("big.json") == before) << "old bytes after the full disk";
    EXPECT_EQ(Listing(dir_), names);
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <type_traits>
#include <vector>

#include "file_test_support.h"
#include "platform/file_io.h"
#include "tavikfcu/TKFile.h"

namespace {

using Rows = std::vector<std::vector<std::u16string>>;

struct ReadResult {
    bool opened = false;
    std::vector<std::u16string> header;
    Rows rows;
    std::u16string error;  // after the last NextRow
};

ReadResult ReadAll(const std::string& path) {
    ReadResult result;
    CTKCSVFileReader reader;
    result.opened = reader.Open(Wide(path).c_str());
    result.error = reader.GetLastError();
    if (!result.opened) return result;
    std::vector<CTKString> fields;
    reader.GetFields(fields);
    result.header = U16(fields);
    while (reader.NextRow(fields)) result.rows.push_back(U16(fields));
    result.error = reader.GetLastError();
    return result;
}

// ---- field and line rules -----------------------------------------------------------

struct RowCase {
    const char* name;
    std::string bytes;
    std::vector<std::u16string> header;
    Rows rows;
};

class CsvRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(CsvRows, ReadsTheExpectedFields) {
    TempFolder dir;
    const RowCase& c = GetParam();
    ReadResult r = ReadAll(dir.Write("t.csv", c.bytes));
    ASSERT_TRUE(r.opened) << Show(r.error);
    EXPECT_EQ(r.header, c.header);
    EXPECT_EQ(r.rows, c.rows);
    EXPECT_EQ(r.error, u"") << "the end of the file is not an error";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CsvRows,
    ::testing::Values(
        RowCase{"HeaderOnly", "id,name\n", {u"id", u"name"}, {}},
        RowCase{"LastLineWithoutLineFeed", "h\nx,y", {u"h"}, {{u"x", u"y"}}},
        RowCase{"LfBlankLinesSkipped", "h\n\n\nx\n \t\n\ny\n\n", {u"h"}, {{u"x"}, {u"y"}}},
        // An empty CRLF line still holds its CR, so it is a row of one empty field.
        RowCase{"CrlfEmptyLineIsOneEmptyField",
                "h1,h2\r\nx,y\r\n\r\nz\r\n",
                {u"h1", u"h2"},
                {{u"x", u"y"}, {u""}, {u"z"}}},
        RowCase{
            "CrlfAndLfAgree", "a,b\r\n1,2\n3,4\r\n", {u"a", u"b"}, {{u"1", u"2"}, {u"3", u"4"}}},
        RowCase{"TrailingCommas",
                "h\na,b,\n,,\n,\n",
                {u"h"},
                {{u"a", u"b", u""}, {u"", u"", u""}, {u"", u""}}},
        RowCase{
            "QuotedCommaAndDoubledQuote", "h\n\"a,\"\"b\"\"\",c\n", {u"h"}, {{u"a,\"b\"", u"c"}}},
        RowCase{"TextAfterClosingQuoteDropped", "h\n\"x\" junk ,y\n", {u"h"}, {{u"x", u"y"}}},
        RowCase{"UnclosedQuoteTakesRestOfLine",
                "h\n\"abc,\"\"d,e\nnext\n",
                {u"h"},
                {{u"abc,\"d,e"}, {u"next"}}},
        RowCase{"EmptyQuotedFields", "h\n\"\",\"\"\n", {u"h"}, {{u"", u""}}},
        RowCase{"QuotedFieldLastOnLineWithCr", "h\r\nx,\"q\"\r\n", {u"h"}, {{u"x", u"q"}}},
        RowCase{"BlanksTrimmedOutsideQuotes",
                "h\n  a b \t,\t c ,\t\" q \" ,  \n",
                {u"h"},
                {{u"a b", u"c", u" q ", u""}}},
        // Only a line's last CR goes; any other stays in the field.
        RowCase{"InnerCarriageReturnKept", "h\na\rb,c\r\r\n", {u"h"}, {{u"a\rb", u"c\r"}}},
        // A zero byte ends a line, like a line feed.
        RowCase{"ZeroByteEndsLine", std::string("h\na\0b\n", 6), {u"h"}, {{u"a"}, {u"b"}}},
        RowCase{"ByteOrderMarkNotInFirstName",
                "\xEF\xBB\xBFname,\xE5\x9F\x8E\xE5\xB8\x82\n"
                "\xE5\xBC\xA0\xE4\xB8\x89,\xF0\x9F\x98\x80\n",
                {u"name", u"城市"},
                {{u"张三", u"\U0001F600"}}},
        RowCase{"InvalidUtf8BecomesReplacement",
                "\xEF\xBB\xBFh\n\xFF"
                "a\n",
                {u"h"},
                {{u"\uFFFDa"}}}),
    [](const ::testing::TestParamInfo<RowCase>& info) { return std::string(info.param.name); });

TEST(CsvReader, WithoutMarkTheAnsiCodePageDecides) {
    TempFolder dir;
    std::string plain = dir.Write("p.csv", "k,\xE5\x8C\x97\n");  // k,北 in UTF-8
    std::string marked = dir.Write("m.csv", "\xEF\xBB\xBFk,\xE5\x8C\x97\n");
    std::string gbk = dir.Write("g.csv", "name,city\n\xD5\xC5\xC8\xFD,\xB1\xB1\xBE\xA9\n");
    const std::vector<std::u16string> north{u"k", u"北"};

    ASSERT_EQ(tkGetAnsiCodePage(), 65001u);
    EXPECT_EQ(ReadAll(plain).header, north);

    ASSERT_TRUE(tkSetAnsiCodePage(936));
    ReadResult plainAsGbk = ReadAll(plain);
    ReadResult markedAsGbk = ReadAll(marked);
    ReadResult gbkAsGbk = ReadAll(gbk);
    ASSERT_TRUE(tkSetAnsiCodePage(65001));

    EXPECT_NE(plainAsGbk.header, north) << "unmarked UTF-8 bytes are read as GBK";
    EXPECT_EQ(markedAsGbk.header, north) << "the mark wins over the code page";
    ASSERT_EQ(gbkAsGbk.rows.size(), 1u);
    EXPECT_EQ(gbkAsGbk.rows[0], (std::vector<std::u16string>{u"张三", u"北京"}));
}

// ---- failures ---------------------------------------------------------------------------

TEST(CsvReader, OpenFailureNamesPathAndErrnoAndLeavesTheReaderClosed) {
    TempFolder dir;
    CTKCSVFileReader reader;
    EXPECT_EQ(std::u16string(reader.GetLastError()), u"");
    std::vector<CTKString> row{CTKString(TKL("stale"))};
    EXPECT_FALSE(reader.GetFields(row));
    EXPECT_FALSE(reader.GoToFirstRow());
    EXPECT_EQ(std::u16string(reader.GetLastError()), u"未打开文件!");

    const std::u16string missing = Wide(dir.Path()) + u"\\none.csv", folder = Wide(dir.Path());
    EXPECT_FALSE(reader.Open(missing.c_str()));
    EXPECT_EQ(std::u16string(reader.GetLastError()), u"打开 " + missing + u" 失败，错误码: 2");
    EXPECT_FALSE(reader.Open(folder.c_str()));
    EXPECT_EQ(std::u16string(reader.GetLastError()), u"打开 " + folder + u" 失败，错误码: 21");
    EXPECT_FALSE(reader.NextRow(row));
    EXPECT_TRUE(row.empty());
    EXPECT_EQ(std::u16string(reader.GetLastError()), u"未打开文件!");
}

// ---- position ---------------------------------------------------------------------------

// Rewinding comes back after the mark to the header; opening again replaces
// the file, its mark and its position. The second file is named the Windows
// way, in Chinese with '\' separators.
TEST(CsvReader, GoToFirstRowAndOpenAgain) {
    TempFolder dir;
    std::string first = dir.Write("1.csv",
                                  "\xEF\xBB\xBF"
                                  "a,b\n1,2\n3,4\n");
    ASSERT_EQ(mkdir((dir.Path() + "/数据").c_str(), 0700), 0);
    dir.Write("数据/表.csv", "y,z\n5,6\n");
    const std::u16string second = Wide(dir.Path()) + u"\\数据\\表.csv";
    CTKCSVFileReader reader;
    ASSERT_TRUE(reader.Open(Wide(first).c_str()));
    std::vector<CTKString> row;
    ASSERT_TRUE(reader.NextRow(row));
    ASSERT_TRUE(reader.NextRow(row));
    EXPECT_FALSE(reader.NextRow(row));
    ASSERT_TRUE(reader.GoToFirstRow());
    ASSERT_TRUE(reader.GetFields(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"a", u"b"}));
    ASSERT_TRUE(reader.NextRow(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"1", u"2"}));

    ASSERT_TRUE(reader.Open(second.c_str())) << Show(reader.GetLastError());
    ASSERT_TRUE(reader.GetFields(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"y", u"z"}));
    ASSERT_TRUE(reader.NextRow(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"5", u"6"}));
    EXPECT_FALSE(reader.NextRow(row));
}

TEST(CsvReader, MovingHandsTheOpenFileOver) {
    static_assert(!std::is_copy_constructible_v<CTKCSVFileReader>);
    static_assert(!std::is_copy_assignable_v<CTKCSVFileReader>);
    static_assert(std::is_nothrow_move_constructible_v<CTKCSVFileReader>);
    TempFolder dir;
    std::string path = dir.Write("m.csv", "h\n1\n2\n");
    CTKCSVFileReader first;
    ASSERT_TRUE(first.Open(Wide(path).c_str()));
    std::vector<CTKString> row;
    ASSERT_TRUE(first.NextRow(row));
    CTKCSVFileReader second(std::move(first));
    ASSERT_TRUE(second.NextRow(row));
    EXPECT_EQ(U16(row), std::vector<std::u16string>{u"2"});
    // The moved-from reader is a new, closed reader and can be reused.
    EXPECT_FALSE(first.NextRow(row));
    EXPECT_EQ(std::u16string(first.GetLastError()), u"未打开文件!");
    ASSERT_TRUE(first.Open(Wide(path).c_str()));
    second = std::move(first);
    ASSERT_TRUE(second.NextRow(row));
    EXPECT_EQ(U16(row), std::vector<std::u16string>{u"1"});
}

TEST(CsvReader, FieldsKeptFromEarlierRowsStayIntact) {
    // NextRow writes over the strings of the vector it is given; copies the
    // caller made of them must not change.
    TempFolder dir;
    std::string path = dir.Write("k.csv", "h\nfirst,second,third\nx\n\"\",y\n");
    CTKCSVFileReader reader;
    ASSERT_TRUE(reader.Open(Wide(path).c_str()));
    std::vector<CTKString> row;
    ASSERT_TRUE(reader.NextRow(row));
    std::vector<CTKString> kept = row;
    CTKString alone = row[1];
    ASSERT_TRUE(reader.NextRow(row));
    EXPECT_EQ(U16(row), std::vector<std::u16string>{u"x"});
    EXPECT_EQ(U16(kept), (std::vector<std::u16string>{u"first", u"second", u"third"}));
    EXPECT_EQ(U16(alone), u"second");
    ASSERT_TRUE(reader.NextRow(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"", u"y"}));
    EXPECT_FALSE(reader.NextRow(row));
    EXPECT_TRUE(row.empty());
}

// ---- the buffer and its windows ---------------------------------------------------------

constexpr std::size_t kWindow = 409600;

// A file without a line of content is refused. The buffer is one window
// (409600 bytes) plus one byte: a line of 409599 bytes and its line feed fit,
// at the start or after a move; 409601 bytes in one line do not.
TEST(CsvBuffer, EmptyFilesAndLongestLines) {
    const std::u16string empty = u"CSV数据为空或格式无效!";
    const std::u16string tooLong = u"文件中数据的行长度超过缓存长度(409600字节)，处理失败!";
    const struct {
        const char* name;
        std::string bytes;
        bool opened;
        std::size_t headerLength, rows;  // rows read before the end or the error
        std::u16string error;
    } rows[] = {
        {"empty file", "", false, 0, 0, empty},
        {"mark only", "\xEF\xBB\xBF", false, 0, 0, empty},
        {"blank lines", "\n \n\t\n", false, 0, 0, empty},
        {"zeros", std::string(10, '\0'), false, 0, 0, empty},
        {"one whole window", std::string(kWindow - 1, 'x') + "\n", true, kWindow - 1, 0, u""},
        {"longest after a move", "h\n" + std::string(kWindow - 1, 'y') + "\nend\n", true, 1, 2,
         u""},
        {"header too long", std::string(kWindow + 1, 'x'), false, 0, 0, tooLong},
        {"row too long", "h\n" + std::string(kWindow, 'y') + "\nz\n", true, 1, 0, tooLong},
    };
    TempFolder dir;
    for (const auto& row : rows) {
        ReadResult r = ReadAll(dir.Write("w.csv", row.bytes));
        EXPECT_EQ(r.opened, row.opened) << row.name;
        EXPECT_EQ(r.header.empty() ? 0 : r.header[0].size(), row.headerLength) << row.name;
        ASSERT_EQ(r.rows.size(), row.rows) << row.name;
        EXPECT_EQ(r.error, row.error) << row.name;
        if (row.rows) {
            EXPECT_EQ(r.rows[0][0].size(), kWindow - 1) << row.name;
            EXPECT_EQ(r.rows[1], std::vector<std::u16string>{u"end"}) << row.name;
        }
    }

    // After a too-long row the reader stays there until it rewinds.
    CTKCSVFileReader reader;
    ASSERT_TRUE(reader.Open(Wide(dir.Write("b.csv", rows[7].bytes)).c_str()));
    std::vector<CTKString> fields;
    EXPECT_FALSE(reader.NextRow(fields));
    EXPECT_FALSE(reader.NextRow(fields));
    EXPECT_EQ(std::u16string(reader.GetLastError()), tooLong);
    ASSERT_TRUE(reader.GoToFirstRow());
    EXPECT_EQ(std::u16string(reader.GetLastError()), u"");
}

TEST(CsvBuffer, LastLineFillingTheFinalWindowWithoutLineFeed) {
    // Both windows are full; the file ends exactly at the end of the second
    // without a line feed. That last line must still come out.
    std::string first, second;
    for (int i = 0; i < 4096; ++i) first += std::string(99, 'a') + "\n";
    for (int i = 0; i < 4095; ++i) second += std::string(99, 'b') + "\n";
    second += std::string(100, 'c');
    ASSERT_EQ(first.size(), kWindow);
    ASSERT_EQ(second.size(), kWindow);
    TempFolder dir;
    ReadResult r = ReadAll(dir.Write("f.csv", first + second));
    ASSERT_TRUE(r.opened);
    ASSERT_EQ(r.rows.size(), 4095u + 4096u);
    EXPECT_EQ(r.rows.back(), std::vector<std::u16string>{std::u16string(100, u'c')});
    EXPECT_EQ(r.error, u"");
}

// Deterministic rows whose fields land on window edges at many offsets.
TEST(CsvBuffer, LargeFileStreamsThroughManyWindows) {
    std::string bytes =
        "\xEF\xBB\xBF"
        "id,text,quoted,num\n";
    Rows expected;
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    while (bytes.size() < 8 * kWindow + 1234) {
        std::size_t n = expected.size();
        std::string text(next() % 200, 'a' + n % 26);
        std::uint32_t chineseCount = next() % 5;
        std::string num = std::to_string(next() % 100000);
        std::string chinese;
        for (std::uint32_t k = 0; k < chineseCount; ++k) chinese += "\xE4\xB8\xAD";  // 中
        bytes += std::to_string(n) + "," + text + chinese + ",\"q,\"\"" + num + "\"\"\"," + num +
                 (n % 3 == 0 ? "\r\n" : "\n");
        expected.push_back({Wide(std::to_string(n)),
                            Wide(text) + std::u16string(chineseCount, u'中'),
                            u"q,\"" + Wide(num) + u"\"", Wide(num)});
    }
    TempFolder dir;
    ReadResult r = ReadAll(dir.Write("big.csv", bytes));
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.header, (std::vector<std::u16string>{u"id", u"text", u"quoted", u"num"}));
    ASSERT_EQ(r.rows.size(), expected.size()) << Show(r.error);
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(r.rows[i], expected[i]) << "row " << i;
    EXPECT_EQ(r.error, u"");
}

TEST(CsvBuffer, FilePastFourGiBIsMeasuredIn64Bits) {
    // Sparse: the header, then zeros (skipped like blank lines). A 32-bit
    // length would be 2 and make the buffer too small for the header.
    TempFolder dir;
    std::string path = dir.Write("huge.csv", "name,value\n1,2\n");
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, (off_t{1} << 32) + 2) != 0) {
        close(fd);
        GTEST_SKIP() << "no sparse files here";
    }
    close(fd);
    CTKCSVFileReader reader;
    ASSERT_TRUE(reader.Open(Wide(path).c_str())) << Show(reader.GetLastError());
    std::vector<CTKString> row;
    ASSERT_TRUE(reader.GetFields(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"name", u"value"}));
    ASSERT_TRUE(reader.NextRow(row));
    EXPECT_EQ(U16(row), (std::vector<std::u16string>{u"1", u"2"}));
}

}  // namespace

// ---- failures while reading -------------------------------------------------------

namespace {

// Fails the nth read from now (1-based) half way, with EIO.
int g_readsBeforeFault;

int FailNthRead(tk::platform::FileCall call, std::size_t& bytes) {
    if (call != tk::platform::FileCall::kRead || --g_readsBeforeFault != 0) return 0;
    bytes /= 2;
    return EIO;
}

int OpenDescriptors() {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
    return n;
}

}  // namespace

TEST(CsvReader, ReadFailingHalfWayStopsWithTheErrorNeverAsTheEnd) {
    // Three windows of rows; the reads are: the byte-order mark, the first
    // window, then the refill that fails half way.
    std::string bytes = "id,name\n";
    for (int i = 0; bytes.size() < 3 * kWindow; ++i)
        bytes += std::to_string(i) + ",name " + std::to_string(i) + "\n";
    TempFolder dir;
    const std::u16string path = Wide(dir.Write("rows.csv", bytes));
    const int descriptors = OpenDescriptors();
    {
        g_readsBeforeFault = 3;
        tk::platform::SetReadFaultHook(FailNthRead);
        CTKCSVFileReader reader;
        ASSERT_TRUE(reader.Open(path.c_str()));
        std::vector<CTKString> row;
        int rows = 0;
        bool intact = true;
        while (reader.NextRow(row)) {
            intact = intact && U16(row) == (std::vector<std::u16string>{
                                               Wide(std::to_string(rows)),
                                               u"name " + Wide(std::to_string(rows))});
            ++rows;
        }
        tk::platform::SetReadFaultHook(nullptr);
        EXPECT_TRUE(intact);
        EXPECT_GT(rows, 1000);
        EXPECT_EQ(std::u16string(reader.GetLastError()), u"读取 " + path + u" 失败，错误码: 5");

        // Rewinding reads the whole file again once the device recovers.
        ASSERT_TRUE(reader.GoToFirstRow());
        int all = 0;
        while (reader.NextRow(row)) ++all;
        EXPECT_GT(all, rows);
        EXPECT_EQ(std::u16string(reader.GetLastError()), u"");
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

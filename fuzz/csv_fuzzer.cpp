// Differential fuzzing of CTKCSVFileReader. The input becomes a real file;
// the reader's rows are compared with a plain reference that applies the
// same line and field rules to the whole content at once, so faults in the
// windowed buffer (tail moves, refills, the line-length limit) show up as
// differences.
//
// The first input byte picks a shape, so that small inputs also reach the
// 409600-byte buffer limit (the large shapes are slow, so they get three
// values out of sixteen):
//   bits 0-3  0-12: the rest as is
//             13: a header line, then a line of nearly 409600 bytes that
//                 runs into the rest (lengths just under and over the limit)
//             14: the rest repeated past two buffer windows, between long
//                 filler lines
//             15: the rest starting a few bytes before the first window's end
//   bit 4     ANSI code page 936 instead of 1252 for unmarked files
//   bits 5-7  k, a small length adjustment
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <string>
#include <vector>

#include "tavikfcu/TKFile.h"

namespace {

constexpr std::size_t kWindow = 409600;

#define CHECK(cond)                                                                \
    do {                                                                           \
        if (!(cond)) {                                                             \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); \
            __builtin_trap();                                                      \
        }                                                                          \
    } while (0)

std::string Shape(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t control = data[0];
    const std::size_t k = control >> 5;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (control & 15) {
        case 13:
            return "h\n" + std::string(kWindow - 16 + k, 'x') + rest;
        case 14: {
            // Long filler lines between the copies keep the row count low
            // while the copies land at ever different window offsets.
            if (rest.empty()) return rest;
            std::string out;
            while (out.size() < 2 * kWindow + k)
                out += rest + "\n" + std::string(3000 + k, 'f') + "\n";
            return out;
        }
        case 15:
            // One long line that ends just before the first window's end.
            return "h\n" + std::string(kWindow - 11 - k, 'p') + "\n" + rest;
        default:
            return rest;
    }
}

// ---- the reference: the same rules over the whole content --------------------------

struct Expected {
    bool open = false;
    bool tooLong = false;                        // the reading stops at a line that does not fit
    std::vector<std::vector<std::string>> rows;  // rows[0] is the header; bytes
};

std::vector<std::string> SplitFields(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t commas = 0, i = 0, n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == n) break;
        std::string field;
        if (line[i] == '"') {
            bool closed = false;
            for (++i; i < n; ++i) {
                if (line[i] != '"') {
                    field += line[i];
                } else if (i + 1 < n && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            fields.push_back(field);
            if (!closed) break;
            while (i < n && line[i] != ',') ++i;
            if (i == n) break;
            ++commas;
            ++i;
        } else {
            std::size_t comma = std::min(line.find(',', i), n);
            field.assign(line, i, comma - i);
            i = comma;
            while (!field.empty() && (field.back() == ' ' || field.back() == '\t'))
                field.pop_back();
            fields.push_back(field);
            if (i == n) break;
            ++commas;
            ++i;
        }
    }
    if (fields.size() <= commas) fields.emplace_back();
    return fields;
}

Expected Reference(const std::string& content, bool& utf8) {
    static const std::string kSkipped("\0\t\n ", 4);
    static const std::string kLineEnds("\n\0", 2);
    Expected e;
    const std::size_t bufferSize = content.size() < kWindow ? content.size() + 1 : kWindow;
    utf8 = bufferSize > 3 && content.compare(0, 3, "\xEF\xBB\xBF") == 0;
    std::size_t i = utf8 ? 3 : 0;
    for (;;) {
        i = content.find_first_not_of(kSkipped, i);
        if (i == std::string::npos) break;
        std::size_t j = content.find_first_of(kLineEnds, i);
        if (j == std::string::npos) j = content.size();
        if (j - i >= bufferSize) {
            e.tooLong = true;
            break;
        }
        e.rows.push_back(SplitFields(content.substr(i, j - i)));
        i = j;
    }
    e.open = !e.rows.empty();
    return e;
}

std::u16string Decode(const std::string& bytes, bool utf8) {
    if (bytes.empty()) return std::u16string();
    if (!utf8) {
        CTKString s(bytes.data(), static_cast<int>(bytes.size()));
        return std::u16string(static_cast<const TKWCHAR*>(s), s.GetLength());
    }
    std::vector<TKWCHAR> out(bytes.size() + 1);
    int units =
        TKStringUtils::UTF82Unicode(bytes.c_str(), out.data(), static_cast<int>(out.size()));
    CHECK(units >= 1);
    return std::u16string(out.data(), static_cast<std::size_t>(units - 1));
}

std::u16string Text(const CTKString& s) {
    return std::u16string(static_cast<const TKWCHAR*>(s), s.GetLength());
}

const std::u16string kTooLong = u"文件中数据的行长度超过缓存长度(409600字节)，处理失败!";

// Reads every row and checks it against the reference; returns the rows read.
std::size_t ReadAndCompare(CTKCSVFileReader& reader, const Expected& e, bool utf8) {
    std::vector<CTKString> row;
    CHECK(reader.GetFields(row));
    CHECK(row.size() == e.rows[0].size());
    for (std::size_t f = 0; f < row.size(); ++f) CHECK(Text(row[f]) == Decode(e.rows[0][f], utf8));
    std::size_t r = 1;
    for (; reader.NextRow(row); ++r) {
        CHECK(r < e.rows.size());
        CHECK(row.size() == e.rows[r].size());
        for (std::size_t f = 0; f < row.size(); ++f)
            CHECK(Text(row[f]) == Decode(e.rows[r][f], utf8));
    }
    CHECK(row.empty());
    CHECK(r == e.rows.size());
    const std::u16string error = reader.GetLastError();
    CHECK(error == (e.tooLong ? kTooLong : u""));
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/tk_csv_fuzz_" + std::to_string(getpid()) + ".csv";
    const std::string content = Shape(data, size);
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    } else {
        return 0;
    }
    const unsigned int codePage = (data[0] & 16) ? 936 : 1252;
    CHECK(tkSetAnsiCodePage(codePage));

    bool utf8 = false;
    const Expected e = Reference(content, utf8);
    const std::u16string wpath(path.begin(), path.end());
    CTKCSVFileReader reader;
    const bool opened = reader.Open(wpath.c_str());
    CHECK(opened == e.open);
    if (!opened) {
        const std::u16string error = reader.GetLastError();
        CHECK(error == (e.tooLong ? kTooLong : u"CSV数据为空或格式无效!"));
    } else {
        const std::size_t first = ReadAndCompare(reader, e, utf8);
        // A rewind gives the same rows again, also in a moved reader.
        CHECK(reader.GoToFirstRow());
        CTKCSVFileReader moved(std::move(reader));
        CHECK(ReadAndCompare(moved, e, utf8) == first);
    }
    CHECK(tkSetAnsiCodePage(65001));
    return 0;
}

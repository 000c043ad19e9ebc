// TKFile.h — reading CSV files row by row; the clock and local date-time text.
//
// CTKCSVFileReader streams a comma-separated file through one buffer of at
// most 409600 bytes, so files of any size are read in bounded memory. The
// first row is the header; every later row comes out as a vector of fields.
// Text is UTF-8 when the file starts with a UTF-8 byte-order mark, otherwise
// the library's ANSI code page (see tkSetAnsiCodePage):
//
//     CTKCSVFileReader reader;
//     if (!reader.Open(TKL("data\\cities.csv"))) {
//         Log(reader.GetLastError());      // e.g. "打开 data\cities.csv 失败，错误码: 2"
//         return;
//     }
//     std::vector<CTKString> names, row;
//     reader.GetFields(names);             // the header row
//     while (reader.NextRow(row)) Use(names, row);
//     if (*reader.GetLastError()) Log(reader.GetLastError());   // stopped early
//
// Field rules: fields are separated by commas; blanks (spaces and tabs)
// before a field and after an unquoted field are dropped; a field that opens
// with '"' runs to the next lone '"', with "" standing for one quote and
// commas kept; whatever follows its closing quote up to the next comma is
// dropped. A line ending in a comma has an empty last field. A quoted field
// cannot span lines. Blank lines of LF files are skipped; a CR line end is
// dropped, so an empty CRLF line is a row of one empty field. No line may be
// longer than the buffer.
//
// TKTimeUtils handles times as unsigned 32-bit seconds since 1970-01-01
// 00:00:00 UTC (instants up to the year 2106) and local date-time text in the
// form 2024-03-05 08:07:09, in the zone the C library's TZ setting names:
//
//     unsigned int t = TKTimeUtils::GetTimeFromStr(TKL("2024-03-05 08:07:09"));
//     CTKString text = TKTimeUtils::FormatTime(t);   // "2024-03-05 08:07:09"
//
// Threads: a reader keeps no shared state; each reader is used by one thread
// at a time, different readers are independent. The time functions are
// reentrant. The strings a reader hands out are the caller's own.
#ifndef TAVIKFCU_TKFILE_H
#define TAVIKFCU_TKFILE_H

#include <vector>

#include "TKString.h"
#include "TKTypes.h"

// ---- CSV reader -----------------------------------------------------------------

class TK_API CTKCSVFileReader {
  public:
    // A reader with no file open.
    CTKCSVFileReader();
    // Closes the file and frees the buffer.
    ~CTKCSVFileReader();

    // Two readers cannot share one open file: copying is refused. Moving
    // hands the file, position and header over; the moved-from reader is
    // left like a new one, with no file open.
    CTKCSVFileReader(const CTKCSVFileReader&) = delete;
    CTKCSVFileReader& operator=(const CTKCSVFileReader&) = delete;
    CTKCSVFileReader(CTKCSVFileReader&& other) noexcept;
    CTKCSVFileReader& operator=(CTKCSVFileReader&& other) noexcept;

    // Closes any open file, opens path ('\' is read as '/'), sizes the buffer
    // (the file's length plus one up to 409600 bytes, else 409600), notes a
    // UTF-8 byte-order mark and reads the header row, as GoToFirstRow. On
    // failure GetLastError says why: "打开 <path> 失败，错误码: <errno>" when
    // the file cannot be opened or measured, or one of GoToFirstRow's
    // messages. A file that fails to open leaves the reader closed.
    bool Open(const TKWCHAR* path);

    // Replaces fields with a copy of the header. True when it has at least
    // one field.
    bool GetFields(std::vector<CTKString>& fields) const;

    // Empties row, then fills it with the next data row. False at the end of
    // the file (GetLastError empty) or on failure (GetLastError says why:
    // "未打开文件!"; "文件中数据的行长度超过缓存长度(409600字节)，处理失败!"
    // for a line that does not fit the buffer, after which the reader stays
    // at that line until GoToFirstRow; "读取 <path> 失败，错误码: <errno>"
    // when the file cannot be read). The strings already in row are written
    // over where they are; copies of them the caller made keep their text.
    bool NextRow(std::vector<CTKString>& row);

    // Rewinds to the start of the file, clears the error and reads the
    // header again, so that the next NextRow gives the first data row. False
    // with "未打开文件!" when no file is open and with "CSV数据为空或格式无效!"
    // when the first row yields no field (an empty file).
    bool GoToFirstRow();

    // The message of the last failure, or empty text. Valid until the next
    // call on this reader. Never null.
    const TKWCHAR* GetLastError() const;

  private:
    struct Impl;
    Impl* m_impl;  // null only after a move; recreated on demand
};

// ---- time utilities ---------------------------------------------------------------

namespace TKTimeUtils {

// The current time: seconds since 1970 UTC, low 32 bits of the clock.
TK_API unsigned int GetCurTime();

// t as local date and time "YYYY-MM-DD hh:mm:ss", e.g. "2024-03-05 08:07:09";
// FormatTime(0) is 1970-01-01 00:00:00 UTC shown in the local zone.
TK_API CTKString FormatTime(unsigned int t);

// FormatTime(GetCurTime()).
TK_API CTKString GetCurFormatTime();

// Parses local "Y-M-D" or "Y-M-D h:m:s" (the date ends at the first space
// after the second dash). Every number may be one or more digits with
// blanks around it and an optional leading '-' (so an hour of -0 is 0); year
// 1990..2500, month 1..12, day 1..31, hour 0..23, minute and second 0..59.
// Days past the month's end roll over (2024-02-30 is 2024-03-01). With fewer
// than two colons after the date the time is midnight and the rest is
// ignored. Instants past February 2106 wrap modulo 2^32. Returns 0xFFFFFFFF
// for null text or text that breaks these rules (slashes, a 'T' before the
// time, a stray character in a number).
TK_API unsigned int GetTimeFromStr(const TKWCHAR* text);

}  // namespace TKTimeUtils

#endif  // TAVIKFCU_TKFILE_H

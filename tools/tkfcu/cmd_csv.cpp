// tkfcu csv: the header and rows exactly as the library's CSV reader sees
// them, written back as CSV or as tab-separated values.
#include "tkfcu.h"

namespace tkfcu {

namespace {

// A field as CSV that the reader reads back the same: quoted when it holds a
// comma, a quote or a line break, or starts or ends with a blank (which the
// reader would trim).
void AppendCsvField(std::string& line, const std::string& field) {
    bool quote = field.find_first_of(",\"\r\n") != std::string::npos ||
                 (!field.empty() && (field.front() == ' ' || field.front() == '\t' ||
                                     field.back() == ' ' || field.back() == '\t'));
    if (!quote) {
        line += field;
        return;
    }
    line += '"';
    for (char c : field) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

void AppendTsvField(std::string& line, const std::string& field) {
    for (char c : field) {
        switch (c) {
            case '\t':
                line += "\\t";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\\':
                line += "\\\\";
                break;
            default:
                line += c;
        }
    }
}

void WriteRow(const std::vector<CTKString>& fields, bool tsv, std::string& line) {
    line.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) line += tsv ? '\t' : ',';
        std::string field = ToUtf8(fields[i]);
        tsv ? AppendTsvField(line, field) : AppendCsvField(line, field);
    }
    line += '\n';
    Out(line);
}

[[noreturn]] void FailWithReader(const std::string& path, const CTKCSVFileReader& reader) {
    std::string message = ToUtf8(reader.GetLastError());
    if (message.find(path) == std::string::npos) message = path + ": " + message;
    Fail(message);
}

}  // namespace

int RunCsv(const Args& args) {
    args.Expect(1, 1);
    ApplyCodePage(args);
    const std::string& path = args[0];
    const bool tsv = args.Has("tsv");

    CTKCSVFileReader reader;
    if (!reader.Open(FromUtf8(path))) FailWithReader(path, reader);
    std::vector<CTKString> row;
    std::string line;
    reader.GetFields(row);
    WriteRow(row, tsv, line);
    while (reader.NextRow(row)) WriteRow(row, tsv, line);
    if (*reader.GetLastError()) FailWithReader(path, reader);
    return kExitOk;
}

}  // namespace tkfcu

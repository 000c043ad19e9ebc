// tkfcu json fmt / json get: the library's JSON reader, writer and key paths.
#include <cstring>

#include "sys.h"
#include "tkfcu.h"

namespace tkfcu {

namespace {

// The JSON file functions refuse files above this size; standard input is
// held to the same ceiling.
constexpr std::uint64_t kMaxJsonBytes = 52428800;

// Takes over an error handle: its message, with the file named when the
// message does not name it already, becomes the failure.
[[noreturn]] void FailWithHandle(const std::string& path, std::uint64_t handle) {
    TKWCHAR* text = tkGetErrorW(handle, nullptr);
    std::string message = text ? ToUtf8(text) : std::string("unknown error");
    tkFreeMem(text);
    tkCloseHandle(handle);
    if (message.find(path) == std::string::npos) message = path + ": " + message;
    Fail(message);
}

// Standard input decoded as the JSON file functions decode a file: UTF-8
// after a byte-order mark, else the ANSI code page; a zero byte ends the text.
CTKString ReadStdinText() {
    Input input("-");
    WholeInput whole(input, kMaxJsonBytes);
    std::string bytes(reinterpret_cast<const char*>(whole.Data()), whole.Size());
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return FromUtf8(bytes.substr(3).c_str());  // stops at a zero byte
    return CTKString(bytes.c_str());
}

void WriteUtf8(char* text, const char* lineEnd) {
    Out(text, std::strlen(text));
    tkFreeMem(text);
    Out(lineEnd);
}

}  // namespace

int RunJsonFmt(const Args& args) {
    args.Expect(0, 1);
    ApplyCodePage(args);
    const std::string path = args.Count() ? args[0] : "-";
    const bool formatted = !args.Has("compact");

    CMyJsonValue value;
    if (path == "-") {
        CTKString error;
        if (!value.Load(ReadStdinText(), error)) Fail("-: 无效的json，" + ToUtf8(error));
    } else {
        std::uint64_t handle = 0;
        if (!TKJsonUtils::ReadJsonFileEx(FromUtf8(path), value, &handle))
            FailWithHandle(path, handle);
    }
    // Formatted text has CR LF line ends; its last line ends the same way.
    WriteUtf8(value.CreateUTF8Json(formatted), formatted ? "\r\n" : "\n");
    return kExitOk;
}

int RunJsonGet(const Args& args) {
    args.Expect(2, 2);
    ApplyCodePage(args);
    const std::string& path = args[0];
    const std::string& keyPath = args[1];

    CMyJsonObj doc;
    if (path == "-") {
        if (!doc.Load(ReadStdinText())) Fail("-: " + ToUtf8(doc.GetErrMsg()));
    } else {
        std::uint64_t handle = 0;
        if (!TKJsonUtils::ReadJsonFile(FromUtf8(path), doc, &handle)) FailWithHandle(path, handle);
    }

    CMyJsonValue* value = nullptr;
    if (!doc.Value(FromUtf8(keyPath), value)) Fail(path + ": no value at key path " + keyPath);
    if (value->IsStr()) {
        Out(ToUtf8(value->ValueStr()));
        Out("\n");
    } else if (value->IsEmpty()) {
        Out("null\n");
    } else {
        WriteUtf8(value->CreateUTF8Json(false), "\n");
    }
    return kExitOk;
}

}  // namespace tkfcu

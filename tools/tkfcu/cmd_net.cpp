// tkfcu url / get over the library's internet client. A library built
// without the client (no TK_HAVE_NET) still has both commands; they say that
// they are not available.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sys.h"
#include "tkfcu.h"

#if defined(TK_HAVE_NET)
#include "tavikfcu/TKNet.h"
#endif

namespace tkfcu {

bool HaveInternetClient() {
#if defined(TK_HAVE_NET)
    return true;
#else
    return false;
#endif
}

#if defined(TK_HAVE_NET)

namespace {

// The exception's text and code; the exception is deleted here, as its
// catcher must.
std::string MessageOf(CTKInternetException* e) {
    TKWCHAR text[1024] = {};
    e->GetErrorMessage(text, sizeof text / sizeof text[0], nullptr);
    std::string message = ToUtf8(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    message += (message.empty() ? "error " : " (error ") + std::to_string(e->m_error) +
               (message.empty() ? "" : ")");
    // The client throws exactly this class, whose destructor is not virtual.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
    delete e;
#pragma GCC diagnostic pop
    return message;
}

std::string Size(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    while (bytes >= 1024 && u < 4) {
        bytes /= 1024;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, u ? "%.1f %s" : "%.0f %s", bytes, units[u]);
    return text;
}

// Bytes so far, the rate and, when the length is known, the time left.
class ProgressBar {
  public:
    explicit ProgressBar(std::uint64_t total) : m_total(total), m_on(StderrIsTerminal()) {}

    void Update(std::uint64_t bytes, bool final) {
        if (!m_on) return;
        auto now = std::chrono::steady_clock::now();
        if (!final && now - m_drawn < std::chrono::milliseconds(200)) return;
        m_drawn = now;
        double seconds = std::chrono::duration<double>(now - m_start).count();
        double rate = seconds > 0 ? bytes / seconds : 0;
        std::string line = Size(static_cast<double>(bytes));
        if (m_total) {
            int percent = static_cast<int>(100.0 * bytes / m_total);
            int filled = percent / 5;
            line = "[" + std::string(filled, '#') + std::string(20 - filled, ' ') + "] " +
                   std::to_string(percent) + "%  " + line + " of " +
                   Size(static_cast<double>(m_total));
        }
        line += "  " + Size(rate) + "/s";
        if (m_total && rate > 0 && !final) {
            auto left = static_cast<std::uint64_t>((m_total - std::min(bytes, m_total)) / rate);
            char eta[32];
            std::snprintf(eta, sizeof eta, "  ETA %u:%02u", static_cast<unsigned>(left / 60),
                          static_cast<unsigned>(left % 60));
            line += eta;
        }
        Progress(line);
        if (final) std::fputc('\n', stderr);
    }

  private:
    std::uint64_t m_total;
    bool m_on;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_drawn{};
};

// Where the body goes: standard output, or a file that is removed again
// unless the download completes.
class Sink {
  public:
    explicit Sink(const std::string* path) : m_path(path ? *path : std::string()) {
        if (!path) return;
        m_file = std::fopen(path->c_str(), "wb");
        if (!m_file) Fail(*path + ": " + std::strerror(errno));
    }
    ~Sink() {
        if (!m_file) return;
        std::fclose(m_file);  // an unfinished download leaves no file behind
        std::remove(m_path.c_str());
    }
    void Write(const void* bytes, std::size_t size) {
        if (!m_file) return Out(bytes, size);
        if (std::fwrite(bytes, 1, size, m_file) != size) Fail(m_path + ": " + std::strerror(errno));
    }
    void Finish() {
        if (!m_file) return;
        FILE* f = m_file;
        m_file = nullptr;
        if (std::fclose(f) != 0) {
            std::remove(m_path.c_str());
            Fail(m_path + ": " + std::strerror(errno));
        }
    }

  private:
    std::string m_path;
    FILE* m_file = nullptr;
};

void Download(const std::string& url, const std::string* outPath) {
    Sink sink(outPath);
    CTKInternetSession session(TKL("tkfcu/" TKFCU_VERSION), 1, INTERNET_OPEN_TYPE_PRECONFIG,
                               nullptr, nullptr, 0);
    std::unique_ptr<CTKHttpFile> file(
        session.OpenURL(FromUtf8(url), 1, INTERNET_FLAG_RELOAD, nullptr, 0));
    if (!file) Fail(url + ": not an HTTP or HTTPS URL");

    std::uint32_t status = 0;
    file->QueryInfoStatusCode(status);
    if (status >= 400) {
        CTKString reason;
        file->QueryInfo(HTTP_QUERY_STATUS_TEXT, reason, nullptr);
        Fail(url + ": HTTP " + std::to_string(status) + (reason.IsEmpty() ? "" : " ") +
             ToUtf8(reason));
    }
    CTKString lengthText;
    file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText, nullptr);
    std::uint64_t total = std::strtoull(ToUtf8(lengthText).c_str(), nullptr, 10);

    ProgressBar progress(total);
    static char buffer[1 << 16];
    std::uint64_t received = 0;
    for (;;) {
        unsigned int n = file->Read(buffer, sizeof buffer);
        if (n == 0) break;
        sink.Write(buffer, n);
        received += n;
        progress.Update(received, false);
    }
    progress.Update(received, true);
    file.reset();  // files before their session
    sink.Finish();
}

}  // namespace

int RunUrl(const Args& args) {
    args.Expect(1, 1);
    std::uint32_t service = 0;
    unsigned short port = 0;
    CTKString host, path, user, password;
    if (!tkParseURLEx(FromUtf8(args[0]), service, host, path, port, user, password, 0))
        Fail(args[0] + ": not a URL the library can parse");
    Out("service: " + std::to_string(service) + "\nhost: " + ToUtf8(host) +
        "\nport: " + std::to_string(port) + "\npath: " + ToUtf8(path) + "\nuser: " + ToUtf8(user) +
        "\npassword: " + ToUtf8(password) + "\n");
    return kExitOk;
}

int RunGet(const Args& args) {
    args.Expect(1, 1);
    try {
        Download(args[0], args.Value("output"));
    } catch (CTKInternetException* e) {
        Fail(args[0] + ": " + MessageOf(e));
    }
    return kExitOk;
}

#else  // no internet client in this build

namespace {

[[noreturn]] void NotAvailable(const char* command) {
    Fail(std::string(command) +
         " is not available: this build of the library has no internet client");
}

}  // namespace

int RunUrl(const Args& args) {
    args.Expect(1, 1);
    NotAvailable("url");
}

int RunGet(const Args& args) {
    args.Expect(1, 1);
    NotAvailable("get");
}

#endif

}  // namespace tkfcu

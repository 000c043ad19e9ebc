// Connections, requests and streaming files against nginx and the scripted
// server on 127.0.0.1: the buffer algorithms, bodies both ways, redirects,
// cookies, queries, seeking and bounded memory.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "net/platform/inet.h"
#include "net_test_support.h"
#include "tavikfcu/TKNet.h"

namespace {

using nettest::CodeThrownBy;
using S = nettest::ScriptedServer;

std::u16string Text(const CTKString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(static_cast<const TKWCHAR*>(s)),
                          std::size_t(s.GetLength()));
}

// The request head the file reports having sent.
std::string SentHead(CTKHttpFile* file) {
    CTKString sent;
    EXPECT_TRUE(
        file->QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS, sent));
    std::u16string wide = Text(sent);
    return std::string(wide.begin(), wide.end());
}

std::string ReadAll(CTKInternetFile* file, unsigned int chunk = 4096) {
    std::string out;
    std::vector<char> buf(chunk);
    while (unsigned int n = file->Read(buf.data(), chunk)) out.append(buf.data(), n);
    return out;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A byte of a deterministic body at offset i.
inline char Pattern(std::uint64_t i) {
    return char((i * 2654435761u) >> 13);
}

// Owns a session, a connection and a request.
struct Exchange {
    Exchange(unsigned short port, const TKWCHAR* verb, const TKWCHAR* object,
             std::uint32_t flags = INTERNET_FLAG_EXISTING_CONNECT,
             const TKWCHAR* agent = TKL("tk-test"))
        : session(agent) {
        conn = session.GetHttpConnection(TKL("127.0.0.1"), port);
        file = conn->OpenRequest(verb, object, nullptr, 1, nullptr, nullptr, flags);
    }
    ~Exchange() {
        delete file;
        delete conn;
    }
    CTKInternetSession session;
    CTKHttpConnection* conn;
    CTKHttpFile* file;
};

// Echoes the request: the head, then the body it declared; a HEAD gets the
// length of that echo and no body.
void EchoScript(int fd, const std::atomic<bool>&) {
    for (;;) {
        std::string head = S::ReadHead(fd);
        if (head.empty()) return;
        if (head.compare(0, 5, "HEAD ") == 0) {
            S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(head.size()) +
                            "\r\n\r\n");
            continue;
        }
        std::size_t at = head.find("Content-Length: ");
        std::size_t length = at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
        std::string body(length, '\0');
        std::size_t got = 0;
        while (got < length) {
            ssize_t n = recv(fd, &body[got], length - got, 0);
            if (n <= 0) return;
            got += std::size_t(n);
        }
        std::string reply = head + body;
        S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.size()) +
                        "\r\nX-Rep: one\r\nX-Rep: two\r\n\r\n" + reply);
    }
}

// ---- buffers: the worked examples ---------------------------------------------------------

TEST(HttpFile, ReadBufferRefillsAsDocumented) {
    // Ten bytes, a pause, then the rest: the first refill holds exactly ten.
    S server([](int fd, const std::atomic<bool>&) {
        S::ReadHead(fd);
        S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\n0123456789");
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        S::Send(fd, "abcdefghijklmnopqrst");
    });
    Exchange x(server.Port(), TKL("GET"), TKL("/"));
    x.file->SendRequest();
    ASSERT_EQ(x.file->SetReadBufferSize(16), 1);
    char buf[32] = {};
    ASSERT_EQ(x.file->Read(buf, 4), 4u);  // refills with 10, hands out 4
    EXPECT_EQ(std::string(buf, 4), "0123");
    ASSERT_EQ(x.file->Read(buf, 8), 8u);  // 6 buffered + 2 from a new refill
    EXPECT_EQ(std::string(buf, 8), "456789ab");
    EXPECT_EQ(x.file->SetReadBufferSize(0xFFFFFFFFu), 1);
    EXPECT_EQ(x.file->SetReadBufferSize(1), 0);   // below the read position
    EXPECT_EQ(x.file->SetReadBufferSize(64), 1);  // keeps the unread bytes
    EXPECT_EQ(x.file->Read(buf, 32), 18u);
    EXPECT_EQ(std::string(buf, 18), "cdefghijklmnopqrst");
    // Seeking is for unbuffered reading only.
    EXPECT_EQ(CodeThrownBy([&] { x.file->Seek(0, 1); }), std::uint32_t(ERROR_INVALID_HANDLE));
}

TEST(HttpFile, ReadStringPacksBytesAndDropsCarriageReturns) {
    std::string longLine(300, 'L');
    S server([&](int fd, const std::atomic<bool>&) {
        S::ReadHead(fd);
        std::string body = "ab\r\ncd\n" + longLine + "\nlast";
        S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n" + body);
    });
    Exchange x(server.Port(), TKL("GET"), TKL("/"));
    x.file->SendRequest();
    TKWCHAR line[16];
    std::memset(line, 0x55, sizeof line);
    ASSERT_NE(x.file->ReadString(line, 16), nullptr);
    const unsigned char expect[] = {'a', 'b', '\n', 0, 0, 0};
    EXPECT_EQ(std::memcmp(line, expect, sizeof expect), 0);  // odd count: three zeros
    ASSERT_NE(x.file->ReadString(line, 16), nullptr);
    const unsigned char expect2[] = {'c', 'd', '\n', 0, 0, 0};
    EXPECT_EQ(std::memcmp(line, expect2, sizeof expect2), 0);
    // A line longer than one piece comes back whole, without its line feed:
    // 300 bytes packed two to a character.
    CTKString text;
    ASSERT_EQ(x.file->ReadString(text), 1);
    EXPECT_EQ(text.GetLength(), 150);
    ASSERT_EQ(x.file->ReadString(text), 1);  // "last" without an end of line
    EXPECT_EQ(text.GetLength(), 2);
    EXPECT_EQ(x.file->ReadString(line, 16), nullptr);
    EXPECT_EQ(x.file->ReadString(text), 0);
}

// ---- bodies both ways ---------------------------------------------------------------

TEST(HttpFile, PostBodyAndStreamedUploadArriveByteForByte) {
    S echo(EchoScript);
    std::string body;
    for (int i = 0; i < 100000; ++i) body.push_back(Pattern(std::uint64_t(i)));
    {
        Exchange x(echo.Port(), TKL("POST"), TKL("/form"));
        x.file->SendRequest(TKL("Content-Type: application/octet-stream\r\n"), std::uint32_t(-1),
                            body.data(), std::uint32_t(body.size()));
        std::string reply = ReadAll(x.file);
        ASSERT_GT(reply.size(), body.size());
        EXPECT_EQ(reply.substr(0, 10), "POST /form");
        // The request head the file reports is the one the server received.
        EXPECT_EQ(SentHead(x.file), reply.substr(0, reply.size() - body.size()));
        EXPECT_EQ(reply.substr(reply.size() - body.size()), body);
        // Repeated headers through the index; past the last, 12150.
        std::uint32_t index = 0;
        CTKString value;
        const TKWCHAR* name = TKL("X-Rep");
        std::vector<std::u16string> seen;
        for (;;) {
            TKWCHAR buf[32];
            std::memcpy(buf, name, 12);
            std::uint32_t length = 32;
            if (!x.file->QueryInfo(HTTP_QUERY_CUSTOM, buf, &length, &index)) break;
            seen.push_back(reinterpret_cast<const char16_t*>(buf));
        }
        EXPECT_EQ(seen, (std::vector<std::u16string>{u"one", u"two"}));
    }
    {
        // Also for a GET with credentials, a referrer and the default version.
        CTKInternetSession session;
        CTKHttpConnection* conn =
            session.GetHttpConnection(TKL("127.0.0.1"), echo.Port(), TKL("u"), TKL("p"));
        CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/a b"), TKL("http://ref.test/"));
        file->AddRequestHeaders(TKL("X-Empty:"), HTTP_ADDREQ_FLAG_ADD);
        file->SendRequest();
        std::string reply = ReadAll(file);
        EXPECT_EQ(SentHead(file), reply);
        delete file;
        delete conn;
    }
    REQUIRE_NGINX(nginx);
    {
        // A streamed PUT through a write buffer; the total becomes Content-Length.
        const std::uint32_t total = 3 * 1024 * 1024 + 17;
        Exchange x(nginx->Port(), TKL("PUT"), TKL("/upload/streamed.bin"));
        x.file->SendRequestEx(total);
        x.file->SetWriteBufferSize(10000);
        std::string chunk;
        for (std::uint32_t done = 0; done < total;) {
            std::uint32_t n = std::min<std::uint32_t>(total - done, 7919);
            chunk.clear();
            for (std::uint32_t i = 0; i < n; ++i) chunk.push_back(Pattern(done + i));
            x.file->Write(chunk.data(), n);
            done += n;
        }
        x.file->Write("", 0);  // accepted
        x.file->Flush();
        x.file->EndRequest();
        std::uint32_t status = 0;
        ASSERT_TRUE(x.file->QueryInfoStatusCode(status));
        EXPECT_EQ(status, 201u);
        std::string stored = FileBytes(nginx->Html() + "/upload/streamed.bin");
        ASSERT_EQ(stored.size(), total);
        bool same = true;
        for (std::uint32_t i = 0; i < total && same; ++i) same = stored[i] == Pattern(i);
        EXPECT_TRUE(same);
    }
    {
        Exchange x(nginx->Port(), TKL("PUT"), TKL("/upload/text.txt"));
        x.file->SendRequestEx(6);
        x.file->WriteString(TKL("abc"));  // UTF-16: six bytes
        x.file->EndRequest();
        EXPECT_EQ(FileBytes(nginx->Html() + "/upload/text.txt"), std::string("a\0b\0c\0", 6));
    }
}

TEST(HttpFile, RequestsInTurnOnOneConnectionGoOutAsEachIsSetUp) {
    // One kept connection whose requests are each set up unlike the one
    // before: none carries a verb, body, header, agent or version of an
    // earlier one, and each reported head is the head the server received.
    std::atomic<int> connections{0};
    S echo([&](int fd, const std::atomic<bool>& stopping) {
        ++connections;
        EchoScript(fd, stopping);
    });
    CTKInternetSession session(TKL("first agent"));
    CTKHttpConnection* conn = session.GetHttpConnection(TKL("127.0.0.1"), echo.Port());
    struct Step {
        const TKWCHAR* verb;
        const TKWCHAR* version;  // null: the default, HTTP/1.0
        const TKWCHAR* headers;
        std::string body;
        bool streamed;
        std::vector<std::string> present, absent;  // in the head received
    } steps[] = {
        {TKL("POST"),
         TKL("HTTP/1.1"),
         TKL("X-One: 1"),
         "abc",
         false,
         {"POST /step HTTP/1.1\r\n", "X-One: 1\r\n", "Content-Length: 3\r\n",
          "User-Agent: first agent\r\n"},
         {"Connection:"}},
        {TKL("GET"),
         nullptr,
         nullptr,
         "",
         false,
         {"GET /step HTTP/1.0\r\n", "Connection: Keep-Alive\r\n"},
         {"X-One", "Content-Length", "Content-Type"}},
        {TKL("HEAD"), TKL("HTTP/1.1"), nullptr, "", false, {}, {}},
        {TKL("PUT"),
         TKL("HTTP/1.1"),
         nullptr,
         "hello",
         true,
         {"PUT /step HTTP/1.1\r\n", "Content-Length: 5\r\n"},
         {"Connection:", "Authorization"}},
        // The connection's agent and credentials change before this one.
        {TKL("GET"),
         TKL("HTTP/1.1"),
         nullptr,
         "",
         false,
         {"GET /step HTTP/1.1\r\n", "User-Agent: second agent\r\n",
          "Authorization: Basic dTpw\r\n"},
         {"first agent", "Content-Length"}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        Step& step = steps[i];
        if (i == 4) {
            TKWCHAR agent[] = TKL("second agent"), user[] = TKL("u"), password[] = TKL("p");
            ASSERT_TRUE(conn->SetOption(INTERNET_OPTION_USER_AGENT, agent, sizeof agent));
            ASSERT_TRUE(conn->SetOption(INTERNET_OPTION_USERNAME, user, sizeof user));
            ASSERT_TRUE(conn->SetOption(INTERNET_OPTION_PASSWORD, password, sizeof password));
        }
        CTKHttpFile* file =
            conn->OpenRequest(step.verb, TKL("/step"), nullptr, 1, nullptr, step.version);
        if (step.headers) file->AddRequestHeaders(step.headers);
        if (step.streamed) {
            file->SendRequestEx(std::uint32_t(step.body.size()));
            file->Write(step.body.data(), unsigned(step.body.size()));
            file->EndRequest();
        } else {
            file->SendRequest(nullptr, 0, step.body.empty() ? nullptr : step.body.data(),
                              std::uint32_t(step.body.size()));
        }
        std::string reply = ReadAll(file);
        std::string head = SentHead(file);
        EXPECT_EQ(reply, i == 2 ? "" : head + step.body);
        for (const std::string& text : step.present)
            EXPECT_NE(head.find(text), std::string::npos) << text;
        for (const std::string& text : step.absent)
            EXPECT_EQ(head.find(text), std::string::npos) << text;
        delete file;
    }
    delete conn;
    EXPECT_EQ(connections.load(), 1);
}

TEST(HttpFile, LargeBodyStreamsInBoundedMemory) {
    REQUIRE_NGINX(nginx);
    const std::uint64_t size = 64ull << 20;
    {
        std::ofstream out(nginx->Html() + "/big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::uint64_t at = 0; at < size; at += block.size()) {
            for (std::size_t i = 0; i < block.size(); ++i) block[i] = Pattern(at + i);
            out.write(block.data(), std::streamsize(block.size()));
        }
    }
    auto rssKiB = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
        return 0L;
    };
    Exchange x(nginx->Port(), TKL("GET"), TKL("/big.bin"));
    x.file->SendRequest();
    long before = rssKiB(), peak = before;
    std::vector<char> buf(64 * 1024);
    std::uint64_t at = 0;
    bool same = true;
    int reads = 0;
    while (unsigned int n = x.file->Read(buf.data(), unsigned(buf.size()))) {
        for (unsigned int i = 0; i < n && same; ++i) same = buf[i] == Pattern(at + i);
        at += n;
        if (++reads % 64 == 0) peak = std::max(peak, rssKiB());
        // A slow reader: the transfer must pause rather than pile up bytes.
        if (reads == 100) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_EQ(at, size);
    EXPECT_TRUE(same);
    EXPECT_LT(peak - before, 16 * 1024) << "RSS grew by " << (peak - before) << " KiB";
    std::remove((nginx->Html() + "/big.bin").c_str());
}

// ---- HTTP behaviour ----------------------------------------------------------------

TEST(HttpFile, RedirectsCookiesAgentAndQueries) {
    REQUIRE_NGINX(nginx);
    {
        // Followed redirects are checked with the notifications they give.
        Exchange x(nginx->Port(), TKL("GET"), TKL("/moved"), INTERNET_FLAG_NO_AUTO_REDIRECT);
        x.file->SendRequest();
        std::uint32_t status = 0;
        x.file->QueryInfoStatusCode(status);
        EXPECT_EQ(status, 302u);
        CTKString location;
        ASSERT_TRUE(x.file->QueryInfo(HTTP_QUERY_LOCATION, location));
        EXPECT_NE(Text(location).find(u"/index.html"), std::u16string::npos);
    }
    {
        Exchange x(nginx->Port(), TKL("GET"), TKL("/cookie"));
        x.file->SendRequest();
        ReadAll(x.file);
        Exchange y(nginx->Port(), TKL("GET"), TKL("/echo-cookie"));
        y.file->SendRequest();
        EXPECT_NE(ReadAll(y.file).find("fromserver=yes"), std::string::npos);
        Exchange z(nginx->Port(), TKL("GET"), TKL("/echo-cookie"), INTERNET_FLAG_NO_COOKIES);
        z.file->SendRequest();
        EXPECT_EQ(ReadAll(z.file), "");
    }
    {
        Exchange x(nginx->Port(), TKL("GET"), TKL("/echo-agent"), 0, nullptr);
        x.file->SendRequest();
        EXPECT_EQ(ReadAll(x.file), "Unknow");
    }
    Exchange x(nginx->Port(), TKL("GET"), TKL("/index.html"));
    x.file->SendRequest();
    std::uint32_t length = 0;
    ASSERT_TRUE(x.file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length));
    EXPECT_EQ(length, 19u);
    CTKString type, raw, missing(TKL("stale")), agent;
    ASSERT_TRUE(x.file->QueryInfo(HTTP_QUERY_CONTENT_TYPE, type));
    EXPECT_EQ(Text(type), u"text/html");
    ASSERT_TRUE(x.file->QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF, raw));
    EXPECT_EQ(Text(raw).substr(0, 15), u"HTTP/1.1 200 OK");
    EXPECT_EQ(Text(raw).substr(Text(raw).size() - 4), u"\r\n\r\n");
    EXPECT_FALSE(x.file->QueryInfo(HTTP_QUERY_WARNING, missing));
    EXPECT_TRUE(missing.IsEmpty());
    ASSERT_TRUE(x.file->QueryInfo(HTTP_QUERY_USER_AGENT | HTTP_QUERY_FLAG_REQUEST_HEADERS, agent));
    EXPECT_EQ(Text(agent), u"tk-test");
    SYSTEMTIME date{};
    ASSERT_TRUE(x.file->QueryInfo(HTTP_QUERY_DATE, &date));
    EXPECT_GE(date.wYear, 2024);
    TKWCHAR small[4];
    std::uint32_t room = 4;
    EXPECT_FALSE(x.file->QueryInfo(HTTP_QUERY_CONTENT_TYPE, small, &room));
    EXPECT_EQ(room, 10u);  // "text/html" and its terminator
}

TEST(HttpFile, SeekForwardAndBackByRanges) {
    REQUIRE_NGINX(nginx);
    std::string body;
    for (int i = 0; i < 200000; ++i) body.push_back(Pattern(std::uint64_t(i)));
    nettest::WriteFile(nginx->Html() + "/seek.bin", body);
    Exchange x(nginx->Port(), TKL("GET"), TKL("/seek.bin"));
    x.file->SendRequest();
    char buf[16];
    EXPECT_EQ(x.file->Seek(150000, 0), 150000);  // forward: read and dropped
    ASSERT_EQ(x.file->Read(buf, 16), 16u);
    EXPECT_TRUE(std::string(buf, 16) == body.substr(150000, 16));
    EXPECT_EQ(x.file->Seek(10, 0), 10);  // backward: a byte-range request
    ASSERT_EQ(x.file->Read(buf, 16), 16u);
    EXPECT_TRUE(std::string(buf, 16) == body.substr(10, 16));
    EXPECT_EQ(x.file->Seek(-16, 2), 200000 - 16);
    EXPECT_TRUE(ReadAll(x.file) == body.substr(200000 - 16));
    EXPECT_EQ(CodeThrownBy([&] { x.file->Seek(0, 3); }), std::uint32_t(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CodeThrownBy([&] { x.file->Seek(2147483648LL, 0); }),
              std::uint32_t(ERROR_INVALID_PARAMETER));

    // Without byte ranges there is no going back.
    S plain([](int fd, const std::atomic<bool>&) {
        S::ReadHead(fd);
        S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcd");
    });
    Exchange y(plain.Port(), TKL("GET"), TKL("/"));
    EXPECT_EQ(CodeThrownBy([&] { y.file->SendRequest(); }), 0u);
    ASSERT_EQ(y.file->Read(buf, 3), 3u);
    EXPECT_EQ(CodeThrownBy([&] { y.file->Seek(0, 0); }),
              std::uint32_t(ERROR_INTERNET_INVALID_OPERATION));
}

TEST(HttpFile, ChunkedBodiesLoopsHeadAndAuthentication) {
    S server([](int fd, const std::atomic<bool>&) {
        for (;;) {
            std::string head = S::ReadHead(fd);
            if (head.empty()) return;
            if (head.compare(0, 10, "GET /loop ") == 0) {
                S::Send(fd, "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n");
            } else if (head.compare(0, 5, "HEAD ") == 0) {
                // A length with no body: HEAD must not wait for one.
                S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
            } else {
                std::size_t auth = head.find("Authorization: Basic ");
                std::string who = auth == std::string::npos
                                      ? "none"
                                      : head.substr(auth + 21, head.find("\r\n", auth) - auth - 21);
                S::Send(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n" +
                                std::string("3\r\n, \"\r\n") + "C\r\n" + who.substr(0, 12) +
                                "\r\n0\r\n\r\n");
            }
        }
    });
    CTKInternetSession session;
    CTKHttpConnection* conn =
        session.GetHttpConnection(TKL("127.0.0.1"), server.Port(), TKL("user"), TKL("pass"));
    CTKHttpFile* file = conn->OpenRequest(CTKHttpConnection::szHtmlVerbs[1], TKL("/"));
    file->SendRequest();
    EXPECT_EQ(ReadAll(file), "hello, \"dXNlcjpwYXNz");  // user:pass in Base64
    delete file;
    file = conn->OpenRequest(2, TKL("/"));  // HEAD by index
    EXPECT_EQ(file->GetVerb(), CTKString(TKL("HEAD")));
    auto start = std::chrono::steady_clock::now();
    file->SendRequest();
    EXPECT_EQ(ReadAll(file), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    delete file;
    file = conn->OpenRequest(TKL("GET"), TKL("/loop"));
    EXPECT_EQ(CodeThrownBy([&] { file->SendRequest(); }),
              std::uint32_t(ERROR_HTTP_REDIRECT_FAILED));
    delete file;
    delete conn;
}

// ---- objects and their names -----------------------------------------------------------

TEST(HttpFile, ContextsVerbsUrlsAndOpenURL) {
    CTKInternetSession session(TKL("tk-test"), 42);
    CTKHttpConnection* conn =
        session.GetHttpConnection(TKL("example.invalid"), static_cast<unsigned short>(8080));
    EXPECT_EQ(conn->GetContext(), 42u);
    EXPECT_EQ(Text(conn->GetServerName()), u"example.invalid");
    CTKHttpFile* a = conn->OpenRequest(TKL("GET"), TKL("dir/x"), nullptr, 1);
    CTKHttpFile* b = conn->OpenRequest(7, TKL("/abs"), nullptr, 7);
    CTKHttpFile* c = conn->OpenRequest(-1, TKL(""), nullptr, 1);
    EXPECT_EQ(a->GetContext(), 42u);
    EXPECT_EQ(b->GetContext(), 7u);
    EXPECT_EQ(Text(a->GetFileURL()), u"http://example.invalid/dir/x");
    EXPECT_EQ(Text(b->GetFileURL()), u"http://example.invalid/abs");
    EXPECT_EQ(Text(c->GetFileURL()), u"http://example.invalid");
    EXPECT_EQ(b->GetVerb(), CTKString(TKL("")));
    // Header modifiers; a line that would split on the wire is refused.
    EXPECT_TRUE(a->AddRequestHeaders(TKL("X-A: 1\r\nX-B: 2"), HTTP_ADDREQ_FLAG_ADD));
    EXPECT_FALSE(a->AddRequestHeaders(TKL("X-A: 3"), HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_TRUE(a->AddRequestHeaders(TKL("X-A: 3"), HTTP_ADDREQ_FLAG_COALESCE));
    EXPECT_TRUE(a->AddRequestHeaders(TKL("X-B:"), HTTP_ADDREQ_FLAG_REPLACE));     // removes
    EXPECT_FALSE(a->AddRequestHeaders(TKL("X-B: 4"), HTTP_ADDREQ_FLAG_REPLACE));  // gone
    EXPECT_FALSE(a->AddRequestHeaders(TKL("X-C: a\rInjected: yes"), HTTP_ADDREQ_FLAG_ADD));
    EXPECT_TRUE(a->AddRequestHeaders(nullptr, HTTP_ADDREQ_FLAG_ADD, -1));  // length 0
    // Before SendRequestEx a request only reads.
    EXPECT_EQ(CodeThrownBy([&] { a->Write("x", 1); }), std::uint32_t(ERROR_INVALID_HANDLE));
    a->Close();
    EXPECT_EQ(CodeThrownBy([&] { a->Read(nullptr, 0); }), std::uint32_t(ERROR_INVALID_HANDLE));
    EXPECT_EQ(a->GetLength(), 0u);
    delete a;
    delete b;
    delete c;
    // A handle of another kind is refused, and closed.
    EXPECT_EQ(CodeThrownBy([&] { CTKHttpConnection bad(&session, nullptr, TKL("x"), 1); }),
              std::uint32_t(ERROR_INVALID_HANDLE));
    delete conn;

    EXPECT_EQ(session.OpenURL(TKL("file:///etc/hostname")), nullptr);
    EXPECT_EQ(session.OpenURL(TKL("ftp://127.0.0.1/x")), nullptr);
    EXPECT_EQ(CodeThrownBy([&] { session.OpenURL(TKL("http://127.0.0.1:1/")); }),
              std::uint32_t(ERROR_INTERNET_CANNOT_CONNECT));
    REQUIRE_NGINX(nginx);
    std::u16string url =
        u"http://127.0.0.1:" + nettest::Wide(std::to_string(nginx->Port())) + u"/index.html";
    CTKHttpFile* file = session.OpenURL(reinterpret_cast<const TKWCHAR*>(url.c_str()));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "<html>hello</html>\n");
    EXPECT_EQ(file->GetContext(), 42u);
    delete file;
}

}  // namespace

// ---- HTTPS -------------------------------------------------------------------------------

namespace {

// The status of a GET over HTTPS, or the code thrown.
std::uint32_t HttpsGet(const TKWCHAR* host, unsigned short port, std::uint32_t requestFlags,
                       std::uint32_t securityFlags) {
    CTKInternetSession session(TKL("tk-test"));
    CTKHttpConnection* conn =
        session.GetHttpConnection(host, INTERNET_FLAG_SECURE, port, nullptr, nullptr);
    CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/index.html"), nullptr, 1, nullptr,
                                          nullptr, requestFlags);
    if (securityFlags) file->SetOption(INTERNET_OPTION_SECURITY_FLAGS, securityFlags);
    std::uint32_t status = 0;
    std::uint32_t code = CodeThrownBy([&] {
        file->SendRequest();
        file->QueryInfoStatusCode(status);
        ReadAll(file);
    });
    delete file;
    delete conn;
    return code ? code : status;
}

}  // namespace

TEST(Https, CertificatesAreVerifiedAndEachFlagRelaxesOnlyItsCheck) {
    REQUIRE_NGINX(nginx);
    if (!nginx->GoodTlsPort()) GTEST_SKIP() << "openssl could not make the test certificates";
    const TKWCHAR* ip = TKL("127.0.0.1");
    const TKWCHAR* local = TKL("localhost");
    const std::uint32_t ca = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    const std::uint32_t cn = SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    const std::uint32_t date = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    struct Row {
        const char* name;
        bool trustTestAuthority;
        const TKWCHAR* host;
        unsigned short port;
        std::uint32_t requestFlags, securityFlags, expect;
    };
    const Row rows[] = {
        {"unknown authority by default", false, ip, nginx->GoodTlsPort(), 0, 0, 12045},
        {"authority relaxed", false, ip, nginx->GoodTlsPort(), 0, ca, 200},
        {"trusted authority", true, local, nginx->GoodTlsPort(), 0, 0, 200},
        {"another host's certificate", true, ip, nginx->WrongHostTlsPort(), 0, 0, 12038},
        {"name relaxed by request flag", true, ip, nginx->WrongHostTlsPort(),
         INTERNET_FLAG_IGNORE_CERT_CN_INVALID, 0, 200},
        {"name relaxed by security flag", true, ip, nginx->WrongHostTlsPort(), 0, cn, 200},
        {"name flag leaves the authority checked", false, ip, nginx->WrongHostTlsPort(), 0, cn,
         12045},
        {"authority flag leaves the name checked", false, ip, nginx->WrongHostTlsPort(), 0, ca,
         12038},
        {"expired", true, ip, nginx->ExpiredTlsPort(), 0, 0, 12037},
        {"dates relaxed", true, ip, nginx->ExpiredTlsPort(), 0, date, 200},
        {"authority flag leaves the dates checked", false, ip, nginx->ExpiredTlsPort(), 0, ca,
         12037},
        {"dates flag leaves the authority checked", false, ip, nginx->ExpiredTlsPort(), 0, date,
         12045},
        {"both relaxed", false, ip, nginx->ExpiredTlsPort(), 0, ca | date, 200},
        // A relaxed connection is never lent to a strict request.
        {"strict again after relaxed ones", false, ip, nginx->GoodTlsPort(), 0, 0, 12045},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tk::inet::UseTrustStoreFile(row.trustTestAuthority ? nginx->CaFile().c_str() : nullptr);
        EXPECT_EQ(HttpsGet(row.host, row.port, row.requestFlags, row.securityFlags), row.expect);
    }
    tk::inet::UseTrustStoreFile(nullptr);
}

TEST(Https, OpenURLOverHttps) {
    REQUIRE_NGINX(nginx);
    if (!nginx->GoodTlsPort()) GTEST_SKIP() << "openssl could not make the test certificates";
    tk::inet::UseTrustStoreFile(nginx->CaFile().c_str());
    CTKInternetSession session;
    std::u16string url = u"https://localhost:" +
                         nettest::Wide(std::to_string(nginx->GoodTlsPort())) + u"/index.html";
    CTKHttpFile* file = session.OpenURL(reinterpret_cast<const TKWCHAR*>(url.c_str()));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "<html>hello</html>\n");
    // The file's URL names its server; the scheme is always "http://".
    EXPECT_EQ(Text(file->GetFileURL()), u"http://localhost/index.html");
    delete file;
    tk::inet::UseTrustStoreFile(nullptr);
}

TEST(HttpFile, ProxyAcceptTypesAndAnIdleTimeoutThatAFlowingBodyNeverHits) {
    // A proxy sees the whole URL on the request line.
    S proxy([](int fd, const std::atomic<bool>&) {
        std::string head = S::ReadHead(fd);
        std::string line = head.substr(0, head.find("\r\n"));
        std::size_t accept = head.find("Accept: ");
        line += "|" + head.substr(accept + 8, head.find("\r\n", accept) - accept - 8);
        S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(line.size()) +
                        "\r\n\r\n" + line);
    });
    std::u16string proxyName = u"127.0.0.1:" + nettest::Wide(std::to_string(proxy.Port()));
    CTKInternetSession session(TKL("tk-test"), 1, INTERNET_OPEN_TYPE_PROXY,
                               reinterpret_cast<const TKWCHAR*>(proxyName.c_str()));
    CTKHttpConnection* conn =
        session.GetHttpConnection(TKL("origin.test"), static_cast<unsigned short>(8080));
    const TKWCHAR* accept[] = {TKL("text/html"), TKL("application/json"), nullptr};
    CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/p?q=1"), nullptr, 1, accept);
    file->SendRequest();
    EXPECT_EQ(ReadAll(file),
              "GET http://origin.test:8080/p?q=1 HTTP/1.0|text/html, application/json");
    delete file;
    delete conn;

    // Bytes that keep coming, each within the timeout, never time out.
    S slow([](int fd, const std::atomic<bool>&) {
        S::ReadHead(fd);
        S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n");
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            S::Send(fd, "x");
        }
    });
    CTKInternetSession plain;
    plain.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 600u);
    CTKHttpConnection* c2 = plain.GetHttpConnection(TKL("127.0.0.1"), slow.Port());
    CTKHttpFile* f2 = c2->OpenRequest(TKL("GET"), TKL("/"));
    f2->SendRequest();
    EXPECT_EQ(ReadAll(f2, 1), "xxxxxx");
    delete f2;
    delete c2;
}

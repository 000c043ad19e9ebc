// The session, its options, cookies and status notifications; the exception;
// and the failures the internet layer must report, against real servers on
// 127.0.0.1.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include <random>
#include <unordered_map>

#include "net/pointer_table.h"
#include "net_test_support.h"
#include "tavikfcu/TKNet.h"

namespace {

using nettest::CodeThrownBy;

std::u16string Text(const TKWCHAR* s) {
    return reinterpret_cast<const char16_t*>(s);
}

// A session that records every notification it is given.
class RecordingSession : public CTKInternetSession {
  public:
    using CTKInternetSession::CTKInternetSession;
    void OnStatusCallback(std::uint64_t context, std::uint32_t status, void*,
                          std::uint32_t) override {
        std::lock_guard<std::mutex> guard(lock);
        statuses.push_back(status);
        contexts.push_back(context);
    }
    std::size_t Count(std::uint32_t status) {
        std::lock_guard<std::mutex> guard(lock);
        return std::size_t(std::count(statuses.begin(), statuses.end(), status));
    }
    std::mutex lock;
    std::vector<std::uint32_t> statuses;
    std::vector<std::uint64_t> contexts;
};

// ---- construction, options, switching notifications ------------------------------------

TEST(Session, DefaultsOptionsAndClose) {
    CTKInternetSession session;
    EXPECT_EQ(session.GetContext(), 1u);
    ASSERT_NE(static_cast<void*>(session), nullptr);
    TKWCHAR agent[32];
    std::uint32_t length = sizeof agent;
    ASSERT_TRUE(session.QueryOption(INTERNET_OPTION_USER_AGENT, agent, &length));
    EXPECT_EQ(Text(agent), u"Unknow");
    std::uint32_t kind = 0;
    ASSERT_TRUE(session.QueryOption(INTERNET_OPTION_HANDLE_TYPE, kind));
    EXPECT_EQ(kind, 1u);

    // Timeouts set on the session reach what is made from it.
    ASSERT_TRUE(session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 1234u));
    CTKHttpConnection* conn =
        session.GetHttpConnection(TKL("127.0.0.1"), static_cast<unsigned short>(1));
    std::uint32_t value = 0;
    ASSERT_TRUE(conn->QueryOption(INTERNET_OPTION_RECEIVE_TIMEOUT, value));
    EXPECT_EQ(value, 1234u);
    ASSERT_TRUE(conn->QueryOption(INTERNET_OPTION_HANDLE_TYPE, value));
    EXPECT_EQ(value, 4u);
    CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/"));
    ASSERT_TRUE(file->QueryOption(INTERNET_OPTION_HANDLE_TYPE, value));
    EXPECT_EQ(value, 13u);
    EXPECT_FALSE(file->SetOption(INTERNET_OPTION_HANDLE_TYPE, 1u));
    delete file;
    delete conn;

    EXPECT_EQ(session.EnableStatusCallback(0), 1);  // off while off: nothing to do
    EXPECT_EQ(session.EnableStatusCallback(1), 1);
    EXPECT_EQ(session.EnableStatusCallback(1), 1);  // already on
    session.Close();
    EXPECT_EQ(static_cast<void*>(session), nullptr);
    session.Close();  // again: nothing
    EXPECT_EQ(session.EnableStatusCallback(1), 0);
    EXPECT_EQ(session.EnableStatusCallback(0), 0);
    EXPECT_FALSE(session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 1u));
}

TEST(Session, ConstructionFailureThrowsWithTheContext) {
    try {
        CTKInternetSession bad(TKL("x"), 42, INTERNET_OPEN_TYPE_PROXY, nullptr);
        FAIL() << "a proxy session without a proxy was opened";
    } catch (CTKInternetException* e) {
        EXPECT_EQ(e->m_error, std::uint32_t(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(e->m_context, 42u);
        delete e;
    }
}

// ---- the exception ------------------------------------------------------------------

TEST(InternetException, MessagesForEveryReportedCode) {
    const std::uint32_t codes[] = {6,     87,    122,   12002, 12005, 12006, 12007, 12016,
                                   12029, 12030, 12031, 12037, 12038, 12045, 12150, 12152};
    for (std::uint32_t code : codes) {
        SCOPED_TRACE(code);
        CTKInternetException e(code);
        TKWCHAR text[256];
        unsigned int help = 99;
        EXPECT_EQ(e.GetErrorMessage(text, 256, &help), 1);
        EXPECT_EQ(help, 0u);
        EXPECT_GT(Text(text).size(), 10u);
    }
    CTKInternetException timeout(ERROR_INTERNET_TIMEOUT);
    TKWCHAR small[8];
    ASSERT_EQ(timeout.GetErrorMessage(small, 8), 1);
    EXPECT_EQ(Text(small), u"The ope");  // truncated, always terminated

    // 12003 gives the server's text of this thread, and none is kept here.
    CTKInternetException extended(ERROR_INTERNET_EXTENDED_ERROR);
    TKWCHAR text[64] = {'x', 0};
    EXPECT_EQ(extended.GetErrorMessage(text, 64), 1);
    EXPECT_EQ(Text(text), u"");

    CTKInternetException unknown(4242);
    EXPECT_EQ(unknown.GetErrorMessage(text, 64), 0);
    EXPECT_EQ(Text(text), u"");
}

// ---- cookies ------------------------------------------------------------------------------

TEST(Session, CookiesMatchDomainPathAndSecurity) {
    ASSERT_TRUE(
        CTKInternetSession::SetCookie(TKL("http://shop.test/cart/view"), TKL("a"), TKL("1")));
    ASSERT_TRUE(CTKInternetSession::SetCookie(TKL("http://shop.test/"), nullptr,
                                              TKL("b=2; Path=/; Domain=.shop.test")));
    ASSERT_TRUE(
        CTKInternetSession::SetCookie(TKL("https://shop.test/"), nullptr, TKL("c=3; Secure")));
    // Another site's domain is refused.
    EXPECT_FALSE(CTKInternetSession::SetCookie(TKL("http://shop.test/"), nullptr,
                                               TKL("d=4; Domain=other.test")));
    struct Row {
        const char* name;
        const TKWCHAR* url;
        const char16_t* cookies;
    };
    const Row rows[] = {
        {"default path is the directory", TKL("http://shop.test/cart/x"), u"a=1; b=2"},
        {"outside the path", TKL("http://shop.test/other"), u"b=2"},
        {"path prefix must end at a slash", TKL("http://shop.test/cartx"), u"b=2"},
        {"domain cookie reaches subdomains", TKL("http://www.shop.test/cart/"), u"b=2"},
        {"secure cookie over https only", TKL("https://shop.test/cart/"), u"a=1; b=2; c=3"},
        {"unrelated host", TKL("http://elsewhere.test/"), u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CTKString got(TKL("stale"));
        CTKInternetSession::GetCookie(row.url, nullptr, got);
        EXPECT_EQ(Text(got), row.cookies);
        std::uint32_t length = CTKInternetSession::GetCookieLength(row.url, nullptr);
        EXPECT_EQ(length, *row.cookies ? Text(got).size() + 1 : 0u);
    }
    CTKString one;
    ASSERT_TRUE(CTKInternetSession::GetCookie(TKL("http://shop.test/cart/"), TKL("b"), one));
    EXPECT_EQ(Text(one), u"b=2");
    TKWCHAR tiny[4];
    EXPECT_FALSE(CTKInternetSession::GetCookie(TKL("http://shop.test/cart/"), nullptr, tiny, 4));
    // An expiry in the past deletes.
    ASSERT_TRUE(CTKInternetSession::SetCookie(TKL("http://shop.test/cart/"), TKL("a"),
                                              TKL("gone; Max-Age=0")));
    CTKString after;
    CTKInternetSession::GetCookie(TKL("http://shop.test/cart/"), nullptr, after);
    EXPECT_EQ(Text(after), u"b=2");
}

// ---- status notifications and connection reuse, against nginx ---------------------------

TEST(Session, NotificationsOfAConnectionReachItsSessionAndConnectionsAreReused) {
    REQUIRE_NGINX(nginx);
    RecordingSession session(TKL("tk-test"), 42);
    session.EnableStatusCallback(1);
    CTKHttpConnection* conn = session.GetHttpConnection(TKL("localhost"), nginx->Port());
    for (int i = 0; i < 2; ++i) {
        // The second request is redirected to the first one's object.
        CTKHttpFile* file = conn->OpenRequest(TKL("GET"), i ? TKL("/moved") : TKL("/index.html"),
                                              nullptr, 1, nullptr, TKL("HTTP/1.1"));
        file->SendRequest();
        char body[64];
        unsigned int n = 0, total = 0;
        while ((n = file->Read(body, sizeof body)) != 0) total += n;
        EXPECT_EQ(total, 19u);
        delete file;
    }
    delete conn;
    session.Close();
    // The name is looked up once per connection, the socket opened once
    // (the redirect's hop reuses it too), and each request is seen from
    // sending to closing.
    EXPECT_EQ(session.Count(INTERNET_STATUS_RESOLVING_NAME), 1u);
    EXPECT_EQ(session.Count(INTERNET_STATUS_NAME_RESOLVED), 1u);
    EXPECT_EQ(session.Count(INTERNET_STATUS_CONNECTING_TO_SERVER), 1u);
    EXPECT_EQ(session.Count(INTERNET_STATUS_CONNECTED_TO_SERVER), 1u);
    EXPECT_EQ(session.Count(INTERNET_STATUS_REDIRECT), 1u);
    EXPECT_EQ(session.Count(INTERNET_STATUS_SENDING_REQUEST), 3u);
    EXPECT_EQ(session.Count(INTERNET_STATUS_REQUEST_SENT), 3u);
    EXPECT_GE(session.Count(INTERNET_STATUS_RESPONSE_RECEIVED), 2u);
    // Two requests and the connection; the session's own closing comes after
    // its notifications are switched off.
    EXPECT_EQ(session.Count(INTERNET_STATUS_HANDLE_CLOSING), 3u);
    for (std::uint64_t context : session.contexts) EXPECT_EQ(context, 42u);
}

// ---- failures ------------------------------------------------------------------------------

std::uint32_t GetFailsWith(const TKWCHAR* host, unsigned short port,
                           std::uint32_t receiveTimeout = 0) {
    CTKInternetSession session;
    if (receiveTimeout) session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, receiveTimeout);
    CTKHttpConnection* conn = session.GetHttpConnection(host, port);
    CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/"));
    std::uint32_t code = CodeThrownBy([&] {
        file->SendRequest();
        char buf[256];
        while (file->Read(buf, sizeof buf)) {
        }
    });
    delete file;
    delete conn;
    return code;
}

TEST(Session, FailuresArriveWithThePlatformsCodes) {
    using Script = nettest::ScriptedServer::Script;
    using S = nettest::ScriptedServer;
    struct Row {
        const char* name;
        Script script;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"reset before any response",
         [](int fd, const std::atomic<bool>&) {
             S::ReadHead(fd);
             S::Reset(fd);
         },
         ERROR_INTERNET_CONNECTION_RESET},
        {"closed without a response", [](int fd, const std::atomic<bool>&) { S::ReadHead(fd); },
         ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"malformed status line",
         [](int fd, const std::atomic<bool>&) {
             S::ReadHead(fd);
             S::Send(fd, "HTTX/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
         },
         ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"body shorter than its length",
         [](int fd, const std::atomic<bool>&) {
             S::ReadHead(fd);
             S::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten..");
         },
         ERROR_INTERNET_CONNECTION_ABORTED},
        {"reset in the middle of a body",
         [](int fd, const std::atomic<bool>&) {
             S::ReadHead(fd);
             S::Send(fd,
                     "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'));
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             S::Reset(fd);
         },
         ERROR_INTERNET_CONNECTION_RESET},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        nettest::ScriptedServer server(row.script);
        EXPECT_EQ(GetFailsWith(TKL("127.0.0.1"), server.Port()), row.code);
    }
    EXPECT_EQ(GetFailsWith(TKL("127.0.0.1"), nettest::FreePort()),
              std::uint32_t(ERROR_INTERNET_CANNOT_CONNECT));
    // Reserved names never reach the resolver (so these send no traffic).
    for (const TKWCHAR* reserved : {TKL("host.invalid"), TKL("INVALID.")})
        EXPECT_EQ(GetFailsWith(reserved, 80), std::uint32_t(ERROR_INTERNET_NAME_NOT_RESOLVED));
}

TEST(Session, SilentServerTimesOutWithinTheReceiveTimeout) {
    nettest::ScriptedServer server([](int fd, const std::atomic<bool>& stopping) {
        nettest::ScriptedServer::ReadHead(fd);
        nettest::ScriptedServer::Silence(fd, stopping);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetFailsWith(TKL("127.0.0.1"), server.Port(), 1000),
              std::uint32_t(ERROR_INTERNET_TIMEOUT));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
}

// Runs body in a child process with a network namespace of its own, where
// no traffic can leave (loopback alone up), and, with silentResolver, a
// resolver configuration naming a name server on 127.0.0.1 that never
// answers. The result is body's, or a message why the child could not run.
std::string InPrivateNetwork(bool silentResolver, std::string (*body)()) {
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        auto reply = [&](const std::string& text) {
            if (write(channel[1], text.data(), text.size()) < 0) _exit(2);
            _exit(0);
        };
        if (unshare(CLONE_NEWNET | (silentResolver ? CLONE_NEWNS : 0)) != 0)
            reply(std::string("SKIP: no private network namespace: ") + std::strerror(errno));
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr{};
        strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
            ifr.ifr_flags |= IFF_UP;
            ioctl(fd, SIOCSIFFLAGS, &ifr);
        }
        close(fd);
        if (silentResolver) {
            // A name server that takes queries and never answers.
            int server = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(53);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            char conf[] = "/tmp/tk-resolv-XXXXXX";
            int confFd = mkstemp(conf);
            const char text[] = "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n";
            if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                confFd < 0 || write(confFd, text, sizeof text - 1) != sizeof text - 1 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(conf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
                reply(std::string("SKIP: no silent name server: ") + std::strerror(errno));
            unlink(conf);
        }
        reply(body());
    }
    close(channel[1]);
    std::string result;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child failed: status " + std::to_string(status);
    return result;
}

TEST(Session, LookupsFailInAPrivateNetwork) {
    struct Row {
        const char* name;
        bool silentResolver;
        std::string (*body)();
    };
    const Row rows[] = {
        {"no name server: not resolved", false,
         [] {
             std::uint32_t code = GetFailsWith(TKL("no-such-host.example"), 80);
             return code == ERROR_INTERNET_NAME_NOT_RESOLVED ? std::string("ok")
                                                             : "code " + std::to_string(code);
         }},
        // The connect timeout bounds the lookup, not the resolver's 30 s.
        {"silent name server: timed out", true,
         [] {
             CTKInternetSession session;
             session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, 1000);
             auto start = std::chrono::steady_clock::now();
             CTKHttpConnection* conn = session.GetHttpConnection(TKL("no-such-host.example"),
                                                                 static_cast<unsigned short>(80));
             CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/"));
             std::uint32_t code = CodeThrownBy([&] { file->SendRequest(); });
             auto took = std::chrono::steady_clock::now() - start;
             delete file;
             delete conn;
             if (code != ERROR_INTERNET_TIMEOUT) return "code " + std::to_string(code);
             if (took < std::chrono::milliseconds(900) || took > std::chrono::seconds(5))
                 return "took " + std::to_string(took / std::chrono::milliseconds(1)) + " ms";
             return std::string("ok");
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string result = InPrivateNetwork(row.silentResolver, row.body);
        if (result.rfind("SKIP", 0) == 0) {
            std::printf("[  SKIPPED ] %s: %s\n", row.name, result.c_str());
            continue;
        }
        EXPECT_EQ(result, "ok");
    }
}

// ---- the handle map under threads ------------------------------------------------------------

TEST(Session, HandleTableAgreesWithAMapThroughGrowthAndRemovals) {
    // Keys from a narrow range collide and wrap around the table's end;
    // after every change each key must still be found, or not, as a map says.
    tk::detail::PointerTable<int> table;
    std::unordered_map<const void*, int> model;
    alignas(8) static char base[600];
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        const void* key = base + 8 * (random() % 75);
        if (random() % 3) {
            table.Set(key, step);
            model[key] = step;
        } else {
            table.Remove(key);
            model.erase(key);
        }
        ASSERT_EQ(table.Size(), model.size());
        for (int k = 0; k < 75; ++k) {
            const void* probe = base + 8 * k;
            const int* value = table.Get(probe);
            auto it = model.find(probe);
            ASSERT_EQ(value != nullptr, it != model.end()) << step << " " << k;
            if (value) {
                ASSERT_EQ(*value, it->second);
            }
        }
    }
}

TEST(Session, HandleMapStress) {
    // Sessions open and close on eight threads while each one's requests
    // notify it; every notification must reach the session that made it.
    nettest::ScriptedServer server([](int fd, const std::atomic<bool>&) {
        nettest::ScriptedServer::ReadHead(fd);
        nettest::ScriptedServer::Send(fd, "HTTP/1.1 204 No Content\r\n\r\n");
    });
    std::atomic<int> misrouted{0}, seen{0};
    struct Checking : CTKInternetSession {
        Checking(std::uint64_t id, std::atomic<int>& bad, std::atomic<int>& count)
            : CTKInternetSession(TKL("stress"), id), bad_(bad), count_(count) {}
        void OnStatusCallback(std::uint64_t context, std::uint32_t, void*, std::uint32_t) override {
            if (context != GetContext()) ++bad_;
            ++count_;
        }
        std::atomic<int>& bad_;
        std::atomic<int>& count_;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                Checking session(std::uint64_t(1000 * (t + 1) + i), misrouted, seen);
                session.EnableStatusCallback(1);
                CTKHttpConnection* conn =
                    session.GetHttpConnection(TKL("127.0.0.1"), server.Port());
                CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/"));
                CodeThrownBy([&] { file->SendRequest(); });
                delete file;
                delete conn;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(misrouted.load(), 0);
    EXPECT_GE(seen.load(), 8 * 20 * 4);
}

}  // namespace

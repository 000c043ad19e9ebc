// Servers for the internet client's tests, on 127.0.0.1 only: a real nginx
// started on a free port with its own prefix and generated configuration,
// and a scripted in-process server for what nginx cannot be made to do.
#ifndef TAVIKFCU_TESTS_NET_TEST_SUPPORT_H
#define TAVIKFCU_TESTS_NET_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tavikfcu/TKNet.h"

namespace nettest {

inline sockaddr_in Loopback(unsigned short port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A port on 127.0.0.1 that nothing listens on right now.
inline unsigned short FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback();
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

inline bool CanConnect(unsigned short port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// nginx serving <prefix>/html on 127.0.0.1:port, with WebDAV PUT under
// /upload/. Start() returns false (with the reason) when nginx is missing.
class Nginx {
  public:
    bool Start(std::string& why) {
        const char* binary = "/usr/sbin/nginx";
        if (access(binary, X_OK) != 0) {
            why = "nginx is not installed (scripts/install-deps.sh build installs it)";
            return false;
        }
        char dir[] = "/tmp/tk-nginx-XXXXXX";
        if (!mkdtemp(dir)) {
            why = "cannot make a prefix directory";
            return false;
        }
        prefix_ = dir;
        chmod(dir, 0755);
        for (const char* sub : {"/html", "/html/upload", "/logs", "/tmp"}) {
            std::string p = prefix_ + sub;
            mkdir(p.c_str(), 0777);
            chmod(p.c_str(), 0777);
        }
        port_ = FreePort();
        tls_ = MakeCertificates();
        std::string conf = prefix_ + "/nginx.conf";
        std::ofstream c(conf);
        if (geteuid() == 0) c << "user root;\n";
        c << "worker_processes 1;\ndaemon off;\nerror_log " << prefix_ << "/logs/error.log;\n"
          << "pid " << prefix_ << "/logs/nginx.pid;\nevents { worker_connections 512; }\n"
          << "http {\n  access_log off;\n  keepalive_requests 1000000;\n"
          << "  client_body_temp_path " << prefix_ << "/tmp/body;\n"
          << "  proxy_temp_path " << prefix_ << "/tmp/proxy;\n"
          << "  fastcgi_temp_path " << prefix_ << "/tmp/fastcgi;\n"
          << "  uwsgi_temp_path " << prefix_ << "/tmp/uwsgi;\n"
          << "  scgi_temp_path " << prefix_ << "/tmp/scgi;\n"
          << "  types { text/html html; text/plain txt; application/octet-stream bin; }\n"
          << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << prefix_ << "/html;\n"
          << "    location /upload/ { dav_methods PUT DELETE; client_max_body_size 0; "
             "create_full_put_path on; }\n"
          << "    location /cookie { add_header Set-Cookie \"fromserver=yes; Path=/\"; "
             "return 200 \"cookie\\n\"; }\n"
          << "    location /echo-cookie { return 200 \"$http_cookie\"; }\n"
          << "    location /echo-agent { return 200 \"$http_user_agent\"; }\n"
          << "    location /moved { return 302 /index.html; }\n"
          << "  }\n";
        if (tls_) {
            // One HTTPS server per certificate: right, for another host, expired.
            const char* names[] = {"good", "wronghost", "expired"};
            for (int i = 0; i < 3; ++i) {
                tlsPorts_[i] = FreePort();
                c << "  server {\n    listen 127.0.0.1:" << tlsPorts_[i] << " ssl;\n"
                  << "    ssl_certificate " << prefix_ << "/tls/" << names[i] << ".crt;\n"
                  << "    ssl_certificate_key " << prefix_ << "/tls/" << names[i] << ".key;\n"
                  << "    root " << prefix_ << "/html;\n  }\n";
            }
        }
        c << "}\n";
        c.close();
        WriteFile(prefix_ + "/html/index.html", "<html>hello</html>\n");
        pid_ = fork();
        if (pid_ == 0) {
            execl(binary, binary, "-p", prefix_.c_str(), "-c", conf.c_str(), "-e",
                  (prefix_ + "/logs/error.log").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            if (CanConnect(port_)) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "nginx exited at start; see " + prefix_ + "/logs/error.log";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        why = "nginx did not start listening";
        return false;
    }

    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        if (!prefix_.empty()) {
            std::string cmd = "rm -rf '" + prefix_ + "'";
            if (std::system(cmd.c_str()) != 0) std::perror("rm");
            prefix_.clear();
        }
    }

    ~Nginx() { Stop(); }

    unsigned short Port() const { return port_; }
    // HTTPS ports (0 without openssl): a certificate for 127.0.0.1 and
    // localhost, one for wrong.example, an expired one; all issued by the
    // authority in CaFile(), which no system trusts.
    unsigned short GoodTlsPort() const { return tlsPorts_[0]; }
    unsigned short WrongHostTlsPort() const { return tlsPorts_[1]; }
    unsigned short ExpiredTlsPort() const { return tlsPorts_[2]; }
    std::string CaFile() const { return prefix_ + "/tls/ca.crt"; }
    std::string Html() const { return prefix_ + "/html"; }

  private:
    bool MakeCertificates() {
        std::string dir = prefix_ + "/tls";
        std::string script =
            "set -e; mkdir -p '" + dir + "'; cd '" + dir +
            "'; "
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 "
            "-subj '/CN=TK Test CA'; "
            "for n in good:DNS:localhost,IP:127.0.0.1:2 wronghost:DNS:wrong.example:2 "
            "expired:DNS:localhost,IP:127.0.0.1:-1; do "
            "name=${n%%:*}; rest=${n#*:}; days=${rest##*:}; san=${rest%:*}; "
            "openssl req -newkey rsa:2048 -nodes -keyout $name.key -out $name.csr "
            "-subj /CN=$name; "
            "printf 'subjectAltName=%s\\n' \"$san\" > $name.ext; "
            "openssl x509 -req -in $name.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
            "-out $name.crt -days $days -extfile $name.ext; done";
        std::string cmd = "sh -c \"" + Escape(script) + "\" >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }
    static std::string Escape(const std::string& s) {
        std::string out;
        for (char ch : s) {
            if (ch == '"' || ch == '$' || ch == '\\' || ch == '`') out.push_back('\\');
            out.push_back(ch);
        }
        return out;
    }

    std::string prefix_;
    unsigned short port_ = 0;
    bool tls_ = false;
    unsigned short tlsPorts_[3] = {0, 0, 0};
    pid_t pid_ = -1;
};

// One nginx for the whole test program, started on first use.
inline Nginx* SharedNginx(std::string& why) {
    static Nginx* server = nullptr;
    static std::string reason;
    static bool tried = false;
    if (!tried) {
        tried = true;
        auto* n = new Nginx;
        if (n->Start(reason)) {
            server = n;
            std::atexit([] { server->Stop(); });
        } else {
            delete n;
        }
    }
    why = reason;
    return server;
}

#define REQUIRE_NGINX(var)                                  \
    std::string nginx_why_;                                 \
    nettest::Nginx* var = nettest::SharedNginx(nginx_why_); \
    if (!var) GTEST_SKIP() << nginx_why_

// A server on a thread of the test: each accepted connection is handed to
// the script, which reads and writes the socket as it likes.
class ScriptedServer {
  public:
    using Script = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = Loopback();
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listener_, 16);
        thread_ = std::thread([this] { Run(); });
    }

    ~ScriptedServer() {
        stopping_ = true;
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
        for (std::thread& t : workers_) t.join();
    }

    unsigned short Port() const { return port_; }

    // Reads up to the blank line that ends a request head.
    static std::string ReadHead(int fd) {
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1)
            head.push_back(c);
        return head;
    }
    static void Send(int fd, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += std::size_t(n);
        }
    }
    // Closes with a reset instead of an orderly end.
    static void Reset(int fd) {
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    // Waits, doing nothing, until the server stops or the peer goes.
    static void Silence(int fd, const std::atomic<bool>& stopping) {
        char c;
        timeval tv{0, 50000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        while (!stopping) {
            ssize_t n = recv(fd, &c, 1, 0);
            if (n == 0) return;
        }
    }

  private:
    void Run() {
        while (!stopping_) {
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            workers_.emplace_back([this, fd] {
                script_(fd, stopping_);
                close(fd);
            });
        }
    }

    Script script_;
    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::thread> workers_;
};

// The code of the CTKInternetException* that f throws, or 0.
template <class F>
std::uint32_t CodeThrownBy(F&& f) {
    try {
        f();
    } catch (CTKInternetException* e) {
        std::uint32_t code = e->m_error;
        delete e;
        return code;
    }
    return 0;
}

inline std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

}  // namespace nettest

#endif  // TAVIKFCU_TESTS_NET_TEST_SUPPORT_H

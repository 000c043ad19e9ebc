// tkParseURL and tkParseURLEx: one table each for schemes, hosts and ports,
// escapes and flags, capacities and failures.
#include <gtest/gtest.h>

#include <string>

#include "net_test_support.h"
#include "tavikfcu/TKNet.h"

namespace {

using nettest::Wide;

std::u16string Text(const CTKString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(static_cast<const TKWCHAR*>(s)),
                          std::size_t(s.GetLength()));
}

struct Parsed {
    int result;
    std::uint32_t service;
    std::u16string server, object, user, password;
    unsigned short port;
};

Parsed Parse(const std::u16string& url) {
    Parsed p{};
    CTKString server, object;
    p.port = 7;
    p.result = tkParseURL(reinterpret_cast<const TKWCHAR*>(url.c_str()), p.service, server, object,
                          p.port);
    p.server = Text(server);
    p.object = Text(object);
    return p;
}

Parsed ParseEx(const std::u16string& url, std::uint32_t flags) {
    Parsed p{};
    CTKString server, object, user, password;
    p.port = 7;
    p.result = tkParseURLEx(reinterpret_cast<const TKWCHAR*>(url.c_str()), p.service, server,
                            object, p.port, user, password, flags);
    p.server = Text(server);
    p.object = Text(object);
    p.user = Text(user);
    p.password = Text(password);
    return p;
}

struct SchemeRow {
    const char* name;
    const char16_t* url;
    std::uint32_t service;
    const char16_t* server;
    const char16_t* object;
    unsigned short port;
};

TEST(UrlParse, SchemesMapToServiceTypesAndDefaultPorts) {
    const SchemeRow rows[] = {
        {"http", u"http://example.org/a/b?x=1#f", TK_SERVICE_HTTP, u"example.org", u"/a/b?x=1#f",
         80},
        {"https is 0x100B, not the cracker's 4", u"https://example.org/", TK_SERVICE_HTTPS,
         u"example.org", u"/", 443},
        {"ftp", u"ftp://ftp.example.org/pub/x", TK_SERVICE_FTP, u"ftp.example.org", u"/pub/x", 21},
        {"gopher", u"gopher://g.example.org/1", TK_SERVICE_GOPHER, u"g.example.org", u"/1", 70},
        {"file with empty host", u"file:///C:/dir/x.txt", TK_SERVICE_FILE, u"", u"/C:/dir/x.txt",
         0},
        {"news is opaque", u"news:comp.lang.c", TK_SERVICE_NEWS, u"", u"comp.lang.c", 0},
        {"mailto is opaque", u"mailto:a@b.org", TK_SERVICE_MAILTO, u"", u"a@b.org", 0},
        {"unlisted scheme cracks but is unknown", u"foo://host/x", TK_SERVICE_UNKNOWN, u"host",
         u"/x", 0},
        {"scheme and host case folded, path kept", u"HTTP://Example.ORG/Path", TK_SERVICE_HTTP,
         u"example.org", u"/Path", 80},
        {"blanks around the URL dropped", u"  http://h/x \t", TK_SERVICE_HTTP, u"h", u"/x", 80},
    };
    for (const SchemeRow& row : rows) {
        SCOPED_TRACE(row.name);
        Parsed p = Parse(row.url);
        EXPECT_NE(p.result, 0);
        EXPECT_EQ(p.service, row.service);
        EXPECT_EQ(p.server, row.server);
        EXPECT_EQ(p.object, row.object);
        EXPECT_EQ(p.port, row.port);
    }
}

struct HostRow {
    const char* name;
    const char16_t* url;
    const char16_t* server;
    const char16_t* object;
    unsigned short port;
    const char16_t* user;
    const char16_t* password;
};

TEST(UrlParse, HostsPortsAndUserInfo) {
    const HostRow rows[] = {
        {"explicit port", u"http://h:8080/x", u"h", u"/x", 8080, u"", u""},
        {"empty port is the default", u"http://h:/x", u"h", u"/x", 80, u"", u""},
        {"IPv6 literal without brackets", u"http://[::1]:8443/x", u"::1", u"/x", 8443, u"", u""},
        {"IPv6 with default port", u"https://[2001:DB8::1]/", u"2001:db8::1", u"/", 443, u"", u""},
        {"user and password", u"http://u:p%40ss@h/x", u"h", u"/x", 80, u"u", u"p%40ss"},
        {"user without password", u"http://u@h/x", u"h", u"/x", 80, u"u", u""},
        {"last @ ends the user info", u"http://a@b@h/x", u"h", u"/x", 80, u"a@b", u""},
        {"no path becomes /", u"http://h", u"h", u"/", 80, u"", u""},
        {"query without path", u"http://h?q=1", u"h", u"/?q=1", 80, u"", u""},
        {"backslashes read as slashes", u"http:\\\\h\\a\\b", u"h", u"/a/b", 80, u"", u""},
        {"dot segments resolved", u"http://h/a/./b/../c", u"h", u"/a/c", 80, u"", u""},
        {"dot segments never climb above the root", u"http://h/../../x", u"h", u"/x", 80, u"", u""},
        {"dots after ? are left alone", u"http://h/a?b/../c", u"h", u"/a?b/../c", 80, u"", u""},
    };
    for (const HostRow& row : rows) {
        SCOPED_TRACE(row.name);
        Parsed p = ParseEx(row.url, 0);
        EXPECT_NE(p.result, 0);
        EXPECT_EQ(p.server, row.server);
        EXPECT_EQ(p.object, row.object);
        EXPECT_EQ(p.port, row.port);
        EXPECT_EQ(p.user, row.user);
        EXPECT_EQ(p.password, row.password);
    }
}

struct EscapeRow {
    const char* name;
    const char16_t* url;
    std::uint32_t flags;  // kPlain: tkParseURL
    const char16_t* object;
};
constexpr std::uint32_t kPlain = 0xFFFFFFFFu;

TEST(UrlParse, EscapesAndFlags) {
    const EscapeRow rows[] = {
        {"tkParseURL never unescapes", u"http://h/a%20b?x=%41", kPlain, u"/a%20b?x=%41"},
        {"unsafe characters escaped as UTF-8", u"http://h/a b/\u00e9\u4e2d", kPlain,
         u"/a%20b/%C3%A9%E4%B8%AD"},
        {"a surrogate pair is one UTF-8 sequence", u"http://h/\U0001F600", kPlain,
         u"/%F0%9F%98%80"},
        {"browser mode leaves the query as written", u"http://h/p q?a b#c d", kPlain,
         u"/p%20q?a b#c d"},
        {"without browser mode the query is escaped too", u"http://h/p?a b", 0, u"/p?a%20b"},
        {"ICU_NO_ENCODE keeps unsafe characters", u"http://h/a b<", ICU_NO_ENCODE, u"/a b<"},
        {"ICU_ENCODE_SPACES_ONLY", u"http://h/a b<", ICU_ENCODE_SPACES_ONLY, u"/a%20b<"},
        {"ICU_NO_META keeps dot segments", u"http://h/a/../b", ICU_NO_META, u"/a/../b"},
        {"ICU_DECODE alone: the cracker unescapes everything", u"http://h/a%20b?x=%41", ICU_DECODE,
         u"/a b?x=A"},
        {"ICU_ESCAPE alone does the same", u"http://h/a%2Fb", ICU_ESCAPE, u"/a/b"},
        {"ICU_DECODE with browser mode: query stays escaped", u"http://h/a%20b?x=%41#%42",
         ICU_DECODE | ICU_BROWSER_MODE, u"/a b?x=%41#%42"},
        {"escaped UTF-8 decodes to its character", u"http://h/\u00e9%E4%B8%AD", ICU_DECODE,
         u"/\u00e9\u4e2d"},
        {"a byte that is not UTF-8 keeps its value", u"http://h/%FFx%C3", ICU_DECODE,
         u"/\u00ffx\u00c3"},
        {"a broken escape stays as written", u"http://h/%zz%4", ICU_DECODE, u"/%zz%4"},
    };
    for (const EscapeRow& row : rows) {
        SCOPED_TRACE(row.name);
        Parsed p = row.flags == kPlain ? Parse(row.url) : ParseEx(row.url, row.flags);
        EXPECT_NE(p.result, 0);
        EXPECT_EQ(p.object, row.object);
    }
}

TEST(UrlParse, CapacitiesAndFailures) {
    // Failures give 0 and TK_SERVICE_UNKNOWN and leave the port alone.
    struct Row {
        const char* name;
        std::u16string url;
    };
    const Row failures[] = {
        {"no scheme", u"example.org/x"},
        {"empty", u""},
        {"port too large", u"http://h:65536/"},
        {"port not a number", u"http://h:8a/"},
        {"empty host for http", u"http:///x"},
        {"unclosed IPv6 literal", u"http://[::1/x"},
        {"junk after an IPv6 literal", u"http://[::1]x/"},
        {"not an address in brackets", u"http://[h!]/"},
    };
    for (const Row& row : failures) {
        SCOPED_TRACE(row.name);
        Parsed p = Parse(row.url);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.service, std::uint32_t(TK_SERVICE_UNKNOWN));
        EXPECT_EQ(p.port, 7);
    }

    // Each entry point has its own limits: a part at the limit passes, one
    // more character fails.
    auto host = [](std::size_t n) { return u"http://" + std::u16string(n, u'h') + u"/"; };
    auto path = [](std::size_t n) { return u"http://h/" + std::u16string(n - 1, u'p'); };
    EXPECT_NE(ParseEx(host(256), 0).result, 0);
    EXPECT_EQ(ParseEx(host(257), 0).result, 0);
    EXPECT_NE(ParseEx(path(2048), 0).result, 0);
    EXPECT_EQ(ParseEx(path(2049), 0).result, 0);
    EXPECT_NE(Parse(host(2084)).result, 0);
    EXPECT_EQ(Parse(host(2085)).result, 0);
    EXPECT_NE(Parse(path(2084)).result, 0);
    EXPECT_EQ(Parse(path(2085)).result, 0);
    std::u16string longUser = u"http://" + std::u16string(129, u'u') + u"@h/";
    EXPECT_EQ(ParseEx(longUser, 0).result, 0);

    // A canonical URL longer than the 2084-character buffer is parsed from
    // the heap; its parts still fit.
    Parsed longUrl =
        Parse(u"http://" + std::u16string(1000, u'h') + u"/" + std::u16string(1500, u'p'));
    EXPECT_NE(longUrl.result, 0);
    EXPECT_EQ(longUrl.server.size(), 1000u);
    EXPECT_EQ(longUrl.object.size(), 1501u);

    // A null URL touches nothing but the service type.
    std::uint32_t service = 99;
    CTKString server(TKL("kept")), object(TKL("kept"));
    unsigned short port = 1234;
    EXPECT_EQ(tkParseURL(nullptr, service, server, object, port), 0);
    EXPECT_EQ(service, std::uint32_t(TK_SERVICE_UNKNOWN));
    EXPECT_EQ(Text(server), u"kept");
    EXPECT_EQ(port, 1234);
}

}  // namespace

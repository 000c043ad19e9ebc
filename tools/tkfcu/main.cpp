// tkfcu — the TavikFCU library from the shell.
//
// One program with git-style commands ("tkfcu json fmt FILE"). Input and
// output are UTF-8; results go to stdout, errors to stderr. Exit status 0 on
// success, 1 when the work failed (the message names the file or value at
// fault), 2 for a command line that cannot be run (nothing on stdout, one
// usage line on stderr).
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tkfcu.h"

#ifndef TKFCU_VERSION
#error "the build defines TKFCU_VERSION from the project version"
#endif

namespace tkfcu {
namespace {

struct Command {
    const char* group;  // first word ("json"), or null for a one-word command
    const char* name;   // the command word itself
    const char* usage;  // arguments after the command words
    const char* summary;
    const char* details;
    int (*run)(const Args&);
    OptionSpec options[2];  // unused entries have a null name
};

const OptionSpec kCodePage = {"codepage", 0, true};

const Command kCommands[] = {
    {"json",
     "fmt",
     "[--compact] [--codepage N] [FILE|-]",
     "format a JSON document",
     "Reads a JSON document (any top-level value) from FILE or standard input\n"
     "and writes it formatted (CR LF lines, TAB indents) or, with --compact, on\n"
     "one line. Text is UTF-8 when it starts with a byte-order mark, otherwise\n"
     "the ANSI code page: UTF-8 unless --codepage N names another (936, 1252...).\n"
     "A file must hold 11 to 52,428,800 bytes; standard input up to 52,428,800.\n"
     "Output is UTF-8. A document the reader refuses prints its message.\n",
     RunJsonFmt,
     {{"compact", 0, false}, kCodePage}},
    {"json",
     "get",
     "[--codepage N] FILE KEYPATH",
     "print the value at a key path",
     "Prints the value under KEYPATH in the JSON object of FILE (\"-\": standard\n"
     "input). Segments of the path are separated by a backslash: owner\\city.\n"
     "A string prints raw, a number as the writer writes it, true or false,\n"
     "null for an empty value, an object or array as compact JSON. A missing\n"
     "key is an error.\n",
     RunJsonGet,
     {kCodePage}},
    {"geo",
     "fwd",
     "EPSG [LON LAT]",
     "longitude, latitude to easting, northing",
     "Projects a point given in decimal degrees into the Gauss-Kruger or UTM\n"
     "system of an EPSG code and prints \"EASTING NORTHING\" in metres with 4\n"
     "decimals. Without LON LAT, reads one whitespace-separated pair a line\n"
     "from standard input and writes one line each, in constant memory; blank\n"
     "lines stay blank.\n"
     "  tkfcu geo fwd 4527 118.5 31      ->  643264.1353 3431940.3239\n",
     RunGeoForward,
     {}},
    {"geo",
     "inv",
     "EPSG [EASTING NORTHING]",
     "easting, northing to longitude, latitude",
     "The inverse of geo fwd: prints \"LON LAT\" in decimal degrees with 9\n"
     "decimals; without coordinates, streams pairs from standard input.\n",
     RunGeoInverse,
     {}},
    {"geo",
     "wkt",
     "EPSG",
     "print the WKT of an EPSG code",
     "Prints the PROJCS WKT text of the projected system of an EPSG code.\n"
     "Codes: 2327-2390 Xian 1980, 2401-2442 Beijing 1954, 4513-4554 CGCS2000,\n"
     "32601-32660 and 32701-32760 WGS 84 UTM.\n",
     RunGeoWkt,
     {}},
    {nullptr,
     "b64",
     "[-d]",
     "Base64 encode or decode",
     "Encodes standard input to Base64 (padded, one line) or, with -d, decodes\n"
     "it; line breaks in the input to -d are ignored, any other character\n"
     "outside the alphabet is an error. Streams in constant memory.\n",
     RunBase64,
     {{"decode", 'd', false}}},
    {nullptr,
     "b32",
     "[-d]",
     "Base32 encode or decode",
     "Encodes standard input to Base32 in the library's alphabet\n"
     "\"abcdefghijklmnopqrstuvwxyz654321\" without padding, or decodes it with -d.\n",
     RunBase32,
     {{"decode", 'd', false}}},
    {nullptr,
     "md5",
     "[FILE...]",
     "MD5 digests",
     "Prints \"HEX  NAME\" for each FILE (standard input, named \"-\", when none is\n"
     "given), like md5sum. Files are mapped, not copied; up to 4 GiB each.\n",
     RunMd5,
     {}},
    {nullptr,
     "crc64",
     "[FILE...]",
     "CRC-64 checksums",
     "Prints \"HEX  NAME\" with the CRC-64 (polynomial 0xAD93D23594C935A9,\n"
     "reflected, no final XOR) of each FILE or standard input. Streams any size.\n",
     RunCrc64,
     {}},
    {nullptr,
     "hmac-sha256",
     "--key KEY [FILE]",
     "HMAC-SHA256 of a file",
     "Prints \"HEX  NAME\" with the HMAC-SHA256 of FILE or standard input under\n"
     "the UTF-8 bytes of KEY. Inputs up to 2 GiB.\n",
     RunHmacSha256,
     {{"key", 0, true}}},
    {nullptr,
     "csv",
     "[--tsv] [--codepage N] FILE",
     "read a CSV file",
     "Prints the header the CSV reader reads, then every row, one line each: as\n"
     "CSV (fields quoted where needed) or, with --tsv, tab-separated with tab,\n"
     "CR, LF and backslash written as \\t, \\r, \\n and \\\\.\n",
     RunCsv,
     {{"tsv", 0, false}, kCodePage}},
    {nullptr,
     "url",
     "URL",
     "split a URL",
     "Prints the parts of URL the library's parser finds: service (the service\n"
     "number: 3 http, 4107 https, 1 ftp...), host, port, path, user, password.\n",
     RunUrl,
     {}},
    {nullptr,
     "get",
     "URL [-o FILE]",
     "HTTP GET",
     "Fetches URL with the library's HTTP client; the body goes to standard\n"
     "output or FILE. When stderr is a terminal a progress line shows bytes,\n"
     "rate and time left. A status of 400 or above is an error.\n",
     RunGet,
     {{"output", 'o', true}}},
};

const char kTopUsage[] = "tkfcu COMMAND [ARGS...]";

std::string FullName(const Command& c) {
    return c.group ? std::string(c.group) + " " + c.name : std::string(c.name);
}

std::string UsageLine(const Command& c) {
    return "tkfcu " + FullName(c) + " " + c.usage;
}

bool IsNetCommand(const Command& c) {
    return c.run == RunUrl || c.run == RunGet;
}

void PrintHelp() {
    std::printf("usage: %s\n\nCommands:\n", kTopUsage);
    for (const Command& c : kCommands) {
        std::string left = FullName(c) + " " + c.usage;
        std::printf("  %-46s %s%s\n", left.c_str(), c.summary,
                    IsNetCommand(c) && !HaveInternetClient() ? " (not in this build)" : "");
    }
    std::printf(
        "\n\"tkfcu COMMAND --help\" describes one command; \"tkfcu --version\" prints the "
        "version.\n"
        "Exit status: 0 success, 1 failure (message on stderr), 2 usage error.\n");
}

void PrintCommandHelp(const Command& c) {
    std::printf("usage: %s\n\n%s", UsageLine(c).c_str(), c.details);
    if (IsNetCommand(c) && !HaveInternetClient())
        std::printf("Not available: this build of the library has no internet client.\n");
}

void PrintGroupHelp(const std::string& group) {
    std::printf("usage: tkfcu %s SUBCOMMAND [ARGS...]\n\n", group.c_str());
    for (const Command& c : kCommands)
        if (c.group && group == c.group) {
            std::string left = FullName(c) + " " + c.usage;
            std::printf("  %-46s %s\n", left.c_str(), c.summary);
        }
}

bool IsGroup(const std::string& word) {
    for (const Command& c : kCommands)
        if (c.group && word == c.group) return true;
    return false;
}

const Command* Find(const std::string& group, const std::string& name) {
    for (const Command& c : kCommands)
        if ((c.group ? group == c.group : group.empty()) && name == c.name) return &c;
    return nullptr;
}

bool AsksForHelp(const std::vector<std::string>& words) {
    for (const std::string& w : words) {
        if (w == "--") return false;
        if (w == "--help" || w == "-h") return true;
    }
    return false;
}

// The library's debugger output would repeat what the commands report.
void Silent(const TKWCHAR*) {}

int Usage(const std::string& reason, const std::string& usage) {
    std::fprintf(stderr, "tkfcu: %s; usage: %s\n", reason.c_str(), usage.c_str());
    return kExitUsage;
}

int Main(std::vector<std::string> words) {
    if (words.empty()) return Usage("no command", kTopUsage);
    const std::string first = words[0];
    if (first == "--version" || first == "version") {
        std::printf("tkfcu %s\n", TKFCU_VERSION);
        return kExitOk;
    }
    if (first == "help" || first == "--help" || first == "-h") {
        if (words.size() == 1) {
            PrintHelp();
            return kExitOk;
        }
        words.erase(words.begin());
        words.push_back("--help");
        return Main(words);
    }

    const Command* command = nullptr;
    std::size_t used = 1;
    if (IsGroup(first)) {
        if (words.size() < 2 || (!words[1].empty() && words[1][0] == '-')) {
            if (AsksForHelp(words)) {
                PrintGroupHelp(first);
                return kExitOk;
            }
            return Usage("missing subcommand", "tkfcu " + first + " SUBCOMMAND [ARGS...]");
        }
        command = Find(first, words[1]);
        if (!command)
            return Usage("unknown command \"" + first + " " + words[1] + "\"",
                         "tkfcu " + first + " SUBCOMMAND [ARGS...]; see tkfcu help");
        used = 2;
    } else {
        command = Find("", first);
        if (!command)
            return Usage("unknown command \"" + first + "\"",
                         "tkfcu COMMAND [ARGS...]; tkfcu help lists the commands");
    }

    std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
    if (AsksForHelp(rest)) {
        PrintCommandHelp(*command);
        return kExitOk;
    }
    try {
        Args args(rest, command->options, 2);
        int status = command->run(args);
        FlushOut();
        return status;
    } catch (const UsageError& e) {
        return Usage(e.reason, UsageLine(*command));
    }
}

}  // namespace
}  // namespace tkfcu

int main(int argc, char** argv) {
    using namespace tkfcu;
    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    tkSetDebugOutputSink(Silent);

    std::vector<std::string> words(argv + 1, argv + argc);
    try {
        return Main(words);
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "tkfcu: %s\n", f.message.c_str());
        return kExitFailed;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tkfcu: out of memory\n");
        return kExitFailed;
    }
}

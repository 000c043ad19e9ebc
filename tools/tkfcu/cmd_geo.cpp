// tkfcu geo fwd / inv / wkt: Gauss-Kruger and UTM systems by EPSG code.
//
// Without coordinates on the command line, fwd and inv stream pairs from
// standard input through one fixed buffer: memory stays the same for ten
// lines or a billion.
#include <charconv>
#include <cmath>
#include <cstring>

#include "sys.h"
#include "tkfcu.h"

namespace tkfcu {

namespace {

CTKProCoordinateSystem SystemOf(const std::string& code) {
    int epsg = 0;
    CTKProCoordinateSystem pcs;
    CTKProCoordinateSystem::EPCSType type;
    if (!ParseInt(code, epsg) || !pcs.setByEPSGCode(epsg, type))
        Fail("EPSG " + code + " is not a code the library knows (see tkfcu geo wkt --help)");
    return pcs;
}

using Convert = void (*)(double, double, double&, double&, const CTKProCoordinateSystem&);

// Appends "A B\n" with the given decimals to out; returns the new end.
char* FormatPair(char* out, char* end, double a, double b, int decimals) {
    out = std::to_chars(out, end, a, std::chars_format::fixed, decimals).ptr;
    *out++ = ' ';
    out = std::to_chars(out, end, b, std::chars_format::fixed, decimals).ptr;
    *out++ = '\n';
    return out;
}

// Longest input line accepted; a longer one cannot be a pair of numbers.
constexpr std::size_t kMaxLine = 4096;
// Room for one output line: two fixed numbers of at most ~330 digits each.
constexpr std::size_t kMaxOutLine = 720;

// Far outside a zone the series overflow; say so rather than print inf or nan.
std::string NoResult(std::string_view input) {
    return "the projection has no finite result for \"" + std::string(input) + "\"";
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Converts one input line (without its LF) into out; returns the new end.
char* ConvertLine(std::string_view line, std::uint64_t lineNo, Convert convert,
                  const CTKProCoordinateSystem& pcs, int decimals, char* out) {
    double values[2];
    int found = 0;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) break;
        std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        std::string_view token = line.substr(start, i - start);
        if (found == 2 || !ParseDouble(token, values[found]))
            Fail("standard input, line " + std::to_string(lineNo) + ": " +
                 (found == 2 ? "more than two values"
                             : "\"" + std::string(token) + "\" is not a number"));
        ++found;
    }
    if (found == 0) {  // a blank line stays blank, so lines keep matching up
        *out++ = '\n';
        return out;
    }
    if (found == 1)
        Fail("standard input, line " + std::to_string(lineNo) + ": expected two values");
    double a = 0, b = 0;
    convert(values[0], values[1], a, b, pcs);
    if (!std::isfinite(a) || !std::isfinite(b))
        Fail("standard input, line " + std::to_string(lineNo) + ": " + NoResult(line));
    return FormatPair(out, out + kMaxOutLine, a, b, decimals);
}

int Stream(Convert convert, const CTKProCoordinateSystem& pcs, int decimals) {
    Input input("-");
    static char in[1 << 16];
    static char out[1 << 16];
    std::size_t held = 0;  // bytes of an unfinished line at the start of in
    std::size_t outUsed = 0;
    std::uint64_t lineNo = 0;
    bool ended = false;
    // What was converted goes out before the next read can wait, so lines
    // typed at a terminal are answered at once, and before any failure.
    auto drain = [&] {
        Out(out, outUsed);
        outUsed = 0;
        FlushOut();
    };
    try {
        while (!ended) {
            drain();
            std::size_t n = input.Read(in + held, sizeof in - held);
            ended = n == 0;
            std::size_t filled = held + n;
            std::size_t start = 0;
            for (;;) {
                const char* lf =
                    static_cast<const char*>(std::memchr(in + start, '\n', filled - start));
                std::size_t stop = lf ? static_cast<std::size_t>(lf - in) : filled;
                if (!lf && !(ended && stop > start)) break;  // wait for the rest of the line
                if (stop - start > kMaxLine)
                    Fail("standard input, line " + std::to_string(lineNo + 1) + ": longer than " +
                         std::to_string(kMaxLine) + " bytes");
                if (sizeof out - outUsed < kMaxOutLine) drain();
                outUsed = static_cast<std::size_t>(
                    ConvertLine(std::string_view(in + start, stop - start), ++lineNo, convert, pcs,
                                decimals, out + outUsed) -
                    out);
                start = lf ? stop + 1 : filled;
            }
            held = filled - start;
            if (held > kMaxLine)
                Fail("standard input, line " + std::to_string(lineNo + 1) + ": longer than " +
                     std::to_string(kMaxLine) + " bytes");
            std::memmove(in, in + start, held);
        }
    } catch (const Failure&) {
        drain();
        throw;
    }
    drain();
    return kExitOk;
}

int Run(const Args& args, Convert convert, int decimals) {
    if (args.Count() != 1 && args.Count() != 3)
        BadUsage(args.Count() == 0   ? "missing argument"
                 : args.Count() == 2 ? "missing second coordinate"
                                     : "unexpected argument " + args[3]);
    const CTKProCoordinateSystem pcs = SystemOf(args[0]);
    if (args.Count() == 1) return Stream(convert, pcs, decimals);

    double values[2];
    for (int k = 0; k < 2; ++k)
        if (!ParseDouble(args[1 + k], values[k])) Fail("\"" + args[1 + k] + "\" is not a number");
    double a = 0, b = 0;
    convert(values[0], values[1], a, b, pcs);
    if (!std::isfinite(a) || !std::isfinite(b)) Fail(NoResult(args[1] + " " + args[2]));
    char line[kMaxOutLine];
    Out(line,
        static_cast<std::size_t>(FormatPair(line, line + sizeof line, a, b, decimals) - line));
    return kExitOk;
}

}  // namespace

int RunGeoForward(const Args& args) {
    return Run(args, CTKProCoordinateSystem::GeoToGauss, 4);
}

int RunGeoInverse(const Args& args) {
    return Run(args, CTKProCoordinateSystem::GaussToGeo, 9);
}

int RunGeoWkt(const Args& args) {
    args.Expect(1, 1);
    char* wkt = SystemOf(args[0]).CreateWKT();
    std::string text = wkt;  // ANSI code page: UTF-8 unless changed, and ASCII anyway
    tkFreeMem(wkt);
    if (text.empty() || text.back() != '\n') text += '\n';
    Out(text);
    return kExitOk;
}

}  // namespace tkfcu

// Shared pieces of tkfcu: failures, arguments, text conversion and output.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tkfcu.h"

namespace tkfcu {

void Fail(std::string message) {
    throw Failure{std::move(message)};
}

void BadUsage(std::string reason) {
    throw UsageError{std::move(reason)};
}

// ---- arguments -------------------------------------------------------------------

namespace {

// "-", "-5", "-.5": words that begin with '-' but are values, not options.
bool LooksLikeValue(const std::string& word) {
    if (word.size() < 2) return true;
    char c = word[1];
    return (c >= '0' && c <= '9') || c == '.';
}

}  // namespace

Args::Args(const std::vector<std::string>& words, const OptionSpec* options, std::size_t count) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.empty() || word[0] != '-' || LooksLikeValue(word)) {
            m_positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        for (std::size_t k = 0; k < count; ++k) {
            const OptionSpec& o = options[k];
            if (!o.name) continue;
            bool longForm = word.size() > 2 && word[1] == '-' &&
                            word.compare(2, std::string::npos, o.name) == 0;
            bool shortForm = o.alias && word.size() == 2 && word[1] == o.alias;
            if (longForm || shortForm) spec = &o;
        }
        if (!spec) BadUsage("unknown option " + word);
        std::string value;
        if (spec->takesValue) {
            if (i + 1 >= words.size())
                BadUsage("option --" + std::string(spec->name) + " needs a value");
            value = words[++i];
        }
        m_options.emplace_back(spec->name, std::move(value));
    }
}

bool Args::Has(std::string_view name) const {
    return Value(name) != nullptr;
}

const std::string* Args::Value(std::string_view name) const {
    const std::string* found = nullptr;
    for (const auto& option : m_options)
        if (option.first == name) found = &option.second;  // the last one given wins
    return found;
}

void Args::Expect(std::size_t min, std::size_t max) const {
    if (Count() < min) BadUsage("missing argument");
    if (Count() > max) BadUsage("unexpected argument " + m_positionals[max]);
}

void ApplyCodePage(const Args& args) {
    const std::string* text = args.Value("codepage");
    if (!text) return;
    int codePage = 0;
    if (!ParseInt(*text, codePage) || codePage <= 0 ||
        !tkSetAnsiCodePage(static_cast<unsigned int>(codePage)))
        Fail("code page " + *text + " is not one the library knows");
}

// ---- text ------------------------------------------------------------------------

CTKString FromUtf8(const std::string& text) {
    int units = TKStringUtils::UTF82Unicode(text.c_str(), nullptr, 0);
    CTKString result;
    if (units <= 1) return result;
    TKStringUtils::UTF82Unicode(text.c_str(), result.GetBuffer(units), units);
    result.ReleaseBuffer(-1);
    return result;
}

std::string ToUtf8(const TKWCHAR* text) {
    int bytes = TKStringUtils::Unicode2UTF8(text, nullptr, 0);
    if (bytes <= 1) return std::string();
    std::string result(static_cast<std::size_t>(bytes), '\0');
    TKStringUtils::Unicode2UTF8(text, result.data(), bytes);
    result.resize(static_cast<std::size_t>(bytes) - 1);
    return result;
}

bool ParseDouble(std::string_view text, double& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') {  // from_chars takes only '-'
        ++first;
        if (first != last && (*first == '+' || *first == '-')) return false;
    }
    if (first == last) return false;
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && std::isfinite(value);
}

bool ParseInt(std::string_view text, int& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    return first != last && error == std::errc() && end == last;
}

// ---- output ----------------------------------------------------------------------

void Out(const void* bytes, std::size_t size) {
    if (size && std::fwrite(bytes, 1, size, stdout) != size)
        Fail(std::string("standard output: ") + std::strerror(errno));
}

void Out(std::string_view bytes) {
    Out(bytes.data(), bytes.size());
}

void FlushOut() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        Fail(std::string("standard output: ") + std::strerror(errno));
}

void Progress(const std::string& line) {
    // Carriage return and "erase to end of line": the line is redrawn in place.
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
}

}  // namespace tkfcu

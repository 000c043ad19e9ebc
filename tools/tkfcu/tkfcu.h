// tkfcu.h — what every tkfcu command shares: failures and exit statuses,
// argument parsing, UTF-8 <-> UTF-16 through the library, and output.
//
// A command reports a failure by throwing Failure (exit status 1, message on
// stderr) and a malformed command line by throwing UsageError (exit status
// 2, one usage line on stderr). main() catches both, so a command body reads
// straight through and never prints its own error text.
#ifndef TKFCU_TKFCU_H
#define TKFCU_TKFCU_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tavikfcu/TavikFCU.h"

namespace tkfcu {

enum ExitStatus : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// A failure of the work itself: an unreadable file, malformed input, a value
// the library refuses. The message names the file or value at fault.
struct Failure {
    std::string message;
};

// A command line that cannot be run: a missing or extra argument, an unknown
// option. The reason is printed before the command's usage line.
struct UsageError {
    std::string reason;
};

[[noreturn]] void Fail(std::string message);
[[noreturn]] void BadUsage(std::string reason);

// ---- arguments -------------------------------------------------------------------

// One option a command accepts: "--name", followed by a value when
// takesValue. A one-letter alias ("-d") may stand for it.
struct OptionSpec {
    const char* name;
    char alias;
    bool takesValue;
};

// The words after the command, split into options and positionals. Options
// may stand anywhere; "--" ends them; "-" alone and negative numbers
// ("-75.5") are positionals. An unknown option or a missing value throws
// UsageError.
class Args {
  public:
    // options holds count specs; specs with a null name are skipped.
    Args(const std::vector<std::string>& words, const OptionSpec* options, std::size_t count);

    bool Has(std::string_view name) const;
    // The value given to an option, or null when it was not given.
    const std::string* Value(std::string_view name) const;

    std::size_t Count() const { return m_positionals.size(); }
    const std::string& operator[](std::size_t i) const { return m_positionals[i]; }
    // Throws UsageError unless min <= Count() <= max.
    void Expect(std::size_t min, std::size_t max) const;

  private:
    std::vector<std::pair<std::string, std::string>> m_options;
    std::vector<std::string> m_positionals;
};

// Applies --codepage N when given: N must be a code page the library knows.
void ApplyCodePage(const Args& args);

// ---- text ------------------------------------------------------------------------

// UTF-8 (command-line arguments, file names) to the library's UTF-16.
CTKString FromUtf8(const std::string& text);
// UTF-16 up to its first NUL to UTF-8, for output and messages.
std::string ToUtf8(const TKWCHAR* text);

// Strict number parsing of a whole argument or token: no blanks, no trailing
// characters, finite values only. False when text is not such a number.
bool ParseDouble(std::string_view text, double& value);
bool ParseInt(std::string_view text, int& value);

// ---- output ----------------------------------------------------------------------

// Standard output through a large stdio buffer. Flush() reports a failed
// write (a full disk, a closed pipe) as a Failure.
void Out(std::string_view bytes);
void Out(const void* bytes, std::size_t size);
void FlushOut();

// A progress line on stderr, redrawn in place; only meant for terminals.
void Progress(const std::string& line);

// ---- commands --------------------------------------------------------------------

int RunJsonFmt(const Args& args);
int RunJsonGet(const Args& args);
int RunGeoForward(const Args& args);
int RunGeoInverse(const Args& args);
int RunGeoWkt(const Args& args);
int RunBase64(const Args& args);
int RunBase32(const Args& args);
int RunMd5(const Args& args);
int RunCrc64(const Args& args);
int RunHmacSha256(const Args& args);
int RunCsv(const Args& args);
int RunUrl(const Args& args);
int RunGet(const Args& args);

// Whether this build's library has the internet client (url, get).
bool HaveInternetClient();

}  // namespace tkfcu

#endif  // TKFCU_TKFCU_H

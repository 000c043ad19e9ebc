// WKT tokenizer, parser and lookups (the grammar is in wkt_tree.h).
#include "geo/wkt_tree.h"

#include <string>
#include <utility>

#include "platform/c_locale_numbers.h"
#include "text/wide_crt.h"

namespace tk::detail {

namespace {

bool IsWktSpace(TKWCHAR ch) {
    return ch == u' ' || ch == u'\t' || ch == u'\r' || ch == u'\n';
}
bool IsDelimiter(TKWCHAR ch) {
    return ch == u',' || ch == u'[' || ch == u']';
}

// Whether a token is exactly the one-character text ch.
bool Is(const CTKString& token, TKWCHAR ch) {
    return token.GetLength() == 1 && token[0] == ch;
}

bool LooksNumeric(const CTKString& word) {
    if (word.IsEmpty()) return false;
    for (int i = 0; i < word.GetLength(); ++i) {
        const TKWCHAR ch = word[i];
        if (!((ch >= u'0' && ch <= u'9') || ch == u'+' || ch == u'-' || ch == u'.')) return false;
    }
    return true;
}

// The C runtime's text-to-double on the whole word: it stops at the first
// character it cannot use, so "1.2.3" reads 1.2 and a lone "-" reads 0. The
// word holds only ASCII digits, signs and points, so narrowing is exact.
double WordToNumber(const CTKString& word) {
    std::string narrow(static_cast<std::size_t>(word.GetLength()), '\0');
    for (int i = 0; i < word.GetLength(); ++i) narrow[i] = static_cast<char>(word[i]);
    return tk::platform::ParseDoubleCLocale(narrow.c_str(), nullptr);
}

// The pieces of a split path, freed with the lookup.
class PathParts {
  public:
    // The parts of a '\'-separated path, each trimmed of spaces, empty ones
    // dropped.
    explicit PathParts(const TKWCHAR* path) {
        try {
            TKStringUtils::SplitStr(path, u'\\', m_parts);
            TKStringUtils::AdjustStrArr(m_parts, true, true);
        } catch (...) {
            TKStringUtils::FreeStrArr(m_parts);
            throw;
        }
    }
    ~PathParts() { TKStringUtils::FreeStrArr(m_parts); }
    PathParts(const PathParts&) = delete;
    PathParts& operator=(const PathParts&) = delete;

    const std::vector<TKWCHAR*>& Get() const { return m_parts; }

  private:
    std::vector<TKWCHAR*> m_parts;
};

// KEY and PARAMETER names ignore case (simple case folding, as _wcsicmp).
bool SameName(const TKWCHAR* a, const TKWCHAR* b) {
    return tk::platform::_wcsicmp(a, b) == 0;
}

// The parser's failure messages.
const TKWCHAR kNullText[] = TKL("WKT参数为NULL");
const TKWCHAR kNoKey[] = TKL("无效的WKT格式，未发现KEY[xxx]定义");
const TKWCHAR kUnbalanced[] = TKL("无效的WKT格式，[]不匹配");
const TKWCHAR kInvalidFormatPrefix[] = TKL("无效的WKT格式，");
const TKWCHAR kNoEndMarkerSuffix[] = TKL("后未发现结束标记");
const TKWCHAR kNoValidEndMarkerSuffix[] = TKL("后未发现有效的结束标记");

bool Fail(CTKString& error, const TKWCHAR* message) {
    error = message;
    return false;
}

bool FailAfter(CTKString& error, const CTKString& item, const TKWCHAR* suffix) {
    error = kInvalidFormatPrefix + item + suffix;
    return false;
}

}  // namespace

// ---- nodes -------------------------------------------------------------------

CWKTDef::CWKTDef() : CWKTDefValue(kDefinition) {
    m_def = this;
}

CWKTDef::~CWKTDef() {
    m_def = nullptr;
    // Flatten instead of recursing: a nested definition hands its items to
    // the work list before it is deleted, so it dies with no items left.
    std::vector<CWKTDefValue*> pending;
    pending.swap(m_values);
    while (!pending.empty()) {
        CWKTDefValue* item = pending.back();
        pending.pop_back();
        if (item->m_kind == kDefinition) {
            auto* nested = static_cast<CWKTDef*>(item);
            pending.insert(pending.end(), nested->m_values.begin(), nested->m_values.end());
            nested->m_values.clear();
        }
        delete item;
    }
}

// ---- tokenizer ---------------------------------------------------------------

bool CWKTDef::NextToken(const TKWCHAR* text, int& pos, CTKString& token, bool& quoted) {
    if (!text) return false;
    const TKWCHAR* p = text + pos;
    if (*p == 0) return false;
    while (IsWktSpace(*p)) ++p;
    if (*p == 0) {
        pos = static_cast<int>(p - text);
        return false;
    }
    if (IsDelimiter(*p)) {
        token = CTKString(p, 1);
        quoted = false;
        pos = static_cast<int>(p + 1 - text);
        return true;
    }
    const TKWCHAR* end;
    if (*p == u'"') {
        end = p + 1;
        while (*end != 0 && *end != u'"') ++end;
        if (*end == 0) return false;
        token = CTKString(p + 1, static_cast<int>(end - p - 1));
        quoted = true;
        ++end;  // past the closing quote
    } else {
        end = p + 1;
        while (*end != 0 && !IsDelimiter(*end)) ++end;
        if (*end == 0) return false;
        const TKWCHAR* last = end;
        while (last > p && IsWktSpace(last[-1])) --last;
        token = CTKString(p, static_cast<int>(last - p));
        quoted = false;
    }
    while (IsWktSpace(*end)) ++end;
    pos = static_cast<int>(end - text);
    return true;
}

// ---- parser ------------------------------------------------------------------
//
// The root is opened by the leading KEY[; then each step reads one item and
// the token after it (its follower): KEY followed by [ opens a definition;
// any other item is a value that must be followed by , or ]. A ] that
// closes the root must end the text.
bool CWKTDef::Parse(CWKTDef& root, const TKWCHAR* text, CTKString& error) {
    if (!text) return Fail(error, kNullText);

    int pos = 0;
    CTKString token;
    bool quoted = false;
    if (!NextToken(text, pos, token, quoted) || quoted) return Fail(error, kNoKey);
    root.m_name = token;
    if (!NextToken(text, pos, token, quoted) || quoted || !Is(token, u'[')) {
        return Fail(error, kNoKey);
    }

    std::vector<CWKTDef*> open{&root};
    // Closes the current definition. Returns true when the parse is over
    // (the root closed), with ok telling how it ended.
    auto close = [&](bool& ok) {
        open.pop_back();
        if (!open.empty()) return false;
        CTKString extra;
        bool extraQuoted = false;
        ok = !NextToken(text, pos, extra, extraQuoted);
        if (!ok) Fail(error, kUnbalanced);
        return true;
    };

    for (;;) {
        if (!NextToken(text, pos, token, quoted)) return Fail(error, kUnbalanced);
        if (!quoted && Is(token, u',')) continue;
        if (!quoted && Is(token, u']')) {
            bool ok;
            if (close(ok)) return ok;
            continue;
        }

        const CTKString item = token;
        const bool itemQuoted = quoted;
        CTKString follower;
        bool followerQuoted = false;
        if (!NextToken(text, pos, follower, followerQuoted) || followerQuoted) {
            return FailAfter(error, item, kNoEndMarkerSuffix);
        }
        if (!itemQuoted && Is(item, u'[')) return Fail(error, kUnbalanced);

        CWKTDef* current = open.back();
        if (!itemQuoted && Is(follower, u'[')) {
            auto* nested = new CWKTDef();
            nested->m_name = item;
            current->m_values.push_back(nested);
            open.push_back(nested);
            continue;
        }

        CWKTDefValue* value;
        if (itemQuoted) {
            value = new CWKTDefValue(kQuoted);
            value->m_text = item;
        } else if (LooksNumeric(item)) {
            value = new CWKTDefValue(kNumber);
            value->m_number = WordToNumber(item);
        } else {
            value = new CWKTDefValue(kWord);
            value->m_text = item;
        }
        current->m_values.push_back(value);

        if (Is(follower, u']')) {
            bool ok;
            if (close(ok)) return ok;
        } else if (!Is(follower, u',')) {
            return FailAfter(error, item, kNoValidEndMarkerSuffix);
        }
    }
}

// ---- lookups -----------------------------------------------------------------

const CWKTDef* CWKTDef::FindDef(const CWKTDef& def, const TKWCHAR* path) {
    const PathParts split(path);
    const std::vector<TKWCHAR*>& parts = split.Get();
    if (parts.empty() || !SameName(def.m_name, parts[0])) return nullptr;
    const CWKTDef* current = &def;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const CWKTDef* next = nullptr;
        for (const CWKTDefValue* item : current->m_values) {
            if (item->m_kind == kDefinition && SameName(item->m_def->m_name, parts[i])) {
                next = item->m_def;
                break;
            }
        }
        if (!next) return nullptr;
        current = next;
    }
    return current;
}

bool CWKTDef::GetParamValue(const CWKTDef& def, const TKWCHAR* name, double& value) {
    for (const CWKTDefValue* item : def.m_values) {
        if (item->m_kind != kDefinition) continue;
        const CWKTDef& param = *item->m_def;
        if (!SameName(param.m_name, TKL("PARAMETER")) || param.m_values.size() < 2) continue;
        const CWKTDefValue& key = *param.m_values[0];
        if (key.m_kind != kQuoted || !SameName(key.m_text, name)) continue;
        const CWKTDefValue& number = *param.m_values[1];
        if (number.m_kind != kNumber) return false;
        value = number.m_number;
        return true;
    }
    return false;
}

}  // namespace tk::detail

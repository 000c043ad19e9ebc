// The WKT reader's generic tree. Any text of the form KEY[item, item, ...]
// parses into it, where an item is a quoted text, an unquoted word, a number
// or a nested KEY[...]; the coordinate-system readers then pick out the few
// values they need by path ("PROJCS\GEOGCS\DATUM\SPHEROID") and by
// PARAMETER name.
//
//     CWKTDef root;
//     CTKString error;
//     if (!CWKTDef::Parse(root, text, error)) ... error holds the message
//     const CWKTDef* sph = CWKTDef::FindDef(root, TKL("GEOGCS\\DATUM\\SPHEROID"));
//
// A tree lives on the stack of one read and owns all its nodes.
#ifndef TAVIKFCU_GEO_WKT_TREE_H
#define TAVIKFCU_GEO_WKT_TREE_H

#include <cstdint>
#include <vector>

#include "tavikfcu/TKString.h"

namespace tk::detail {

class CWKTDef;

// One item between a definition's brackets.
class CWKTDefValue {
  public:
    enum Kind : std::int32_t {
        kDefinition = 1,  // a nested KEY[...]: the node is a CWKTDef
        kQuoted = 2,      // "text", verbatim (no escapes)
        kWord = 3,        // an unquoted word such as EAST, trimmed
        kNumber = 4,      // an unquoted run of 0-9 + - . only
    };

    explicit CWKTDefValue(Kind kind) : m_kind(kind) {}
    virtual ~CWKTDefValue() = default;
    CWKTDefValue(const CWKTDefValue&) = delete;
    CWKTDefValue& operator=(const CWKTDefValue&) = delete;

    std::int32_t m_kind;
    CTKString m_text;       // kQuoted, kWord: the content; else empty
    double m_number = 0.0;  // kNumber: the value
    // kDefinition: this node itself, seen as a definition. Owns nothing; a
    // definition clears it first thing when it is destroyed.
    CWKTDef* m_def = nullptr;
};

// A KEY[...] definition: a name and its items in text order.
class CWKTDef : public CWKTDefValue {
  public:
    // Kind 1, linked to itself, empty name, no items (a root).
    CWKTDef();
    // Destroys the items, nested definitions included, without recursion, so
    // that deeply nested text cannot exhaust the stack.
    ~CWKTDef() override;

    CTKString m_name;
    std::vector<CWKTDefValue*> m_values;  // owned

    // Builds the tree of text under root (which must be empty). On failure
    // returns false with the message in error; the partial tree stays in
    // root for its owner to destroy.
    [[nodiscard]] static bool Parse(CWKTDef& root, const TKWCHAR* text, CTKString& error);

    // The definition reached from def by a path of KEYs separated by '\'
    // (spaces around parts and empty parts ignored): the first part names def
    // itself, each further part the first nested definition of that name.
    // Names compare case-insensitively. Null when any step is missing.
    static const CWKTDef* FindDef(const CWKTDef& def, const TKWCHAR* path);

    // The number of the first PARAMETER["name", value] item of def (names
    // case-insensitive; the definition needs at least two items, the first
    // quoted). False when there is none, or when that first match's value is
    // not a number (later ones are not consulted).
    [[nodiscard]] static bool GetParamValue(const CWKTDef& def, const TKWCHAR* name, double& value);

    // One token of text from pos: ',' '[' or ']' alone, a quoted text
    // (quoted = true; the quotes dropped), or an unquoted word running up to
    // the next , [ or ] and trimmed of spaces, tabs, CR and LF. Whitespace
    // after a text or word is skipped. False at the end of the text, for an
    // unclosed quote, and for a word that no , [ or ] follows.
    [[nodiscard]] static bool NextToken(const TKWCHAR* text, int& pos, CTKString& token,
                                        bool& quoted);
};

}  // namespace tk::detail

#endif  // TAVIKFCU_GEO_WKT_TREE_H

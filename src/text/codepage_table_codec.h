// Conversion between UTF-16 and the Windows code pages of codepage_tables.h.
//
// Reading bytes: every byte sequence gives exactly one UTF-16 unit. A byte
// the page leaves undefined gives '?'; so does a lead byte whose next byte
// does not complete a pair with it (or that ends the text), and that next
// byte is then read afresh, so a quote or a newline behind a broken pair is
// never swallowed.
//
// Writing bytes: a character the page lacks, a lone surrogate, or a
// surrogate pair (one character) becomes the default character once.
// Encoding is the exact inverse of decoding: every character a table reads
// is written back to the bytes it came from (where several sequences read
// as one character, to the one the Windows converter writes).
//
// Both directions write whole characters only: when the buffer is too small
// they stop before the first character that does not fit and report it.
// The lookup tables of a code page (256 KB for a double-byte page, 128 KB
// for a single-byte one) are built on its first use, by whichever thread
// comes first, and kept until the library is unloaded.
#ifndef TAVIKFCU_TEXT_CODEPAGE_TABLE_CODEC_H
#define TAVIKFCU_TEXT_CODEPAGE_TABLE_CODEC_H

#include <cstddef>

#include "text/codepage_tables.h"

namespace tk::platform::detail {

struct TableConversion {
    std::size_t length = 0;    // units or bytes written; with no buffer, needed
    bool full = false;         // the buffer was too small: length is what fits
    bool usedDefault = false;  // writing bytes: a character became the default
};

// Decodes n bytes of src into out[0..cap); with out null, counts only.
TableConversion DecodeWithTable(const CodePageTable& table, const unsigned char* src, std::size_t n,
                                char16_t* out, std::size_t cap);

// Encodes n units of src into out[0..cap); with out null, counts only.
TableConversion EncodeWithTable(const CodePageTable& table, const char16_t* src, std::size_t n,
                                char* out, std::size_t cap, char defaultChar);

// Frees the lookup tables built so far; the library's unload calls it.
void ReleaseCodePageTables();

}  // namespace tk::platform::detail

#endif  // TAVIKFCU_TEXT_CODEPAGE_TABLE_CODEC_H

// Code-page conversion between UTF-16 and 8-bit text, with the contract of
// the platform's MultiByteToWideChar / WideCharToMultiByte:
//  - srcLen -1 converts up to and including the source's NUL, and the count
//    returned includes that terminator; otherwise exactly srcLen units;
//  - dstLen 0 asks for the size needed and writes nothing;
//  - a destination that is too small gets what fits (whole characters) and
//    the call returns 0 with last error 122 (insufficient buffer);
//  - invalid arguments return 0 with last error 87.
// UTF-8 uses our own codec: invalid input becomes U+FFFD (one per maximal
// invalid subpart), lone surrogates become U+FFFD too. The Windows code
// pages 874, 932, 936, 949, 950, 1250-1258, 437, 850 and 866 use our own
// tables (codepage_table_codec.h): undefined bytes and broken pairs read as
// '?', characters a page lacks are written as the default character ('?'),
// with no best-fit substitutes. Other code pages go to glibc's iconv, when
// it knows them. Code page 0 (CP_ACP) means the library's ANSI code page
// (UTF-8 unless switched).
#ifndef TAVIKFCU_TEXT_CODEPAGE_H
#define TAVIKFCU_TEXT_CODEPAGE_H

#include <cstddef>
#include <cstdint>

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

inline constexpr unsigned int kCodePageAnsi = 0;      // CP_ACP
inline constexpr unsigned int kCodePageUtf8 = 65001;  // CP_UTF8

unsigned int GetAnsiCodePage();
bool SetAnsiCodePage(unsigned int codePage);

int MultiByteToWideChar(unsigned int codePage, std::uint32_t flags, const char* src, int srcLen,
                        TKWCHAR* dst, int dstLen);
int WideCharToMultiByte(unsigned int codePage, std::uint32_t flags, const TKWCHAR* src, int srcLen,
                        char* dst, int dstLen, const char* defaultChar = nullptr,
                        int* usedDefaultChar = nullptr);

// Raw UTF-8 -> UTF-16 over exactly n bytes into out, which must have room
// for n units (UTF-8 never needs more units than bytes). Returns units
// written. The fast path for bulk text (file contents).
std::size_t Utf8ToUtf16Unchecked(const char* src, std::size_t n, TKWCHAR* out);
// Units the UTF-8 text of n bytes decodes to.
std::size_t Utf16LengthOfUtf8(const char* src, std::size_t n);

// Text converted a piece at a time (a file read or written a block at a
// time) comes out as the whole text would when the pieces are cut between
// characters: bytes where PieceEnd says, UTF-16 outside surrogate pairs.
// That holds for UTF-8 and the library's own tables; the code pages left to
// iconv may carry state from one character to the next and are converted
// whole. codePage 0 is the ANSI code page.
bool ConvertsInPieces(unsigned int codePage);

// For a code page that ConvertsInPieces: the length of the longest prefix
// of src[0..n) behind which a character starts whatever bytes follow. The
// bytes after it wait for the next piece: at most the first three bytes of
// a UTF-8 sequence, on a double-byte page what follows the last byte below
// 0x40 (such a byte is never part of a pair; 0 when the piece has none).
std::size_t PieceEnd(unsigned int codePage, const char* src, std::size_t n);

}  // namespace tk::platform

#endif  // TAVIKFCU_TEXT_CODEPAGE_H

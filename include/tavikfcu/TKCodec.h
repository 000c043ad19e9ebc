// TKCodec.h — text codecs (Base64, Base32) and one-shot digests (MD5,
// HMAC-SHA256, CRC-64) over byte buffers.
//
// Every function is a plain, stateless call over one whole buffer in memory.
// Text and byte buffers that a function returns are new heap blocks owned by
// the caller, who releases them with tkFreeMem (TKCore.h):
//
//     const unsigned char data[] = {'a', 'b', 'c'};
//     char* text = TKBase64::tkEncodeBase64A(data, 3);      // "YWJj"
//     unsigned char* bytes = nullptr;
//     int n = TKBase64::tkDecodeBase64A(text, 0, &bytes);   // n == 3
//     tkFreeMem(bytes);
//     tkFreeMem(text);
//
// Threads: nothing is shared between calls; any thread may call any function
// at any time. Each function picks the fastest code its CPU supports (SHA
// instructions, carry-less multiply, AVX2, AVX-512); every choice gives the
// same bytes as the portable code.
//
// Lifetime: results do not refer back to the inputs; an input may be freed as
// soon as the call returns. Results stay valid until passed to tkFreeMem.
//
// Memory: when the heap is exhausted, the functions that allocate throw
// std::bad_alloc and leave nothing allocated.
#ifndef TAVIKFCU_TKCODEC_H
#define TAVIKFCU_TKCODEC_H

#include "TKTypes.h"

// Base64 with the alphabet "A-Z a-z 0-9 + /", "=" padding and no line breaks.
namespace TKBase64 {

// Encodes length bytes of data. The result is a zero-filled buffer of
// floor(8 * length / 6) + 4 characters holding the padded text and a NUL
// terminator; a length of 0 gives a buffer holding only terminators.
// Returns null when the buffer size would exceed 0xFFFFFFFF characters
// (inputs of about 3 GiB and more), or when data is null and length is not 0.
TK_API char* tkEncodeBase64A(const unsigned char* data, unsigned int length);

// The same text as tkEncodeBase64A, in UTF-16 units.
TK_API TKWCHAR* tkEncodeBase64W(const unsigned char* data, unsigned int length);

// Decodes length characters of text (0: up to the text's NUL; a null text is
// empty). *out always receives a new zero-filled buffer of
// floor(6 * length / 8) + 1 bytes, of which the first result bytes are the
// decoded data; release it with tkFreeMem even when the result is 0.
//
// Decoding stops at the first "=" wherever it stands; later characters are
// not looked at. Unpadded text is accepted: a final group of 2 or 3
// characters gives 1 or 2 bytes, a lone final character none. Any character
// outside the alphabet (space, CR, LF, "-", "_", non-ASCII) fails the call:
// the buffer is freed, *out becomes null and the result is 0.
//
// Refused (result 0, *out null): out is null, or the decoded size would not
// fit in an int (lengths above 2,863,311,530 characters).
TK_API int tkDecodeBase64A(const char* text, unsigned int length, unsigned char** out);

// tkDecodeBase64A over UTF-16 text; units are compared whole, so a unit of
// 0x100 or above is never part of the alphabet.
TK_API int tkDecodeBase64W(const TKWCHAR* text, unsigned int length, unsigned char** out);

}  // namespace TKBase64

// Base32 with the bit order of RFC 4648 but this library's own alphabet,
// "abcdefghijklmnopqrstuvwxyz654321" (upper case and the digits 0, 7, 8, 9 are
// not part of it), and no padding.
namespace TKBase32 {

// Encodes length bytes into ceil(8 * length / 5) characters (no padding) in a
// zero-filled buffer of floor(8 * length / 5) + 8 characters: "abc" gives
// "mfrgg", the byte 0xFF gives "14". Returns null when the buffer size would
// exceed 0xFFFFFFFF characters, or when data is null and length is not 0.
TK_API char* tkEncodeBase32A(const unsigned char* data, unsigned int length);

// The same text as tkEncodeBase32A, in UTF-16 units.
TK_API TKWCHAR* tkEncodeBase32W(const unsigned char* data, unsigned int length);

// Decodes length characters of text (0: up to the NUL). *out receives a new
// zero-filled buffer of floor(5 * length / 8) + 1 bytes; the result counts
// its decoded bytes. A final group of 1 to 7 characters gives 0, 1, 1, 2, 3,
// 3 or 4 bytes. "=" ends decoding wherever it stands; any other character
// outside the alphabet fails the call (result 0, *out null). Refused the same
// way: out is null, or the decoded size would not fit in an int (lengths
// above 3,435,973,836 characters).
TK_API int tkDecodeBase32A(const char* text, unsigned int length, unsigned char** out);

// tkDecodeBase32A over UTF-16 text.
TK_API int tkDecodeBase32W(const TKWCHAR* text, unsigned int length, unsigned char** out);

}  // namespace TKBase32

// MD5 (RFC 1321). data may be null only when length is 0.
namespace TKMD5 {

// Stores the digest's four state words A, B, C, D in words[0..3].
TK_API void tkGetMD5Data(const void* data, unsigned int length, unsigned int* words);

// Writes the 16 digest bytes as 32 hex digits and a NUL into text, which must
// hold 33 characters. Lower or upper case, narrow or UTF-16.
TK_API void tkGetMD5StrLowerA(const void* data, unsigned int length, char* text);
TK_API void tkGetMD5StrUpperA(const void* data, unsigned int length, char* text);
TK_API void tkGetMD5StrLowerW(const void* data, unsigned int length, TKWCHAR* text);
TK_API void tkGetMD5StrUpperW(const void* data, unsigned int length, TKWCHAR* text);

}  // namespace TKMD5

// HMAC (RFC 2104) over SHA-256.
namespace TKHMACSHA {

// Computes the 32-byte HMAC-SHA256 of dataLength bytes of data under a key of
// keyLength bytes (keys longer than 64 bytes are hashed first; a 64-byte key
// is used as it is). On entry *macLength is the capacity of mac in bytes; it
// becomes min(*macLength, 32) and that many leading MAC bytes are copied to
// mac (none when it is 0 or less). The bytes are raw; no NUL is written.
// Negative key or data lengths count as 0.
TK_API void tkHMAC_SHA256(const char* key, int keyLength, const void* data, int dataLength,
                          char* mac, int* macLength);

}  // namespace TKHMACSHA

// The reflected CRC-64 with polynomial 0xAD93D23594C935A9, initial value 0
// and no final XOR (CRC-64/REDIS): "123456789" gives "e9c6d914c4b8d9ca".
namespace TKCRC64 {

// The CRC of length bytes as 16 lower-case hex digits and a NUL in a new
// 17-character heap buffer. data may be null only when length is 0.
TK_API char* tkGetCRC64StrA(const unsigned char* data, unsigned int length);

// The same 16 digits in UTF-16, in a new 17-unit heap buffer.
TK_API TKWCHAR* tkGetCRC64StrW(const unsigned char* data, unsigned int length);

}  // namespace TKCRC64

#endif  // TAVIKFCU_TKCODEC_H

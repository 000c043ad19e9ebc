// Splitting a text into heap pieces, and tidying such arrays.
#include "memory/heap.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKString.h"

namespace {

inline TKWCHAR* HeapPiece(const TKWCHAR* begin, const TKWCHAR* end) {
    return tk::detail::HeapCopy(begin, static_cast<std::size_t>(end - begin));
}

}  // namespace

namespace TKStringUtils {

int SplitStr(const TKWCHAR* text, TKWCHAR sep, std::vector<TKWCHAR*>& out) {
    out.clear();  // the caller owns (and frees) what the array held
    if (!text || !text[0]) return 0;
    // Room for every piece first, so appending a piece never throws after
    // the piece was allocated (it would be lost).
    std::size_t pieces = 1;
    for (const TKWCHAR* q = text; *q; ++q) pieces += (*q == sep);
    out.reserve(pieces);
    const TKWCHAR* field = text;
    const TKWCHAR* p = text;
    for (; *p; ++p) {
        if (*p == sep) {
            out.push_back(HeapPiece(field, p));
            field = p + 1;
        }
    }
    out.push_back(HeapPiece(field, p));  // the last field, empty after a trailing sep
    return static_cast<int>(out.size());
}

void FreeStrArr(std::vector<TKWCHAR*>& arr) {
    for (TKWCHAR* piece : arr) tk::detail::HeapFree(piece);
    arr.clear();
}

void AdjustStrArr(std::vector<TKWCHAR*>& arr, bool trim, bool dropEmpty) {
    for (std::size_t i = arr.size(); i-- > 0;) {
        TKWCHAR* piece = arr[i];
        if (trim && piece) {
            int length = tk::platform::lstrlenW(piece);
            int end = length;
            while (end > 0 && piece[end - 1] == ' ') --end;
            int begin = 0;
            while (begin < end && piece[begin] == ' ') ++begin;
            for (int k = begin; k < end; ++k) piece[k - begin] = piece[k];
            piece[end - begin] = 0;
        }
        if (dropEmpty && (!piece || !piece[0])) {
            tk::detail::HeapFree(piece);
            arr.erase(arr.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

}  // namespace TKStringUtils

int tkSplitStr(const TKWCHAR* text, TKWCHAR sep, std::vector<TKWCHAR*>& out) {
    return TKStringUtils::SplitStr(text, sep, out);
}

void tkFreeStrArr(std::vector<TKWCHAR*>& arr) {
    TKStringUtils::FreeStrArr(arr);
}

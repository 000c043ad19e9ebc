// Joining a base folder and a relative path into a full path.
//
// Results use '\' separators on every platform; the library's file
// functions accept them. A path that climbs above the top of the base, or
// that starts with a dot name other than "." and "..", is refused.
#include "memory/heap.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKString.h"

namespace {

inline bool StartsWith(const CTKString& s, const TKWCHAR* prefix) {
    for (int i = 0; prefix[i]; ++i)
        if (i >= s.GetLength() || s[i] != prefix[i]) return false;
    return true;
}

// Cuts base (which ends in '\') behind its previous folder: "C:\a\b\" ->
// "C:\a\". False when no folder is left to climb out of.
bool DropLastFolder(CTKString& base) {
    base.TrimRight(TKL('\\'));
    int cut = base.ReverseFind(TKL('\\'));
    if (cut < 0) return false;
    base = base.Left(cut + 1);
    return true;
}

}  // namespace

bool tkUnionPathEx(const CTKString& base, CTKString& path) {
    CTKString folder = base;
    folder.Replace(TKL('/'), TKL('\\'));
    folder.TrimRight(TKL('\\'));
    folder += TKL('\\');

    path.TrimLeft();
    path.TrimRight();
    if (path.IsEmpty()) {
        path = folder;
        return true;
    }
    path.Replace(TKL('/'), TKL('\\'));
    if (path.GetLength() == 1) {
        if (path[0] == TKL('\\')) path.Empty();
        path = folder + path;
        return true;
    }
    // Absolute: a network path, or a drive (a ':' anywhere after the start).
    if (StartsWith(path, TKL("\\\\")) || path.Find(TKL(':'), 1) > 0) return true;

    path.TrimLeft(TKL('\\'));
    while (path.GetLength() > 0 && path[0] == TKL('.')) {
        if (StartsWith(path, TKL(".\\"))) {
            path.Delete(0, 2);
        } else if (StartsWith(path, TKL("..\\"))) {
            path.Delete(0, 3);
            if (!DropLastFolder(folder)) return false;
        } else {
            return false;
        }
    }
    path = folder + path;
    return true;
}

TKWCHAR* tkUnionPath(const TKWCHAR* base, const TKWCHAR* path) {
    if (!base || !path) return nullptr;
    CTKString joined(path);
    if (!tkUnionPathEx(CTKString(base), joined)) return nullptr;
    return tk::detail::HeapCopy(static_cast<const TKWCHAR*>(joined),
                                static_cast<std::size_t>(joined.GetLength()));
}

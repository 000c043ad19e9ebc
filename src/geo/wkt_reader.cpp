// WKT reader of the two coordinate-system classes: parse into the generic
// tree (wkt_tree.h), then pick out the SPHEROID numbers, the PROJECTION name
// and the four Transverse Mercator PARAMETERs.
//
// Two names stand for the one projection: "Transverse_Mercator" (the
// library's own text and the OGC one) and "Gauss_Kruger", which ESRI .prj
// files use for the Chinese 3- and 6-degree zones, with the same PARAMETERs
// (their names in another case, which the lookup ignores).
#include <memory>

#include "memory/heap.h"
#include "memory/scratch_pools.h"
#include "string/temp_strings.h"
#include "geo/wkt_tree.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKGeo.h"
#include "tavikfcu/TKString.h"

using tk::detail::CWKTDef;
using tk::detail::CWKTDefValue;

namespace {

const TKWCHAR kNoSpheroid[] = TKL("未发现GEOGCS\\DATUM\\SPHEROID，或值非法!");
const TKWCHAR kNoProjection[] = TKL("未定义PROJCS\\PROJECTION[\"xxx\"]");
const TKWCHAR kProjectionPrefix[] = TKL("PROJECTION只支持Transverse_Mercator，不支持当前定义的");

bool IsTransverseMercator(const TKWCHAR* name) {
    return tk::platform::_wcsicmp(name, TKL("Transverse_Mercator")) == 0 ||
           tk::platform::_wcsicmp(name, TKL("Gauss_Kruger")) == 0;
}

// Hands a message to the caller (when it asked for one) as a new heap text.
bool Report(TKWCHAR** message, const TKWCHAR* text) {
    if (message) *message = tk::detail::HeapCopy(text, tk::platform::lstrlenW(text));
    return false;
}

struct FreeMem {
    void operator()(void* p) const { tkFreeMem(p); }
};

// The A-variant of a W reader: the text converted from the ANSI code page,
// the message (on failure) converted back into a buffer of exactly its size.
template <typename ReadW>
bool ReadAnsi(const char* wkt, char** message, ReadW readW) {
    const CTempWideString wide(wkt);
    TKWCHAR* wideMessage = nullptr;
    const bool ok = readW(wide.Text(), message ? &wideMessage : nullptr);
    std::unique_ptr<TKWCHAR, FreeMem> owned(wideMessage);
    if (!ok && message && owned) {
        const int size = TKStringUtils::Unicode2Ansi(owned.get(), nullptr, 0);
        char* narrow = static_cast<char*>(tk::detail::HeapAlloc(size > 0 ? size : 1));
        narrow[0] = '\0';
        if (size > 0) TKStringUtils::Unicode2Ansi(owned.get(), narrow, size);
        *message = narrow;
    }
    return ok;
}

}  // namespace

bool CTKGeoCoordinateSystem::SetFromWKTW(const TKWCHAR* wkt, TKWCHAR** message) {
    CWKTDef root;
    CTKString error;
    if (!CWKTDef::Parse(root, wkt, error)) return Report(message, error);

    const CWKTDef* spheroid = CWKTDef::FindDef(root, TKL("GEOGCS\\DATUM\\SPHEROID"));
    if (!spheroid) spheroid = CWKTDef::FindDef(root, TKL("PROJCS\\GEOGCS\\DATUM\\SPHEROID"));
    // SPHEROID["name", a, 1/f]: the name is not looked at.
    if (!spheroid || spheroid->m_values.size() < 3 ||
        spheroid->m_values[1]->m_kind != CWKTDefValue::kNumber ||
        spheroid->m_values[2]->m_kind != CWKTDefValue::kNumber) {
        return Report(message, kNoSpheroid);
    }
    set(spheroid->m_values[1]->m_number, spheroid->m_values[2]->m_number);
    return true;
}

bool CTKGeoCoordinateSystem::SetFromWKTA(const char* wkt, char** message) {
    return ReadAnsi(wkt, message,
                    [this](const TKWCHAR* w, TKWCHAR** m) { return SetFromWKTW(w, m); });
}

// Partial update by design: the ellipsoid is taken as soon as it reads, and
// each PARAMETER is stored as soon as it is found, so a failure part-way
// leaves what came before it in place.
bool CTKProCoordinateSystem::SetFromWKTW(const TKWCHAR* wkt, TKWCHAR** message) {
    if (!m_geo.SetFromWKTW(wkt, message)) return false;

    CWKTDef root;
    CTKString error;
    if (!CWKTDef::Parse(root, wkt, error)) return Report(message, error);

    const CWKTDef* projection = CWKTDef::FindDef(root, TKL("PROJCS\\PROJECTION"));
    if (!projection || projection->m_values.empty() ||
        projection->m_values[0]->m_kind != CWKTDefValue::kQuoted) {
        return Report(message, kNoProjection);
    }
    const CTKString& name = projection->m_values[0]->m_text;
    if (!IsTransverseMercator(name)) {
        return Report(message, kProjectionPrefix + name);
    }

    struct Parameter {
        const TKWCHAR* name;
        double CTKProCoordinateSystem::*field;
        const TKWCHAR* missing;
    };
    static const Parameter kParameters[] = {
        {TKL("central_meridian"), &CTKProCoordinateSystem::m_centralMeridian,
         TKL("未定义有效的PARAMETER[\"central_meridian\",xx]")},
        {TKL("false_easting"), &CTKProCoordinateSystem::m_falseEasting,
         TKL("未定义有效的PARAMETER[\"false_easting\",xx]")},
        {TKL("false_northing"), &CTKProCoordinateSystem::m_falseNorthing,
         TKL("未定义有效的PARAMETER[\"false_northing\",xx]")},
        {TKL("scale_factor"), &CTKProCoordinateSystem::m_scaleFactor,
         TKL("未定义有效的PARAMETER[\"scale_factor\",xx]")},
    };
    // PARAMETERs are looked up on the root (the PROJCS) itself.
    for (const Parameter& parameter : kParameters) {
        if (!CWKTDef::GetParamValue(root, parameter.name, this->*parameter.field)) {
            return Report(message, parameter.missing);
        }
    }
    return true;
}

bool CTKProCoordinateSystem::SetFromWKTA(const char* wkt, char** message) {
    return ReadAnsi(wkt, message,
                    [this](const TKWCHAR* w, TKWCHAR** m) { return SetFromWKTW(w, m); });
}

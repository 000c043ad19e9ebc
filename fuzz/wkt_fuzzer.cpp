// Fuzz target for the WKT reader (and, on what it reads, the writer).
//
// The input is read three ways: as ANSI (UTF-8) text by both classes, and
// as UTF-16 text (pairs of bytes) by the projected class. Whatever a read
// accepts must write back to a text that reads to an equal object, as long
// as its numbers fit the writer's six decimals and fixed buffers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKGeo.h"

namespace {

// Numbers the writer prints exactly enough for the equality tolerances and
// within its buffers.
bool Writable(double v) {
    return std::isfinite(v) && std::fabs(v) < 1e12;
}

void CheckGeoRoundTrip(const CTKGeoCoordinateSystem& geo) {
    char* text = geo.CreateWKT();
    if (Writable(geo.m_a) && Writable(geo.m_invF)) {
        CTKGeoCoordinateSystem back;
        char* message = nullptr;
        if (!back.SetFromWKTA(text, &message) || !(back == geo)) std::abort();
    }
    tkFreeMem(text);
}

void CheckProRoundTrip(const CTKProCoordinateSystem& pro) {
    char* text = pro.CreateWKT();
    if (Writable(pro.m_geo.m_a) && Writable(pro.m_geo.m_invF) && Writable(pro.m_centralMeridian) &&
        Writable(pro.m_falseEasting) && Writable(pro.m_falseNorthing) &&
        Writable(pro.m_scaleFactor)) {
        CTKProCoordinateSystem back;
        char* message = nullptr;
        if (!back.SetFromWKTA(text, &message) || !(back == pro)) std::abort();
    }
    tkFreeMem(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string narrow(reinterpret_cast<const char*>(data), size);

    CTKGeoCoordinateSystem geo;
    char* message = nullptr;
    if (geo.SetFromWKTA(narrow.c_str(), &message)) {
        CheckGeoRoundTrip(geo);
    } else if (!message) {
        std::abort();  // every failure names its cause
    }
    tkFreeMem(message);

    CTKProCoordinateSystem pro;
    message = nullptr;
    if (pro.SetFromWKTA(narrow.c_str(), &message)) {
        CheckProRoundTrip(pro);
    } else if (!message) {
        std::abort();
    }
    tkFreeMem(message);

    std::u16string wide(size / 2, u'\0');
    std::memcpy(&wide[0], data, wide.size() * 2);
    TKWCHAR* wideMessage = nullptr;
    CTKProCoordinateSystem pro2;
    if (!pro2.SetFromWKTW(wide.c_str(), &wideMessage) && !wideMessage) std::abort();
    tkFreeMem(wideMessage);
    pro2.SetFromWKTW(wide.c_str(), nullptr);
    return 0;
}

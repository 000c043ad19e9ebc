// A short tour of TavikFCU: strings (sharing, copy-on-write, code pages,
// formatting), JSON, geodesy, digests and time.
#include <cstdio>

#include "tavikfcu/TavikFCU.h"

static void Print(const char* label, const CTKString& s) {
    char* utf8 = s.AllocANSIString();  // the ANSI code page is UTF-8 by default
    std::printf("%-28s \"%s\" (%d units, capacity %d)\n", label, utf8, s.GetLength(),
                s.GetAllocLength());
    tkFreeMem(utf8);
}

int main() {
    CTKString greeting(TKL("你好, TavikFCU"));
    CTKString copy = greeting;
    Print("greeting", greeting);
    std::printf("copy shares the body:        %s\n",
                (const TKWCHAR*)copy == (const TKWCHAR*)greeting ? "yes" : "no");
    copy += TKL(" — copied and changed");
    Print("copy after append", copy);
    Print("greeting is unchanged", greeting);

    CTKString line;
    for (int i = 0; i < 600; ++i) line += (TKWCHAR)(u'a' + i % 26);
    std::printf("%-28s %d units, capacity %d (exact above 512)\n", "600 appends", line.GetLength(),
                line.GetAllocLength());

    // Narrow text follows the library's ANSI code page.
    CTKString fromUtf8("Grüße aus Zürich");
    Print("from UTF-8", fromUtf8);
    if (tkSetAnsiCodePage(936)) {
        CTKString chinese(TKL("中文"));
        char* gbk = chinese.AllocANSIString();
        std::printf("%-28s", "\"中文\" in code page 936:");
        for (const unsigned char* p = (const unsigned char*)gbk; *p; ++p) std::printf(" %02X", *p);
        std::printf("\n");
        tkFreeMem(gbk);
        tkSetAnsiCodePage(65001);
    }

    CTKString formatted;
    formatted.Format(TKL("%s: %d items, %.2f%% done, %S"), TKL("任务"), 42, 99.5, "narrow text");
    Print("Format", formatted);

    // JSON: read leniently, walk, write formatted.
    CMyJsonObj doc;
    if (doc.Load(TKL("{\"city\":\"北京\",\"pos\":[116.4,39.9],}"))) {
        CTKString city;
        doc.ValueEx(TKL("city"), city);
        Print("JSON city", city);
        Print("JSON compact", doc.CreateJson(false));
    }

    // Geodesy: CGCS2000 3-degree Gauss-Kruger zone with central meridian 117E.
    CTKProCoordinateSystem pcs;
    CTKProCoordinateSystem::EPCSType type;
    if (pcs.setByEPSGCode(4527, type)) {
        double x = 0, y = 0;
        CTKProCoordinateSystem::GeoToGauss(118.5, 31.0, x, y, pcs);
        std::printf("%-28s E %.4f  N %.4f\n", "EPSG 4527 of 118.5E 31N", x, y);
    }

    // Digests and codecs.
    const char message[] = "The quick brown fox jumps over the lazy dog";
    char md5[33] = {};
    TKMD5::tkGetMD5StrLowerA(message, sizeof message - 1, md5);
    char* crc = TKCRC64::tkGetCRC64StrA(reinterpret_cast<const unsigned char*>(message),
                                        sizeof message - 1);
    char* base64 = TKBase64::tkEncodeBase64A(reinterpret_cast<const unsigned char*>("TavikFCU"), 8);
    std::printf("%-28s md5 %s  crc64 %s  base64 %s\n", "digests", md5, crc, base64);
    tkFreeMem(crc);
    tkFreeMem(base64);

    Print("local time now", TKTimeUtils::GetCurFormatTime());
    return 0;
}

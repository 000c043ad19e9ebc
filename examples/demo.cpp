// A short tour of TavikFCU's strings: sharing, copy-on-write, code pages.
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
    return 0;
}

// The scratch holders: one code-page conversion in a scratch buffer.
#include "string/temp_strings.h"

#include "text/codepage.h"
#include "tavikfcu/TKString.h"

CTempAnsiString::CTempAnsiString(const TKWCHAR* src) {
    if (!src) return;
    int bytes =
        tk::platform::WideCharToMultiByte(tk::platform::kCodePageAnsi, 0, src, -1, nullptr, 0);
    if (bytes < 1) bytes = 1;
    m_text = static_cast<char*>(tk::detail::ObtainScratch(m_data, bytes));
    m_text[0] = 0;
    TKStringUtils::Unicode2Ansi(src, m_text, bytes);
}

CTempWideString::CTempWideString(const char* src, bool utf8) {
    if (!src) return;
    unsigned int cp = utf8 ? tk::platform::kCodePageUtf8 : tk::platform::kCodePageAnsi;
    int units = tk::platform::MultiByteToWideChar(cp, 0, src, -1, nullptr, 0);
    if (units < 1) units = 1;
    m_text = static_cast<TKWCHAR*>(tk::detail::ObtainScratch(m_data, 2 * units));
    m_text[0] = 0;
    if (utf8)
        TKStringUtils::UTF82Unicode(src, m_text, units);
    else
        TKStringUtils::Ansi2Unicode(src, m_text, units);
}

// Scratch buffers that hold one temporary code-page conversion each, in a
// scratch-pool block or on the heap by size.
//
//     CTempAnsiString ansi(wideText);      // pool block or heap, by size
//     fputs(ansi, file);                   // released when it leaves scope
#ifndef TAVIKFCU_STRING_TEMP_STRINGS_H
#define TAVIKFCU_STRING_TEMP_STRINGS_H

#include "memory/scratch_pools.h"

// Holds src converted to the ANSI code page; null src gives a null text.
class CTempAnsiString {
  public:
    explicit CTempAnsiString(const TKWCHAR* src);
    ~CTempAnsiString() { tk::detail::ReleaseScratch(m_data); }
    CTempAnsiString(const CTempAnsiString&) = delete;
    CTempAnsiString& operator=(const CTempAnsiString&) = delete;

    const char* Text() const { return m_text; }
    operator const char*() const { return m_text; }
    // Bytes in the buffer, terminator included (0 for a null text).
    int Size() const { return m_data.size; }

  private:
    tk::detail::CTempData m_data;
    char* m_text = nullptr;
};

// Holds src converted from the ANSI code page (CTempWideString) or from
// UTF-8 (CTempUtf8WideString); null src gives a null text.
class CTempWideString {
  public:
    explicit CTempWideString(const char* src) : CTempWideString(src, false) {}
    ~CTempWideString() { tk::detail::ReleaseScratch(m_data); }
    CTempWideString(const CTempWideString&) = delete;
    CTempWideString& operator=(const CTempWideString&) = delete;

    const TKWCHAR* Text() const { return m_text; }
    operator const TKWCHAR*() const { return m_text; }

  protected:
    CTempWideString(const char* src, bool utf8);

  private:
    tk::detail::CTempData m_data;
    TKWCHAR* m_text = nullptr;
};

class CTempUtf8WideString : public CTempWideString {
  public:
    explicit CTempUtf8WideString(const char* src) : CTempWideString(src, true) {}
};

#endif  // TAVIKFCU_STRING_TEMP_STRINGS_H

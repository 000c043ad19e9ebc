// Builds the reader's short messages out of text pieces and numbers.
#ifndef TAVIKFCU_FILE_TEXT_BUILDER_H
#define TAVIKFCU_FILE_TEXT_BUILDER_H

#include "tavikfcu/TKString.h"

namespace tk::detail {

class TextBuilder {
  public:
    TextBuilder& Append(const TKWCHAR* text) {
        m_text += text;
        return *this;
    }
    TextBuilder& Append(const CTKString& text) {
        m_text += text;
        return *this;
    }
    // Decimal, with a '-' for negative values.
    TextBuilder& Append(long long value) {
        TKWCHAR digits[24];
        int i = 24;
        digits[--i] = 0;
        unsigned long long magnitude =
            value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
        do {
            digits[--i] = static_cast<TKWCHAR>(u'0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) digits[--i] = u'-';
        m_text += digits + i;
        return *this;
    }
    TextBuilder& Append(int value) { return Append(static_cast<long long>(value)); }
    CTKString Take() { return m_text; }

  private:
    CTKString m_text;
};

}  // namespace tk::detail

#endif  // TAVIKFCU_FILE_TEXT_BUILDER_H

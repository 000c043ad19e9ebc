// Shared helpers of the file tests: a temporary folder that is removed
// afterwards, and UTF-16 <-> test-friendly conversions.
#ifndef TAVIKFCU_TESTS_FILE_SUPPORT_H
#define TAVIKFCU_TESTS_FILE_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tavikfcu/TKString.h"

// Folder under $TMPDIR (or /tmp) holding real files for one test.
class TempFolder {
  public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tkfile-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        if (!mkdtemp(name.data())) ADD_FAILURE() << "mkdtemp failed";
        m_path = name.data();
    }
    ~TempFolder() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes bytes to name inside the folder and returns its full path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::string path = m_path + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            ADD_FAILURE() << "cannot create " << path;
            return path;
        }
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            ADD_FAILURE() << "short write to " << path;
        std::fclose(f);
        return path;
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// UTF-8 text (test literals, paths) as UTF-16.
inline std::u16string U16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        int extra;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if (b < 0xE0) {
            cp = b & 0x1F;
            extra = 1;
        } else if (b < 0xF0) {
            cp = b & 0x0F;
            extra = 2;
        } else {
            cp = b & 0x07;
            extra = 3;
        }
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

inline std::u16string U16(const CTKString& s) {
    return std::u16string(static_cast<const TKWCHAR*>(s), s.GetLength());
}

inline std::vector<std::u16string> U16(const std::vector<CTKString>& row) {
    std::vector<std::u16string> out;
    for (const CTKString& s : row) out.push_back(U16(s));
    return out;
}

// Readable failure output for UTF-16 text.
inline std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

#endif  // TAVIKFCU_TESTS_FILE_SUPPORT_H

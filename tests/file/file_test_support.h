// Shared helpers of the file tests: a temporary folder of real files that is
// removed afterwards, and UTF-16 views of the library's strings.
#ifndef TAVIKFCU_TESTS_FILE_SUPPORT_H
#define TAVIKFCU_TESTS_FILE_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tavikfcu/TKString.h"

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/tkfile-XXXXXX";
        if (!mkdtemp(name)) ADD_FAILURE() << "mkdtemp failed";
        m_path = name;
    }
    ~TempFolder() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes bytes to name inside the folder; returns the full path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::string path = m_path + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            ADD_FAILURE() << "cannot write " << path;
        if (f) std::fclose(f);
        return path;
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// ASCII text (the temporary paths) as UTF-16.
inline std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

inline std::u16string U16(const CTKString& s) {
    return std::u16string(static_cast<const TKWCHAR*>(s), s.GetLength());
}

inline std::vector<std::u16string> U16(const std::vector<CTKString>& row) {
    std::vector<std::u16string> out;
    for (const CTKString& s : row) out.push_back(U16(s));
    return out;
}

inline std::string Show(const std::u16string& s) {
    return ::testing::PrintToString(s);
}

#endif  // TAVIKFCU_TESTS_FILE_SUPPORT_H

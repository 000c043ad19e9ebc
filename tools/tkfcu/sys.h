// sys.h — the operating-system side of tkfcu: inputs, mapped files and
// terminals. sys_posix.cpp is the one file that calls the OS;
// a port to another system replaces that file and nothing else.
#ifndef TKFCU_SYS_H
#define TKFCU_SYS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tkfcu {

// A file named on the command line, or standard input for "-", read in
// chunks. Failures throw Failure with the name and the system's reason.
class Input {
  public:
    explicit Input(const std::string& path);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // The name to show in output and messages ("-" for standard input).
    const std::string& Name() const { return m_name; }
    // Up to size bytes; 0 only at the end of the input.
    std::size_t Read(void* buffer, std::size_t size);
    // Fills buffer unless the input ends first; returns the bytes stored.
    std::size_t ReadFull(void* buffer, std::size_t size);

  private:
    friend class WholeInput;
    std::string m_name;
    int m_fd;
    bool m_owned;
};

// The whole of an input as one block, for the library's one-shot digests. A
// regular file is mapped read-only: its pages come from the page cache as the
// digest walks them, so no copy of a large file sits on the heap. A pipe or
// terminal is read into memory. An input longer than limit bytes throws
// Failure.
class WholeInput {
  public:
    WholeInput(Input& input, std::uint64_t limit);
    ~WholeInput();
    WholeInput(const WholeInput&) = delete;
    WholeInput& operator=(const WholeInput&) = delete;

    const unsigned char* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }

  private:
    const unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    void* m_mapping = nullptr;  // set when the input is mapped
    std::string m_copy;         // holds the bytes otherwise
};

// Whether standard error is a terminal (progress output is only for people).
bool StderrIsTerminal();

}  // namespace tkfcu

#endif  // TKFCU_SYS_H

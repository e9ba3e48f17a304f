// The check's text on a Windows console. The text is UTF-8 (paths may hold any letter). A
// console is written in UTF-16 with WriteConsoleW, which every Windows shows right whatever its
// code page; switching the console to code page 65001 instead makes Windows 7's console count
// characters as bytes, and the C runtime then writes the tail of each line with a non-ASCII
// letter twice. Pipes and files get the UTF-8 bytes as they are.
#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>

#include "common/platform.h"

namespace wheelcheck {

// The length of the longest start of `data` that does not end inside a UTF-8 sequence: what may
// be converted now, the rest waiting for the bytes that complete it. Bytes that cannot start or
// continue a sequence are not held back (the conversion shows them as U+FFFD).
size_t CompleteUtf8Length(const char* data, size_t size);

// True when `handle` is a console's screen buffer (not a pipe, file or device).
bool IsConsole(HANDLE handle);

// A stream buffer that writes UTF-8 text to a console in UTF-16. A sequence split across two
// flushes is held until it is whole; whatever is left is written when the buffer goes.
class ConsoleBuffer final : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console);
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;
    ~ConsoleBuffer() override;

  protected:
    int_type overflow(int_type c) override;
    int sync() override;

  private:
    // Writes the whole sequences buffered (all bytes when `all`); false when the console
    // refused them.
    bool Write(bool all);

    HANDLE console_;
    char buffer_[1024];
};

// While it lives, `stream` writes to `handle` through a ConsoleBuffer when `handle` is a
// console; otherwise the stream is left as it is.
class ConsoleStream {
  public:
    ConsoleStream(std::ostream& stream, HANDLE handle);
    ConsoleStream(const ConsoleStream&) = delete;
    ConsoleStream& operator=(const ConsoleStream&) = delete;
    ~ConsoleStream();

    bool console() const { return previous_ != nullptr; }

  private:
    std::ostream& stream_;
    std::streambuf* previous_ = nullptr;
    ConsoleBuffer* buffer_ = nullptr;
};

}  // namespace wheelcheck

#include "console_output.h"

#include <cstring>
#include <new>
#include <vector>

namespace wheelcheck {

size_t CompleteUtf8Length(const char* data, size_t size) {
    // A sequence is at most four bytes: its lead and up to three continuation bytes.
    size_t start = size;
    for (size_t back = 1; back <= 4 && start > 0; ++back) {
        const auto byte = static_cast<unsigned char>(data[--start]);
        if ((byte & 0xC0) == 0x80) {
            continue;
        }
        size_t length = 1;
        if ((byte & 0xE0) == 0xC0) {
            length = 2;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
        }
        return back < length ? start : size;
    }
    return size;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

ConsoleBuffer::ConsoleBuffer(HANDLE console) : console_(console) {
    setp(buffer_, buffer_ + sizeof buffer_);
}

ConsoleBuffer::~ConsoleBuffer() {
    Write(true);
}

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
    if (!Write(false)) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        // At most three bytes of an unfinished sequence are left: there is room.
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int ConsoleBuffer::sync() {
    return Write(false) ? 0 : -1;
}

bool ConsoleBuffer::Write(bool all) {
    const size_t buffered = static_cast<size_t>(pptr() - pbase());
    const size_t whole = all ? buffered : CompleteUtf8Length(pbase(), buffered);
    bool ok = true;
    if (whole > 0) {
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, pbase(), static_cast<int>(whole), nullptr, 0);
        std::vector<wchar_t> text;
        try {
            text.resize(static_cast<size_t>(length));
        } catch (const std::bad_alloc&) {
            return false;
        }
        MultiByteToWideChar(CP_UTF8, 0, pbase(), static_cast<int>(whole), text.data(), length);
        // The console may take fewer characters than it was given.
        for (size_t done = 0; ok && done < text.size();) {
            DWORD written = 0;
            ok = WriteConsoleW(console_, text.data() + done, static_cast<DWORD>(text.size() - done),
                               &written, nullptr) &&
                 written > 0;
            done += written;
        }
    }
    // What the console refused is dropped rather than offered again at every write.
    const size_t rest = buffered - whole;
    std::memmove(buffer_, pbase() + whole, rest);
    setp(buffer_, buffer_ + sizeof buffer_);
    pbump(static_cast<int>(rest));
    return ok;
}

ConsoleStream::ConsoleStream(std::ostream& stream, HANDLE handle) : stream_(stream) {
    if (!IsConsole(handle)) {
        return;
    }
    buffer_ = new (std::nothrow) ConsoleBuffer(handle);
    if (buffer_ != nullptr) {
        stream_.flush();
        previous_ = stream_.rdbuf(buffer_);
    }
}

ConsoleStream::~ConsoleStream() {
    if (previous_ != nullptr) {
        stream_.flush();
        stream_.rdbuf(previous_);
    }
    delete buffer_;
}

}  // namespace wheelcheck

// The wheel check's text on a console and through pipes and files. A console needs a display
// under Wine (its console host is a window), so these run with one.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console_output.h"
#include "tests/windows/win_test_util.h"

namespace {

// Where a flush may cut the text: never inside a UTF-8 sequence, and never holding back bytes
// that no later byte can complete.
TEST(WheelCheckOutput, HoldsBackOnlyAnUnfinishedUtf8Sequence) {
    const struct {
        const char* text;
        size_t whole;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"a\xC3", 1},
        {"a\xC3\xA9", 3},
        {"\xE2\x82", 0},
        {"x\xE2\x82\xAC", 4},
        {"\xC3\xA9\xE2", 2},
        {"\xF0\x9F\x98", 0},
        {"\xF0\x9F\x98\x80", 4},
        {"\x80\x80\x80\x80", 4},  // continuation bytes with no lead: nothing completes them
        {"a\xFF", 2},
        {"a\xC3\xA9\x80", 4},  // a stray continuation after a whole sequence
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wheelcheck::CompleteUtf8Length(c.text, std::strlen(c.text)), c.whole)
            << ::testing::PrintToString(std::string(c.text));
    }
}

TEST(WheelCheckOutput, PipesAndFilesKeepTheStreamAsItIs) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    std::ostringstream stream;
    {
        wheelcheck::ConsoleStream console(stream, write);
        EXPECT_FALSE(console.console());
        stream << "\xC3\xA9" << std::flush;
    }
    EXPECT_EQ(stream.str(), "\xC3\xA9");
    DWORD available = 1;
    EXPECT_TRUE(PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(available, 0u) << "the stream wrote to the pipe itself";
    CloseHandle(read);
    CloseHandle(write);
}

class WheelCheckConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        // A console of its own, with a window Wine can show: the one Wine gives a program started
        // from a terminal has no screen buffers to make. This program's own output goes to a pipe
        // (ctest's) and is not the console's.
        static const bool made = (FreeConsole(), AllocConsole() != FALSE);
        ASSERT_TRUE(made) << "no console: " << GetLastError();
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        screen_ = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                            CONSOLE_TEXTMODE_BUFFER, nullptr);
        ASSERT_NE(screen_, INVALID_HANDLE_VALUE) << "no console: " << GetLastError();
        ASSERT_TRUE(SetConsoleScreenBufferSize(screen_, COORD{80, 200}));
    }
    void TearDown() override {
        if (screen_ != INVALID_HANDLE_VALUE) {
            CloseHandle(screen_);
        }
    }

    COORD Cursor() {
        CONSOLE_SCREEN_BUFFER_INFO info = {};
        GetConsoleScreenBufferInfo(screen_, &info);
        return info.dwCursorPosition;
    }
    // The characters the console shows from `at` on.
    std::wstring Shown(COORD at, size_t cells) {
        std::wstring shown(cells, L'\0');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen_, shown.data(), static_cast<DWORD>(cells), at, &read);
        shown.resize(read);
        return shown;
    }

    HANDLE screen_ = INVALID_HANDLE_VALUE;
};

TEST_F(WheelCheckConsole, ShowsTheLettersWrittenWhereverTheFlushesFall) {
    // More than the buffer holds, its edge inside a sequence.
    std::string euros;
    for (int i = 0; i < 700; ++i) {
        euros += "\xE2\x82\xAC";
    }
    const struct {
        std::vector<std::string> flushed;
        std::wstring shown;
    } cases[] = {
        {{"h\xC3", "\xA9llo"}, L"h\u00e9llo"},
        {{"\xE2", "\x82", "\xAC 5"}, L"\u20ac 5"},
        {{"C:\\Users\\\xCE\xA9mega\\dravik.dll"}, L"C:\\Users\\\u03a9mega\\dravik.dll"},
        {{euros}, std::wstring(700, L'\u20ac')},
    };
    std::ostringstream underneath;
    COORD tail = {};
    {
        wheelcheck::ConsoleStream console(underneath, screen_);
        ASSERT_TRUE(console.console());
        for (const auto& c : cases) {
            const COORD at = Cursor();
            for (const std::string& piece : c.flushed) {
                underneath << piece << std::flush;
            }
            EXPECT_EQ(Shown(at, c.shown.size()), c.shown);
            underneath << '\n' << std::flush;
        }
        // An unfinished sequence left at the end is shown as such, not lost.
        tail = Cursor();
        underneath << "end\xE2\x82";
        EXPECT_EQ(Shown(tail, 3), L"   ") << "written before the stream was flushed";
    }
    EXPECT_EQ(Shown(tail, 4), L"end\ufffd");
    EXPECT_TRUE(underneath.str().empty()) << "the stream's own buffer was written";
}

// Runs the shipped program with its standard output and error on `output`.
DWORD RunShipped(const std::wstring& arguments, HANDLE output) {
    const std::string exe = wintest::DllPathFromEnv("WHEEL_CHECK_EXE");
    std::wstring line = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    DWORD code = static_cast<DWORD>(-1);
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return code;
}

// The program's arguments reach its text whole (an error echoes them), on a console as letters
// and in a file as UTF-8, and the console keeps its code page.
TEST_F(WheelCheckConsole, ShippedProgramWritesLettersToAConsoleAndUtf8ToAFile) {
    const UINT codePage = GetConsoleOutputCP();
    const COORD at = Cursor();
    EXPECT_EQ(RunShipped(L"--id \u00e9\u20ac", screen_), 2u);
    const std::wstring shown = Shown(at, 400);
    EXPECT_NE(shown.find(L"not \"\u00e9\u20ac\""), std::wstring::npos) << shown.substr(0, 80);
    EXPECT_NE(shown.find(L"usage: wheel-check"), std::wstring::npos);
    EXPECT_EQ(GetConsoleOutputCP(), codePage);

    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "wck", 0, file);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunShipped(L"--id \u00e9\u20ac", out), 2u);
    CloseHandle(out);
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    DeleteFileA(file);
    EXPECT_NE(bytes.str().find("not \"\xC3\xA9\xE2\x82\xAC\""), std::string::npos) << bytes.str();
}

}  // namespace

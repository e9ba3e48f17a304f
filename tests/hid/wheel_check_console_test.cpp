// The wheel check's text on a console and in a file. A console needs a display under Wine (its
// console host is a window), so these run with one.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "console_output.h"
#include "tests/windows/win_test_util.h"

namespace {

// A flush never cuts a UTF-8 sequence, nor holds back bytes that nothing can complete.
TEST(WheelCheckOutput, HoldsBackOnlyAnUnfinishedUtf8Sequence) {
    const struct {
        const char* text;
        size_t whole;
    } cases[] = {{"abc", 3},
                 {"a\xC3", 1},
                 {"x\xE2\x82", 1},
                 {"\xF0\x9F\x98", 0},
                 {"\xF0\x9F\x98\x80", 4},
                 {"\x80\x80\x80\x80", 4},
                 {"a\xFF", 2},
                 {"a\xC3\xA9\x80", 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(wheelcheck::CompleteUtf8Length(c.text, std::strlen(c.text)), c.whole)
            << ::testing::PrintToString(std::string(c.text));
    }
}

// A screen buffer of this test's own, in a console of its own (the one Wine gives a program
// started from a terminal cannot make one; this program's output goes to ctest's pipe).
const char* const kNoConsole =
    "Wine made no console: its session in this prefix began without a display (run the tests "
    "with DISPLAY set from the start, as scripts/test does)";

HANDLE ScreenBuffer() {
    static const bool made = (FreeConsole(), AllocConsole() != FALSE);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE screen = made ? CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, &inherit,
                                                     CONSOLE_TEXTMODE_BUFFER, nullptr)
                         : INVALID_HANDLE_VALUE;
    SetConsoleScreenBufferSize(screen, COORD{80, 100});
    return screen;
}

std::wstring Shown(HANDLE screen, SHORT row, size_t cells) {
    std::wstring shown(cells, L'\0');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(cells), COORD{0, row},
                                &read);
    shown.resize(read);
    return shown;
}

TEST(WheelCheckConsole, ShowsTheLettersWrittenWhereverTheFlushesFall) {
    HANDLE screen = ScreenBuffer();
    ASSERT_TRUE(wheelcheck::IsConsole(screen)) << kNoConsole;
    std::string euros;  // more than the buffer holds, its edge inside a sequence
    for (int i = 0; i < 700; ++i) {
        euros += "\xE2\x82\xAC";
    }
    std::ostringstream underneath;
    {
        wheelcheck::ConsoleStream console(underneath, screen);
        ASSERT_TRUE(console.console());
        for (const char* piece : {"h\xC3", "\xA9llo \xE2", "\x82", "\xAC\n", euros.c_str()}) {
            underneath << piece << std::flush;
        }
        EXPECT_EQ(Shown(screen, 0, 7), L"h\u00e9llo \u20ac");
        EXPECT_EQ(Shown(screen, 1, 700), std::wstring(700, L'\u20ac'));
        underneath << "\nend\xE2\x82";  // unfinished when the stream goes: shown, not lost
    }
    EXPECT_EQ(Shown(screen, 10, 4), L"end\ufffd");
    EXPECT_TRUE(underneath.str().empty()) << "the stream's own buffer was written";
    CloseHandle(screen);
}

// Runs the shipped program with `arguments` and its standard output and error on `output`.
DWORD RunShipped(const wchar_t* arguments, HANDLE output) {
    const std::string exe = wintest::DllPathFromEnv("WHEEL_CHECK_EXE");
    return static_cast<DWORD>(wintest::RunWithOutput(
        L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" " + arguments, output));
}

// An argument the program echoes reaches a console as letters, a file as UTF-8; the console
// keeps its code page.
TEST(WheelCheckConsole, ShippedProgramWritesLettersToAConsoleAndUtf8ToAFile) {
    HANDLE screen = ScreenBuffer();
    ASSERT_TRUE(wheelcheck::IsConsole(screen)) << kNoConsole;
    const UINT codePage = GetConsoleOutputCP();
    EXPECT_EQ(RunShipped(L"--id \u00e9\u20ac", screen), 2u);
    const std::wstring shown = Shown(screen, 0, 400);
    EXPECT_NE(shown.find(L"not \"\u00e9\u20ac\""), std::wstring::npos) << shown.substr(0, 80);
    EXPECT_EQ(GetConsoleOutputCP(), codePage);
    CloseHandle(screen);

    char file[MAX_PATH] = {};
    GetTempFileNameA(".", "wck", 0, file);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunShipped(L"--id \u00e9\u20ac", out), 2u);
    CloseHandle(out);
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    DeleteFileA(file);
    EXPECT_NE(bytes.str().find("not \"\xC3\xA9\xE2\x82\xAC\""), std::string::npos) << bytes.str();
}

}  // namespace

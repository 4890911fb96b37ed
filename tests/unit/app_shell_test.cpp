#include "common/app_shell.h"

#include "support/sim_test.h"

namespace {

TEST(CommandLineTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
    const struct {
        const char* line;
        const char* tail;
    } cases[] = {
        {"\"C:\\Program Files\\Kit\\Tolvane.exe\"  /Uninstall", "/Uninstall"},
        {"Tolvane.exe", ""},
        {"\"C:\\Program Files\\Kit\\Tolvane.exe\"", ""},
        {"Tolvane.exe /Uninstall  ", "/Uninstall  "},  // trailing blanks stay
        {"Tolvane.exe\t\t/Uninstall", "/Uninstall"},
        {"Tolvane.exe \x01\x1f 0x1234", "0x1234"},     // every unit up to U+0020 is a blank
        {"C:\\Kit\\\"Tol vane\".exe -x", "-x"},        // quotes toggle anywhere in the name
        {"\"unterminated quote /Uninstall", ""},
        {"", ""},
        {"  /Uninstall", "/Uninstall"},               // an empty name
    };
    for (const auto& c : cases) {
        std::u16string line = winsim::Utf16(c.line);
        EXPECT_EQ(winsim::Utf8(CommandLineTail(Wide(line))), c.tail) << c.line;
    }
    EXPECT_EQ(winsim::Utf8(CommandLineTail(nullptr)), "");
}

class AppShellTest : public SimTest {
protected:
    HWND window = nullptr;
    void SetUp() override {
        SimTest::SetUp();
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.lpszClassName = L"TESTWINDOW";
        ASSERT_NE(RegisterClassExW(&windowClass), 0);
        window = CreateWindowExW(0, L"TESTWINDOW", L"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        winsim::ClearJournal();
    }
};

TEST_F(AppShellTest, MainWindowCommandsAndMessages) {
    const std::string w = HandleText(window);
    const struct {
        UINT message;
        WPARAM wParam;
        std::vector<std::string> calls;
    } cases[] = {
        {WM_COMMAND, 104, {"DialogBoxParamW null 103 owner=" + w + " param=0x0"}},
        {WM_COMMAND, MAKEWPARAM(104, 1), {"DialogBoxParamW null 103 owner=" + w + " param=0x0"}},  // as an accelerator sends it
        {WM_COMMAND, 106, {"DefWindowProcW " + w + " WM_COMMAND wParam=0x6a lParam=0x0"}},
        {WM_PAINT, 0, {"BeginPaint " + w, "EndPaint " + w}},
        {WM_NULL, 0, {"DefWindowProcW " + w + " 0x0 wParam=0x0 lParam=0x0"}},
        {WM_COMMAND, MAKEWPARAM(105, 1), {"DestroyWindow " + w, "PostQuitMessage 0"}},
    };
    for (const auto& c : cases) {
        winsim::ClearJournal();
        EXPECT_EQ(MainWindowProc(window, c.message, c.wParam, 0), 0);
        EXPECT_EQ(winsim::JournalOf("DialogBoxParamW DefWindowProcW BeginPaint EndPaint DestroyWindow PostQuitMessage"), c.calls)
            << std::hex << c.message << " " << c.wParam;
    }
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(AppShellTest, CloseRequestDestroysTheWindowAndEndsTheLoop) {
    MainWindowProc(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(winsim::JournalOf("DefWindowProcW DestroyWindow PostQuitMessage"),
              (std::vector<std::string>{"DefWindowProcW " + HandleText(window) + " WM_CLOSE wParam=0x0 lParam=0x0",
                                        "DestroyWindow " + HandleText(window), "PostQuitMessage 0"}));
    MSG message;
    EXPECT_FALSE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 0u);
}

TEST_F(AppShellTest, AboutBoxEndsWithTheButtonOrEscape) {
    for (int answer : {IDOK, IDCANCEL}) {
        winsim::SetDialogAnswer(answer);
        EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(103), window, AboutDialogProc, 0), answer);
    }
    // Other messages and commands leave the box open and are not handled.
    EXPECT_EQ(AboutDialogProc(window, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(AboutDialogProc(window, WM_COMMAND, 3, 0), FALSE);
    EXPECT_EQ(AboutDialogProc(window, WM_CLOSE, 0, 0), FALSE);
    EXPECT_EQ(winsim::JournalOf("EndDialog"), (std::vector<std::string>{"EndDialog 1", "EndDialog 2"}));
}

}  // namespace

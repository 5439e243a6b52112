// The Win32 window's settings controls and send rows, the choices it keeps between runs, and
// its text and number helpers.
#include <string>

#include "app/decimal_number.h"
#include "app/win32/remembered_settings.h"
#include "tests/win/window_fixture_win.h"

namespace corvane::win32::test {

namespace {

void Click(HWND h) { SendMessageW(h, BM_CLICK, 0, 0); }

// A key on the chunk delay box, which its up-down steps by.
void Key(HWND h, WPARAM key) {
    SendMessageW(h, WM_KEYDOWN, key, 1);
    SendMessageW(h, WM_KEYUP, key, 0xC0000001);
}

}  // namespace

TEST_F(WindowTest, TheResidentKindTicksTheBoxWhichHidesTheLoadingControls) {
    const auto loading = {"label(3)", "label(11)", "t_blockdelay", "ud_blockdelay"};
    w->ChooseItem("cboResident", w->FindItem("cboResident", "Viking"));
    EXPECT_TRUE(w->Checked("chkIsResidentLoaded"));
    for (const char* name : loading) EXPECT_FALSE(w->Shown(name)) << name;
    EXPECT_TRUE(IsWindowEnabled(C("cboResident")));
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(Caption(C("l_terminal")), "Viking");
    EXPECT_TRUE(Ask([](Engine& e) { return e.Choices().residentLoaded; }));

    Click(C("chkIsResidentLoaded"));
    EXPECT_FALSE(w->Checked("chkIsResidentLoaded"));
    for (const char* name : loading) EXPECT_TRUE(w->Shown(name)) << name;
    EXPECT_FALSE(IsWindowEnabled(C("cboResident")));
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(Caption(C("l_terminal")), "Viking");  // the last kind stays shown
    EXPECT_FALSE(Ask([](Engine& e) { return e.Choices().residentLoaded; }));
}

TEST_F(WindowTest, TheChunkDelayBoxKeepsOnlyValuesFrom0To1000) {
    struct Case {
        const char* typed;
        int value;
    };
    // Each as the box holds it after the one before.
    const Case cases[] = {
        {"2000", 385},   {"12.6", 13}, {"abc", 13},  {"", 13},     {" 7 ", 7},
        {"1e3", 1000},   {"12.5", 12}, {"13.5", 14}, {"-0", 0},    {"-1", 0},
        {"+1000", 1000}, {"5.", 5},    {".5", 0},    {"1e999", 0}, {"0x10", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        w->SetText("t_blockdelay", c.typed);
        EXPECT_EQ(w->ChunkDelay(), c.value);
        EXPECT_EQ(w->Text("t_blockdelay"), std::to_string(c.value));
        EXPECT_EQ(SendMessageW(C("ud_blockdelay"), UDM_GETPOS32, 0, 0), c.value);
    }
    EXPECT_EQ(Ask([](Engine& e) { return e.Choices().chunkDelay; }), 0);
}

TEST_F(WindowTest, TheUpDownStepsTheChunkDelayWithinItsRange) {
    Key(C("t_blockdelay"), VK_UP);
    EXPECT_EQ(w->ChunkDelay(), 386);
    EXPECT_EQ(w->Text("t_blockdelay"), "386");
    EXPECT_EQ(Ask([](Engine& e) { return e.Choices().chunkDelay; }), 386);
    w->SetText("t_blockdelay", "1000");
    Key(C("t_blockdelay"), VK_UP);
    EXPECT_EQ(w->Text("t_blockdelay"), "1000");
    w->SetText("t_blockdelay", "0");
    Key(C("t_blockdelay"), VK_DOWN);
    EXPECT_EQ(w->Text("t_blockdelay"), "0");
    EXPECT_EQ(Ask([](Engine& e) { return e.Choices().chunkDelay; }), 0);
}

TEST_F(WindowTest, TheChunkDelayBoxSelectsItsWholeTextOnFocus) {
    ShowWindow(w->Handle(), SW_SHOW);
    SetFocus(C("c_ports"));
    SetFocus(C("t_blockdelay"));
    Until([] { return false; }, 100);  // the selection posted for after a click
    DWORD from = 1, to = 0;
    SendMessageW(C("t_blockdelay"), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                 reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, 3u);
}

TEST_F(WindowTest, TheSendRowsGoToTheHostAsTheyAreTyped) {
    LoopbackHost host;
    w->Channel().Post([entry = host.Entry()](Engine& e) {
        e.ChooseSystem(entry);
        e.LampDoubleClick(true);
    });
    ASSERT_TRUE(Until([&] {
        host.Accepted();
        return w->ShownView().lampSSL == LampUp;
    }));
    const std::size_t before = host.Received().size();
    w->SetText("t_host", "1b 77 00FF");
    Click(C("b_host"));
    ASSERT_TRUE(Until([&] { return host.Received().size() >= before + 3; }));
    EXPECT_EQ(host.Received().substr(before), std::string("\x1b\x77\xff", 3));
    EXPECT_EQ(w->Text("t_host"), "1b 77 00FF");  // the row keeps its text
    // The terminal's row with its port closed sends nothing, and says nothing.
    Click(C("b_term"));
    EXPECT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->MessageShown(), nullptr);
}

TEST_F(WindowTest, RememberedChoicesComeBackThroughTheControls) {
    const std::string ludric = "Ludric:localhost:8105:@cyberserv.org:8005";
    const Settings stored = {
        {"port", "com7:9600,n,8,1"}, {"system", ludric},    {"residentLoaded", "false"},
        {"residentKind", "Viking"},  {"chunkDelay", "500"}, {"logToFile", "true"},
        {"monitorShown", "true"},
    };
    EXPECT_TRUE(RestoreOperatorSettings(*w, stored).empty());
    EXPECT_EQ(w->Text("c_ports"), "com7:9600,n,8,1");
    EXPECT_EQ(w->Text("cboResident"), "Viking");
    EXPECT_FALSE(w->Checked("chkIsResidentLoaded"));
    EXPECT_TRUE(w->Shown("t_blockdelay"));
    EXPECT_EQ(w->ClientWidth(), 14100 / 15);
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(Caption(C("l_host")), "Ludric");
    const EngineChoices choices = Ask([](Engine& e) { return e.Choices(); });
    EXPECT_EQ(choices.portEntry, "com7:9600,n,8,1");
    EXPECT_EQ(choices.systemEntry, ludric);
    EXPECT_EQ(choices.chunkDelay, 500);
    EXPECT_TRUE(choices.logToFile);
    EXPECT_FALSE(choices.residentLoaded);
    EXPECT_EQ(OperatorSettings(*w), stored);

    // A listed port entry is chosen as the operator picks it.
    w->ChooseItem("c_ports", 4);
    EXPECT_EQ(Ask([](Engine& e) { return e.Choices().portEntry; }), "com5:2400,e,7,1");
}

TEST_F(WindowTest, UnusableRememberedValuesLeaveTheStartStateAndSaySo) {
    const Settings stored = {
        {"port", "  "},
        {"system", "gone:example.invalid:1"},
        {"residentLoaded", "maybe"},
        {"residentKind", "VT100"},
        {"chunkDelay", "5000"},
        {"monitorShown", "yes"},
    };
    EXPECT_EQ(RestoreOperatorSettings(*w, stored).size(), 6u);
    EXPECT_EQ(w->Text("c_ports"), "com1:2400,e,7,1");
    EXPECT_EQ(w->Text("cboSystem"), "");
    EXPECT_EQ(w->Text("cboResident"), "");
    EXPECT_FALSE(w->Checked("chkIsResidentLoaded"));
    EXPECT_EQ(w->ChunkDelay(), 385);
    EXPECT_EQ(w->ClientWidth(), 5775 / 15);
}

TEST_F(WindowTest, TheSettingsFileKeepsAnyValueAndIsReplacedWhole) {
    const std::wstring file = (dir_ / "settings.ini").wstring();
    EXPECT_TRUE(ReadSettingsFile(file).empty());
    const Settings values = {
        {"port", "a=b\\c\nd\re"}, {"system", "\xc3\xb9 \xe2\x96\xb6"}, {"empty", ""}};
    ASSERT_TRUE(WriteSettingsFile(file, values));
    EXPECT_EQ(ReadSettingsFile(file), values);
    ASSERT_TRUE(WriteSettingsFile(file, {{"port", "com2"}}));
    EXPECT_EQ(ReadSettingsFile(file), (Settings{{"port", "com2"}}));
    EXPECT_FALSE(WriteSettingsFile((dir_ / "missing" / "settings.ini").wstring(), values));
}

TEST(WindowText, BytesThatAreNoUtf8AreKeptOneACharacter) {
    EXPECT_EQ(Wide("\xc3\xb9\xc3\xb9"), L"\u00f9\u00f9");
    EXPECT_EQ(Wide("\xff"
                   "A\xb7"),
              L"\u00ff"
              L"A\u00b7");
    EXPECT_EQ(Narrow(L"\u25b6 \U0001F600"), "\xe2\x96\xb6 \xf0\x9f\x98\x80");
    // Longer than one piece of the conversion, with characters across the pieces' bounds.
    std::string big;
    while (big.size() < (std::size_t{1} << 24) + 7) big += "a\xe2\x96\xb6\xf0\x9f\x98\x80";
    const std::wstring wide = Wide(big);
    EXPECT_EQ(wide.find(L'\u00e2'), std::wstring::npos) << "taken as bytes";
    EXPECT_EQ(Narrow(wide), big);
}

TEST(WindowNumbers, RoundingGoesHalfToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfEven(1e300), 9000000000000000000LL);
    EXPECT_FALSE(ReadDecimalNumber("1e").has_value());
    EXPECT_FALSE(ReadDecimalNumber(".").has_value());
    EXPECT_FALSE(ReadDecimalNumber("+").has_value());
    EXPECT_EQ(ReadDecimalNumber("\t-2.5E+1 "), -25.0);
}

}  // namespace corvane::win32::test

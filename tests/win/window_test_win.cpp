// The Win32 window: its controls as the inventory describes them, its start state, the
// monitor toggle, and its binding to the engine (the lamps, the message box, the close).
#include <set>
#include <string>

#include "links/host_connection.h"
#include "logs/comm_log.h"
#include "logs/text_utils.h"
#include "tests/win/window_fixture_win.h"

namespace corvane::win32::test {

namespace {

using inventory::Kind;

// The platform class of each kind, and the style bits that make it that kind.
struct Expected {
    std::wstring className;
    LONG_PTR style;
    LONG_PTR mask;
};

Expected ExpectedFor(Kind kind) {
    switch (kind) {
        case Kind::Frame:
            return {L"Button", BS_GROUPBOX, BS_TYPEMASK};
        case Kind::Button:
            return {L"Button", BS_PUSHBUTTON, BS_TYPEMASK};
        case Kind::CheckBox:
            return {L"Button", BS_AUTOCHECKBOX, BS_TYPEMASK};
        case Kind::Lamp:
            return {L"Static", SS_NOTIFY | WS_BORDER, SS_NOTIFY | WS_BORDER};
        case Kind::DisplayLabel:
            return {L"Static", SS_CENTER | WS_BORDER, SS_TYPEMASK | WS_BORDER};
        case Kind::SmallLamp:
        case Kind::StatusBox:
            return {L"Static", WS_BORDER, WS_BORDER};
        case Kind::Label:
        case Kind::Panel:
            return {L"Static", 0, 0};
        case Kind::EditCombo:
            return {L"ComboBox", CBS_DROPDOWN, 3};
        case Kind::ListCombo:
            return {L"ComboBox", CBS_DROPDOWNLIST, 3};
        case Kind::TextBox:
            return {L"Edit", 0, ES_MULTILINE | ES_READONLY};
        case Kind::LogPane:
            return {L"Edit", ES_MULTILINE | ES_READONLY, ES_MULTILINE | ES_READONLY};
        case Kind::UpDown:
            return {L"msctls_updown32", 0, 0};
    }
    return {};
}

// The control's place on the window in twips: its containers' offsets added.
POINT DesignPlace(const inventory::Control& c) {
    POINT at{c.left, c.top};
    for (std::string_view in = c.inside; !in.empty(); in = inventory::Find(in).inside) {
        at.x += inventory::Find(in).left;
        at.y += inventory::Find(in).top;
    }
    return at;
}

LOGFONTW FontOf(HWND h) {
    LOGFONTW f{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof f, &f);
    return f;
}

}  // namespace

TEST_F(WindowTest, EveryControlIsBuiltAsTheInventoryDescribesIt) {
    ASSERT_EQ(w->Dpi(), 96) << "the pixel places below are those of 96 dots per inch";
    std::set<HWND> seen;
    for (const inventory::Control& c : inventory::Controls()) {
        SCOPED_TRACE(std::string(c.name));
        HWND h = C(c.name);
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(seen.insert(h).second) << "two names, one control";
        EXPECT_EQ(GetParent(h), w->Handle());
        const Expected kind = ExpectedFor(c.kind);
        EXPECT_EQ(ClassName(h), kind.className);
        EXPECT_EQ(Style(h) & kind.mask, kind.style);
        if (c.kind != Kind::EditCombo && c.kind != Kind::ListCombo) {
            EXPECT_EQ(Caption(h), c.caption);
        }
        EXPECT_EQ(IsWindowEnabled(h) != 0, c.enabled);
        EXPECT_EQ(w->Shown(c.name), c.visible);

        const POINT at = DesignPlace(c);
        const RECT r = Place(c.name);
        EXPECT_EQ(r.left, at.x / 15);
        EXPECT_EQ(r.top, at.y / 15);
        EXPECT_EQ(r.right - r.left, c.width / 15);
        EXPECT_EQ(r.bottom - r.top, c.height / 15);

        if (c.kind == Kind::UpDown) continue;  // no text, no font
        const LOGFONTW f = FontOf(h);
        switch (c.font) {
            case inventory::Font::Plain:
            case inventory::Font::Bold:
                EXPECT_STREQ(f.lfFaceName, L"Arial");
                EXPECT_EQ(f.lfHeight, -12);  // 9 pt
                EXPECT_EQ(f.lfWeight, c.font == inventory::Font::Bold ? FW_BOLD : FW_NORMAL);
                break;
            case inventory::Font::SmallFixed:
                EXPECT_STREQ(f.lfFaceName, L"Terminal");
                EXPECT_EQ(f.lfHeight, -8);  // 6 pt
                EXPECT_EQ(f.lfWeight, FW_BOLD);
                EXPECT_EQ(f.lfCharSet, OEM_CHARSET);
                EXPECT_EQ(f.lfPitchAndFamily & 3, FIXED_PITCH);
                break;
        }
    }
    EXPECT_EQ(SendMessageW(C("ud_blockdelay"), UDM_GETBUDDY, 0, 0),
              reinterpret_cast<LRESULT>(C("t_blockdelay")));
}

TEST_F(WindowTest, StartsCollapsedWithEveryControlInItsStartState) {
    EXPECT_EQ(Caption(w->Handle()), "Corvane");
    RECT client{};
    GetClientRect(w->Handle(), &client);
    EXPECT_EQ(client.right, 5775 / 15);
    EXPECT_EQ(client.bottom, 4995 / 15);
    // No sizing and no maximising, neither by the frame nor by the system menu.
    EXPECT_EQ(Style(w->Handle()) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    HMENU menu = GetSystemMenu(w->Handle(), FALSE);
    EXPECT_EQ(GetMenuState(menu, SC_SIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));

    EXPECT_FALSE(IsWindowEnabled(C("b_stop")));
    EXPECT_EQ(SendMessageW(C("c_ports"), CB_GETCOUNT, 0, 0), 20);
    EXPECT_EQ(w->Text("c_ports"), "com1:2400,e,7,1");
    EXPECT_EQ(w->FindItem("c_ports", "com10:2400,e,7,1"), 9);  // after com9, not after com1
    EXPECT_EQ(w->FindItem("c_ports", "com20:2400,e,7,1"), 19);
    const std::vector<std::string> presets = SystemPresets();
    EXPECT_EQ(SendMessageW(C("cboSystem"), CB_GETCOUNT, 0, 0),
              static_cast<LRESULT>(presets.size()));
    EXPECT_EQ(w->FindItem("cboSystem", presets.back()), static_cast<int>(presets.size()) - 1);
    EXPECT_EQ(w->Text("cboSystem"), "");
    EXPECT_EQ(w->Text("cboResident"), "");
    EXPECT_EQ(w->FindItem("cboResident", "Viking"), 3);
    EXPECT_EQ(w->ChunkDelay(), 385);
    EXPECT_EQ(SendMessageW(C("ud_blockdelay"), UDM_GETPOS32, 0, 0), 385);
    EXPECT_EQ(w->Text("t_blockdelay"), "385");
    EXPECT_EQ(Ask([](Engine& e) { return e.Choices().chunkDelay; }), 385);

    // The colours: pale yellow displays and panes, red lamps, yellow small lamps.
    EXPECT_EQ(Background("l_host"), RGB(255, 255, 192));
    EXPECT_EQ(Background("t_DataLog"), RGB(255, 255, 192));
    EXPECT_EQ(Background("status_RS232"), RGB(255, 0, 0));
    EXPECT_EQ(Background("status_SSL"), RGB(255, 0, 0));
    EXPECT_EQ(Background("mile_RS232"), RGB(255, 255, 0));
    EXPECT_EQ(Background("status"), RGB(255, 0, 0));
}

TEST_F(WindowTest, TheMonitorToggleWidensAndNarrowsTheWindowAndKeepsItsPanesGoing) {
    const auto panel = {"t_CommLog", "t_DataLog", "label(7)", "t_skip",
                        "t_bytes",   "status",    "l_ports"};
    // A log line while the panel is hidden leaves it hidden.
    SendMessageW(C("x_log"), BM_CLICK, 0, 0);  // the panes are written while logging
    w->Channel().Post([](Engine& e) { LogComm(e, "while hidden", "", false); });
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_NE(w->Text("t_CommLog").find("while hidden"), std::string::npos);
    EXPECT_FALSE(w->Shown("t_CommLog"));

    SendMessageW(C("b_ShowMonitor"), BM_CLICK, 0, 0);
    EXPECT_EQ(w->ClientWidth(), 14100 / 15);
    EXPECT_EQ(Caption(C("b_ShowMonitor")), "<< Hide monitor");
    for (const char* name : panel) EXPECT_TRUE(w->Shown(name)) << name;
    RECT outer{};
    GetWindowRect(w->Handle(), &outer);

    SendMessageW(C("b_ShowMonitor"), BM_CLICK, 0, 0);
    EXPECT_EQ(w->ClientWidth(), 5775 / 15);
    EXPECT_EQ(Caption(C("b_ShowMonitor")), "Show monitor >>");
    for (const char* name : panel) EXPECT_FALSE(w->Shown(name)) << name;
    SendMessageW(C("b_ShowMonitor"), BM_CLICK, 0, 0);
    RECT again{};
    GetWindowRect(w->Handle(), &again);
    EXPECT_TRUE(EqualRect(&outer, &again)) << "the toggle does not come back to its width";
}

TEST_F(WindowTest, ChoosingASystemFillsTheHostFieldsThroughTheEngine) {
    const int ludric = w->FindItem("cboSystem", "Ludric:localhost:8105:@cyberserv.org:8005");
    ASSERT_GE(ludric, 0);
    // As the operator picks it: the list says its choice changed.
    SendMessageW(C("cboSystem"), CB_SETCURSEL, static_cast<WPARAM>(ludric), 0);
    SendMessageW(w->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(C("cboSystem")), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(C("cboSystem")));
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(Caption(C("l_host")), "Ludric");
    EXPECT_EQ(Caption(C("l_url")), "localhost");
    EXPECT_EQ(Caption(C("l_socket")), "8105");
    EXPECT_EQ(Ask([](Engine& e) { return e.Choices().systemEntry; }),
              "Ludric:localhost:8105:@cyberserv.org:8005");
}

TEST_F(WindowTest, TheHostLampsDoubleClickConnectsAndTheOperatorsCloseStopsFirst) {
    LoopbackHost host;
    w->Channel().Post([entry = host.Entry()](Engine& e) { e.ChooseSystem(entry); });
    SendMessageW(w->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(C("status_SSL")), STN_DBLCLK),
                 reinterpret_cast<LPARAM>(C("status_SSL")));
    ASSERT_TRUE(Until([&] {
        host.Accepted();
        return w->ShownView().lampSSL == LampUp;
    }));
    EXPECT_EQ(Background("status_SSL"), RGB(0, 255, 0));
    EXPECT_EQ(Caption(C("l_milestone")), "D");
    EXPECT_EQ(Background("status_RS232"), RGB(255, 0, 0));

    // The title bar's close: the stop closes the host link before the program ends.
    PostMessageW(w->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(RunMessageLoopFor(w->Handle(), kWaitMs), std::optional<int>(0));
    EXPECT_TRUE(w->IsClosing());
    EXPECT_FALSE(IsWindowVisible(w->Handle()));
    EXPECT_EQ(w->Unloads(), 1);
    EXPECT_TRUE(Until([&] { return host.Ended(); }));
}

TEST_F(WindowTest, ACloseUnloadsOnceAndEndsTheLoop) {
    ShowWindow(w->Handle(), SW_SHOW);
    PostMessageW(w->Handle(), WM_CLOSE, 0, 0);
    PostMessageW(w->Handle(), WM_CLOSE, 0, 0);  // a second close finds it closing
    EXPECT_EQ(RunMessageLoopFor(w->Handle(), kWaitMs), std::optional<int>(0));
    EXPECT_EQ(w->Unloads(), 1);
    EXPECT_FALSE(IsWindowVisible(w->Handle()));
    // Nothing more comes from the engine, and its end does not wait.
    EXPECT_EQ(RunMessageLoopFor(w->Handle(), 300), std::nullopt);
    EXPECT_EQ(w->Unloads(), 1);
}

TEST_F(WindowTest, TheMessageBoxIsAnsweredToTheEngine) {
    std::string title, text;
    TimerStep answer([&]() {
        HWND box = w->MessageShown();
        if (!box) return false;
        title = Caption(box);
        text = Caption(GetDlgItem(box, 0xFFFF));  // the box's text
        EXPECT_FALSE(IsWindowEnabled(w->Handle())) << "the box is modal over the window";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
    });
    w->Channel().Post([](Engine& e) {
        e.Spawn([&e]() -> asio::awaitable<void> { co_await ShowMessage(e, "Port not here"); });
    });
    ASSERT_TRUE(Until([&] { return answer.Done() && !w->MessageShown(); }));
    EXPECT_EQ(title, "Orvalle Information");
    EXPECT_EQ(text, "Port not here");
    EXPECT_TRUE(Until([&] { return !Ask([](Engine& e) { return e.MessagePending(); }); }));
    EXPECT_TRUE(IsWindowEnabled(w->Handle()));
}

TEST_F(WindowTest, TheOperatorsCloseWhileTheBoxIsUpStillStopsAndEnds) {
    LoopbackHost host;
    w->Channel().Post([entry = host.Entry()](Engine& e) {
        e.ChooseSystem(entry);
        e.LampDoubleClick(true);
    });
    ASSERT_TRUE(Until([&] { return w->ShownView().lampSSL == LampUp; }));
    bool closed = false;
    TimerStep close([&]() {
        if (!w->MessageShown()) return false;
        PostMessageW(w->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
        closed = true;
        return true;
    });
    w->Channel().Post([](Engine& e) {
        e.Spawn([&e]() -> asio::awaitable<void> { co_await ShowMessage(e, "Port not here"); });
    });
    EXPECT_EQ(RunMessageLoopFor(w->Handle(), kWaitMs), std::optional<int>(0));
    EXPECT_TRUE(closed);
    EXPECT_EQ(w->Unloads(), 1);
    EXPECT_EQ(w->MessageShown(), nullptr);
    EXPECT_TRUE(Until([&] { return host.Ended(); })) << "the stop did not close the host link";
}

}  // namespace corvane::win32::test

// The operator's actions on the window's controls: each keeps the dependent controls as the
// window always did and hands the choice or the action to the engine.

#include <algorithm>
#include <string>

#include "app/decimal_number.h"
#include "app/inventory.h"
#include "app/win32/main_window.h"
#include "app/win32/text.h"
#include "links/serial_devices.h"

namespace corvane::win32 {

namespace {

std::wstring WindowText(HWND h) {
    const int length = GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(h, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

std::wstring ItemText(HWND combo, int index) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : static_cast<std::size_t>(got));
    return text;
}

}  // namespace

// ---- the controls' state ----

std::string MainWindow::Text(std::string_view name) const {
    HWND h = Control(name);
    if (!h) return {};
    if (inventory::Find(name).kind == inventory::Kind::ListCombo) return ChosenItem(name);
    return Narrow(WindowText(h));
}

std::string MainWindow::ChosenItem(std::string_view name) const {
    HWND h = Control(name);
    const LRESULT chosen = SendMessageW(h, CB_GETCURSEL, 0, 0);
    return chosen == CB_ERR ? std::string() : Narrow(ItemText(h, static_cast<int>(chosen)));
}

void MainWindow::SetText(std::string_view name, const std::string& text) {
    if (HWND h = Control(name)) SetWindowTextW(h, Wide(text).c_str());
}

bool MainWindow::Checked(std::string_view name) const {
    return SendMessageW(Control(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SetChecked(std::string_view name, bool checked) {
    if (Checked(name) == checked) return;
    SendMessageW(Control(name), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    OnCommand(Control(name), BN_CLICKED);
}

bool MainWindow::Shown(std::string_view name) const {
    return (GetWindowLongPtrW(Control(name), GWL_STYLE) & WS_VISIBLE) != 0;
}

int MainWindow::FindItem(std::string_view name, const std::string& text) const {
    HWND h = Control(name);
    const std::wstring wanted = Wide(text);
    const LRESULT count = SendMessageW(h, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        if (ItemText(h, i) == wanted) return i;
    }
    return -1;
}

void MainWindow::ChooseItem(std::string_view name, int index) {
    SendMessageW(Control(name), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    OnCommand(Control(name), CBN_SELCHANGE);
}

void MainWindow::SetChunkDelay(int ms) {
    ms = std::clamp(ms, 0, 1000);
    if (ms == delay_) return;
    delay_ = ms;
    SendMessageW(Control("ud_blockdelay"), UDM_SETPOS32, 0, ms);
    ud_blockdelay_Change();
}

// ---- the bridge ----

void MainWindow::b_start_Click() {
    // The start opens the port of the entry the box holds now.
    channel_->Post([entry = Text("c_ports")](Engine& e) {
        e.ChoosePortEntry(entry);
        e.Start();
    });
}

void MainWindow::b_stop_Click() {
    channel_->Post([](Engine& e) { e.Stop(); });
}

void MainWindow::status_RS232_DblClick() {
    channel_->Post([entry = Text("c_ports")](Engine& e) {
        e.ChoosePortEntry(entry);
        e.LampDoubleClick(false);
    });
}

void MainWindow::status_SSL_DblClick() {
    channel_->Post([](Engine& e) { e.LampDoubleClick(true); });
}

// ---- the settings ----

void MainWindow::c_ports_DropDown() {
    // A USB adapter is often COM21 or above: those present are added after the twenty listed,
    // at the line settings of the relay; the ones added before are looked up again.
    HWND ports = Control("c_ports");
    const std::string text = Text("c_ports");
    const auto listed = static_cast<LRESULT>(inventory::Items("c_ports").size());
    for (LRESULT n = SendMessageW(ports, CB_GETCOUNT, 0, 0); n > listed; --n)
        SendMessageW(ports, CB_DELETESTRING, static_cast<WPARAM>(n - 1), 0);
    for (const std::string& port : SerialDevices()) {
        const std::string entry = port + ":" + kDeviceDefaultSettings;
        if (FindItem("c_ports", entry) < 0)
            SendMessageW(ports, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entry).c_str()));
    }
    if (Text("c_ports") != text) SetText("c_ports", text);
}

void MainWindow::c_ports_Change(const std::string& entry) {
    // The engine holds the entry as the box does, whether picked or typed.
    channel_->Post([entry](Engine& e) { e.ChoosePortEntry(entry); });
}

void MainWindow::cboSystem_Click() {
    // The engine splits the entry into l_host, l_url and l_socket, which show it.
    channel_->Post([entry = Text("cboSystem")](Engine& e) { e.ChooseSystem(entry); });
}

void MainWindow::cboResident_Click() {
    // Checking the box runs chkIsResidentLoaded_Click when it changes.
    SetChecked("chkIsResidentLoaded", true);
    channel_->Post([kind = Text("cboResident")](Engine& e) { e.ChooseResident(kind); });
}

void MainWindow::chkIsResidentLoaded_Click() {
    const bool loaded = Checked("chkIsResidentLoaded");
    const int show = loaded ? SW_HIDE : SW_SHOW;
    for (const char* name : {"label(3)", "label(11)", "t_blockdelay", "ud_blockdelay"})
        ShowWindow(Control(name), show);
    // The platform draws a disabled list on the button face, an enabled one on the window
    // background.
    EnableWindow(Control("cboResident"), loaded);
    channel_->Post([loaded](Engine& e) { e.SetResidentLoaded(loaded); });
}

void MainWindow::t_blockdelay_Change() {
    // Each replacement of the text runs this handler again (the box says it changed); the
    // text written back is the up-down's own value, so the nesting ends after one pass.
    const std::string delay = std::to_string(delay_);
    std::optional<double> number = ReadDecimalNumber(Text("t_blockdelay"));
    if (!number) {
        SetText("t_blockdelay", delay);
        number = ReadDecimalNumber(Text("t_blockdelay"));
        if (!number) return;
    }
    if (*number < 0 || *number > 1000) {
        SetText("t_blockdelay", delay);
        number = ReadDecimalNumber(Text("t_blockdelay"));
        if (!number || *number < 0 || *number > 1000) return;
    }
    // Runs ud_blockdelay_Change when the value differs.
    SetChunkDelay(static_cast<int>(RoundHalfEven(*number)));
}

void MainWindow::ud_blockdelay_Change() {
    SetText("t_blockdelay", std::to_string(delay_));
    // The up-down's value is the one the loader reads.
    channel_->Post([ms = delay_](Engine& e) { e.SetChunkDelay(ms); });
}

void MainWindow::t_blockdelay_GotFocus() {
    HWND box = Control("t_blockdelay");
    SendMessageW(box, EM_SETSEL, 0, -1);
    // A click that gave the focus places the caret after this: select again once it has.
    PostMessageW(hwnd_, kSelectDelay, 0, 0);
}

void MainWindow::x_log_Click() {
    channel_->Post([on = Checked("x_log")](Engine& e) { e.SetLogToFile(on); });
}

// ---- the monitor panel and the send rows ----

void MainWindow::b_ShowMonitor_Click() {
    const RECT f0 = PlaceOf("frame(0)");
    const RECT data = PlaceOf("t_DataLog");
    // The panel's state is the visibility of the data pane, nothing else.
    const bool shown = Shown("t_DataLog");
    if (shown)
        SetClientWidth(f0.left + (f0.right - f0.left) + f0.left);
    else
        SetClientWidth(data.left + (data.right - data.left) + f0.left);
    for (const inventory::Control& c : inventory::Controls()) {
        if (c.monitor) ShowWindow(Control(c.name), shown ? SW_HIDE : SW_SHOW);
    }
    SetWindowTextW(Control("b_ShowMonitor"), shown ? L"Show monitor >>" : L"<< Hide monitor");
}

void MainWindow::b_term_Click() {
    channel_->Post([line = Text("t_term")](Engine& e) { e.SendToTerminal(line); });
}

void MainWindow::b_host_Click() {
    channel_->Post([line = Text("t_host")](Engine& e) { e.SendToHost(line); });
}

}  // namespace corvane::win32

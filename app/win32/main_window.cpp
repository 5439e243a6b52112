#include "app/win32/main_window.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "app/win32/message_loop.h"
#include "app/win32/text.h"

namespace corvane::win32 {

namespace {

constexpr wchar_t kClassName[] = L"CorvaneWindow";
constexpr wchar_t kMessageTitle[] = L"Orvalle Information";
// How long the end of a session waits for the engine's unload.
constexpr int kSessionEndWaitMs = 5000;

COLORREF Color(inventory::Rgb c) { return RGB(c.r, c.g, c.b); }

// The window's dots per inch: its own where the platform tells (Windows 10), else the
// screen's.
int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi) {
        if (const UINT dpi = getDpi(hwnd)) return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    registered = RegisterClassExW(&wc) != 0;
}

struct BoxSearch {
    HWND owner;
    std::vector<HWND> boxes;
};

// The message boxes (dialog class #32770) that `owner` owns on this thread.
std::vector<HWND> BoxesOf(HWND owner) {
    BoxSearch search{owner, {}};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM l) -> BOOL {
            auto* s = reinterpret_cast<BoxSearch*>(l);
            wchar_t name[16] = {};
            GetClassNameW(h, name, 16);
            if (std::wstring_view(name) == L"#32770" && GetWindow(h, GW_OWNER) == s->owner)
                s->boxes.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

}  // namespace

void InitControlsLibrary() {
    // Found at run time: no import library to link, and a platform without it still starts.
    HMODULE library = LoadLibraryW(L"comctl32.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = library ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(
                                    GetProcAddress(library, "InitCommonControlsEx")))
                              : nullptr;
    const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS |
                                                           ICC_USEREX_CLASSES | ICC_BAR_CLASSES};
    if (init) init(&classes);  // an error leaves the platform's default drawing
}

MainWindow::MainWindow(const std::string& programDir) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass(instance, &MainWindow::Procedure);
    // No size and no maximise: no sizing border, no maximise box (Form_Load also takes both
    // commands out of the system menu). The window paints its background under the controls:
    // a group box leaves its inside to it.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    CreateWindowExW(0, kClassName, Wide(inventory::kTitle).c_str(), style, CW_USEDEFAULT,
                    CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    if (!hwnd_) throw std::runtime_error("the window could not be made");
    dpi_ = WindowDpi(hwnd_);
    SetClientSize(inventory::Pixels(inventory::kClientWidth, dpi_),
                  inventory::Pixels(inventory::kClientHeight, dpi_));
    BuildControls();
    channel_ = std::make_unique<EngineChannel>(programDir, hwnd_, kEngineNews, *this);
    built_ = true;
    Form_Load();
}

MainWindow::~MainWindow() {
    // The engine goes first: nothing it still tells reaches controls that are gone.
    channel_.reset();
    built_ = false;
    if (hwnd_) DestroyWindow(hwnd_);
    for (HFONT f : fonts_) {
        if (f) DeleteObject(f);
    }
    for (auto& [color, brush] : brushes_) DeleteObject(brush);
}

HWND MainWindow::Control(std::string_view name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : controls_[static_cast<std::size_t>(i)];
}

int MainWindow::IndexOf(std::string_view name) const {
    const auto& all = inventory::Controls();
    for (std::size_t i = 0; i < all.size() && i < controls_.size(); ++i) {
        if (all[i].name == name) return static_cast<int>(i);
    }
    return -1;
}

int MainWindow::IndexOf(HWND control) const {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i] == control) return static_cast<int>(i);
    }
    return -1;
}

void MainWindow::Form_Load() {
    // No Size and no Maximize command in the system menu.
    DeleteMenu(GetSystemMenu(hwnd_, FALSE), SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(GetSystemMenu(hwnd_, FALSE), SC_MAXIMIZE, MF_BYCOMMAND);
    // Collapsed to the left column: the monitor panel starts hidden.
    const RECT f0 = PlaceOf("frame(0)");
    SetClientWidth(f0.left + (f0.right - f0.left) + f0.left);
    SetChunkDelay(385);
    HWND ports = Control("c_ports");
    for (const std::string& entry : inventory::Items("c_ports"))
        SendMessageW(ports, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entry).c_str()));
    SendMessageW(ports, CB_SETCURSEL, 0, 0);  // tells no handler, as designed
    EnableWindow(Control("b_stop"), FALSE);
}

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, w, l);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, w, l);
    }
    return self->Handle(message, w, l);
}

LRESULT MainWindow::Handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case kEngineNews:
            if (channel_) channel_->Deliver();
            return 0;
        case WM_COMMAND:
            if (built_ && l) OnCommand(reinterpret_cast<HWND>(l), HIWORD(w));
            return 0;
        case WM_VSCROLL:
            // The up-down's arrows changed its value.
            if (built_ && reinterpret_cast<HWND>(l) == Control("ud_blockdelay")) {
                const int value =
                    static_cast<int>(SendMessageW(reinterpret_cast<HWND>(l), UDM_GETPOS32, 0, 0));
                if (value != delay_) {
                    delay_ = value;
                    ud_blockdelay_Change();
                }
            }
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            if (HBRUSH brush = ColorOf(reinterpret_cast<HWND>(l), reinterpret_cast<HDC>(w)))
                return reinterpret_cast<LRESULT>(brush);
            break;
        case kSelectDelay:
            SendMessageW(Control("t_blockdelay"), EM_SETSEL, 0, -1);
            return 0;
        case kPlatformClose:
            // A second request while the close runs ends the program at once.
            if (closing_)
                PostQuitMessage(0);
            else
                Close(false);
            return 0;
        case WM_SYSCOMMAND:
            // The operator's own close command (title bar, system menu, Alt+F4, the taskbar),
            // handled here rather than by the platform, which drops it while the message box
            // has the window disabled.
            if ((w & 0xFFF0) == SC_CLOSE) {
                Close(true);
                return 0;
            }
            break;
        case WM_CLOSE:
            // From elsewhere: another program, a kill, the session's end.
            Close(false);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (w) EndSession();
            return 0;
        case WM_ACTIVATE:
            // The focus comes back to the control that had it.
            if (LOWORD(w) == WA_INACTIVE) {
                focus_ = GetFocus();
            } else if (focus_ && IsChild(hwnd_, focus_)) {
                SetFocus(focus_);
                return 0;
            }
            break;
        case WM_DPICHANGED: {
            const bool expanded = Shown("t_DataLog");
            dpi_ = HIWORD(w);
            MakeFonts();
            PlaceControls();
            const auto* suggested = reinterpret_cast<const RECT*>(l);
            SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            const RECT f0 = PlaceOf("frame(0)");
            const RECT data = PlaceOf("t_DataLog");
            SetClientSize(expanded ? data.right + f0.left : f0.right + f0.left,
                          inventory::Pixels(inventory::kClientHeight, dpi_));
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, w, l);
}

void MainWindow::OnCommand(HWND control, int code) {
    const int i = IndexOf(control);
    if (i < 0) return;
    const std::string_view name = inventory::Controls()[static_cast<std::size_t>(i)].name;
    // Notification codes are per class (a static's double-click is a combo box's choice):
    // each control hears only its own.
    const bool clicked = code == BN_CLICKED;
    if (name == "b_start" && clicked) b_start_Click();
    if (name == "b_stop" && clicked) b_stop_Click();
    if (name == "chkIsResidentLoaded" && clicked) chkIsResidentLoaded_Click();
    if (name == "x_log" && clicked) x_log_Click();
    if (name == "b_host" && clicked) b_host_Click();
    if (name == "b_term" && clicked) b_term_Click();
    if (name == "b_ShowMonitor" && clicked) b_ShowMonitor_Click();
    if (name == "status_RS232" && code == STN_DBLCLK) status_RS232_DblClick();
    if (name == "status_SSL" && code == STN_DBLCLK) status_SSL_DblClick();
    if (name == "cboSystem" && code == CBN_SELCHANGE) cboSystem_Click();
    if (name == "cboResident" && code == CBN_SELCHANGE) cboResident_Click();
    if (name == "c_ports" && code == CBN_SELCHANGE)
        c_ports_Change(ChosenItem(name));  // the box's edit follows later
    if (name == "c_ports" && code == CBN_EDITCHANGE) c_ports_Change(Text(name));
    if (name == "c_ports" && code == CBN_DROPDOWN) c_ports_DropDown();
    if (name == "t_blockdelay" && code == EN_CHANGE) t_blockdelay_Change();
    if (name == "t_blockdelay" && code == EN_SETFOCUS) t_blockdelay_GotFocus();
}

HBRUSH MainWindow::Brush(COLORREF color) {
    HBRUSH& brush = brushes_[color];
    if (!brush) brush = CreateSolidBrush(color);
    return brush;
}

HBRUSH MainWindow::ColorOf(HWND control, HDC dc) {
    const int i = IndexOf(control);
    if (i < 0) return nullptr;
    const inventory::Control& c = inventory::Controls()[static_cast<std::size_t>(i)];
    COLORREF color = 0;
    switch (c.kind) {
        case inventory::Kind::DisplayLabel:
        case inventory::Kind::LogPane:
            color = Color(inventory::kPaleYellow);
            break;
        case inventory::Kind::SmallLamp:
            color = Color(inventory::kYellow);
            break;
        case inventory::Kind::StatusBox:
            color = Color(inventory::kRed);
            break;
        case inventory::Kind::Lamp:
            // The engine's colour numbers hold red in the lowest byte, as a COLORREF does.
            color = static_cast<COLORREF>(
                (c.name == "status_SSL" ? shown_.lampSSL : shown_.lampRS232) & 0xFFFFFF);
            break;
        default:
            return nullptr;
    }
    SetBkColor(dc, color);
    return Brush(color);
}

void MainWindow::ViewChanged(const EngineView& view) {
    auto text = [this](std::string_view name, const std::string& now, const std::string& was) {
        if (now != was) SetWindowTextW(Control(name), Wide(now).c_str());
    };
    auto enable = [this](std::string_view name, bool on) { EnableWindow(Control(name), on); };
    const EngineView was = std::exchange(shown_, view);
    text("l_milestone", view.milestone, was.milestone);
    text("l_loginMode", view.loginMode, was.loginMode);
    if (view.lampRS232 != was.lampRS232) InvalidateRect(Control("status_RS232"), nullptr, TRUE);
    if (view.lampSSL != was.lampSSL) InvalidateRect(Control("status_SSL"), nullptr, TRUE);
    text("label(3)", view.statusLine, was.statusLine);
    enable("label(3)", view.statusLineEnabled);
    enable("ud_blockdelay", view.chunkDelayEnabled);
    enable("label(11)", view.chunkDelayEnabled);
    enable("t_blockdelay", view.chunkDelayEnabled);
    enable("c_ports", view.portEntryEnabled);
    enable("b_start", view.startEnabled);
    enable("b_stop", view.stopEnabled);
    text("l_host", view.hostName, was.hostName);
    text("l_url", view.hostUrl, was.hostUrl);
    text("l_socket", view.hostSocket, was.hostSocket);
    text("l_terminal", view.terminalKind, was.terminalKind);
    // A pane keeps the visibility the monitor toggle gave it.
    text("t_CommLog", view.commPane, was.commPane);
    text("t_DataLog", view.dataPane, was.dataPane);
}

void MainWindow::Message(const std::string& text) {
    auto answered = [this] { channel_->Post([](Engine& e) { e.MessageAnswered(); }); };
    // A closed window shows nothing more; the routine that asked goes on at once.
    if (closing_) {
        answered();
        return;
    }
    // Modal over the window; the engine's later news still comes in the box's own loop.
    ++boxes_;
    MessageBoxW(hwnd_, Wide(text).c_str(), kMessageTitle, MB_OK | MB_ICONINFORMATION);
    --boxes_;
    answered();
}

HWND MainWindow::MessageShown() const {
    if (boxes_ == 0) return nullptr;
    const std::vector<HWND> boxes = BoxesOf(hwnd_);
    return boxes.empty() ? nullptr : boxes.back();
}

void MainWindow::Unloaded() {
    ++unloads_;
    if (EndsLoopOnUnload) PostQuitMessage(0);
}

void MainWindow::Close(bool byOperator) {
    // The engine runs the close (the stop first when the operator closes) and says when it has
    // unloaded; the window hides meanwhile. A second close finds it closing.
    if (closing_) return;
    closing_ = true;
    channel_->Post([byOperator](Engine& e) { e.Close(byOperator); });
    ShowWindow(hwnd_, SW_HIDE);
    // A box still up ends with its window: its routine goes on, and the close is not held up.
    if (boxes_ > 0) {
        for (HWND box : BoxesOf(hwnd_))
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
}

void MainWindow::EndSession() {
    // The process ends when this returns: close as the platform does (no stop), and give the
    // engine a bounded while to let its links go.
    Close(false);
    const bool ends = std::exchange(EndsLoopOnUnload, false);
    HandleMessagesUntil(
        hwnd_, [this] { return unloads_ > 0; }, kSessionEndWaitMs);
    EndsLoopOnUnload = ends;
    if (BeforeSessionEnd) BeforeSessionEnd();
}

bool MainWindow::WaitUntilShown(int timeoutMs) {
    auto done = std::make_shared<bool>(false);
    channel_->Then([](Engine& e) { e.Publish(); }, [done] { *done = true; });
    return HandleMessagesUntil(
        hwnd_, [done] { return *done; }, timeoutMs);
}

}  // namespace corvane::win32

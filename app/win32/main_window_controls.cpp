// The window's controls from the inventory: Win32 classes and styles by kind, fonts, and
// places from the design twips at the window's dots per inch.

#include "app/win32/main_window.h"
#include "app/win32/text.h"

namespace corvane::win32 {

namespace {

using inventory::Kind;

struct ClassOf {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ClassOf ClassFor(Kind kind) {
    switch (kind) {
        case Kind::Frame:
            return {L"BUTTON", BS_GROUPBOX, 0};
        case Kind::Panel:
            return {L"STATIC", SS_LEFT, 0};
        case Kind::Button:
            return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
        case Kind::Label:
            // A caption too wide for a substitute font is cut at its end, not at a word.
            return {L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};
        case Kind::DisplayLabel:
            return {L"STATIC", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX | WS_BORDER, 0};
        case Kind::Lamp:
            return {L"STATIC", SS_NOTIFY | WS_BORDER, 0};
        case Kind::SmallLamp:
            return {L"STATIC", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX | WS_BORDER, 0};
        case Kind::StatusBox:
            return {L"STATIC", WS_BORDER, 0};
        case Kind::EditCombo:
            return {L"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0};
        case Kind::ListCombo:
            return {L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
        case Kind::CheckBox:
            return {L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0};
        case Kind::TextBox:
            return {L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
        case Kind::UpDown:
            return {UPDOWN_CLASSW, UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0};
        case Kind::LogPane:
            return {L"EDIT",
                    ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                        WS_HSCROLL,
                    WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", 0, 0};
}

bool IsCombo(Kind kind) { return kind == Kind::EditCombo || kind == Kind::ListCombo; }
bool IsContainer(Kind kind) { return kind == Kind::Frame || kind == Kind::Panel; }

// A control's place on the window in twips: containers' offsets added up.
POINT TwipsOnWindow(const inventory::Control& c) {
    POINT at{c.left, c.top};
    for (std::string_view in = c.inside; !in.empty();) {
        const inventory::Control& container = inventory::Find(in);
        at.x += container.left;
        at.y += container.top;
        in = container.inside;
    }
    return at;
}

// The rows a dropped list shows before it scrolls.
constexpr int kListRows = 12;

}  // namespace

void MainWindow::BuildControls() {
    const auto& all = inventory::Controls();
    controls_.assign(all.size(), nullptr);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const inventory::Control& c = all[i];
        const ClassOf cls = ClassFor(c.kind);
        // Every control is the window's own child, so that its notifications come here;
        // its container is drawn beneath it (see below), and siblings clip each other.
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | cls.style;
        if (c.visible) style |= WS_VISIBLE;
        if (!c.enabled) style |= WS_DISABLED;
        const std::wstring caption = IsCombo(c.kind) ? std::wstring() : Wide(c.caption);
        controls_[i] = CreateWindowExW(
            cls.exStyle, cls.name, caption.c_str(), style, 0, 0, 0, 0, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(1000 + i)), instance, nullptr);
    }
    // Containers at the bottom: drawn first, under the controls inside them.
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (IsContainer(all[i].kind))
            SetWindowPos(controls_[i], HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }

    for (std::size_t i = 0; i < all.size(); ++i) {
        const inventory::Control& c = all[i];
        HWND h = controls_[i];
        if (c.kind == Kind::ListCombo) {
            for (const std::string& item : inventory::Items(c.name))
                SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
            SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        }
        if (c.kind == Kind::UpDown) {
            SendMessageW(h, UDM_SETRANGE32, 0, 1000);
            SendMessageW(h, UDM_SETPOS32, 0, delay_);
            SendMessageW(h, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Control("t_blockdelay")), 0);
        }
        if (c.kind == Kind::LogPane || c.kind == Kind::TextBox)
            SendMessageW(h, EM_SETLIMITTEXT, 0, 0);  // no 32 K limit on what may be typed
    }

    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                            nullptr, instance, nullptr);
    for (std::size_t i = 0; i < all.size() && tips_; ++i) {
        if (all[i].toolTip.empty()) continue;
        std::wstring tip = Wide(all[i].toolTip);
        TOOLINFOW info{};
        info.cbSize = sizeof info;
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = hwnd_;
        info.uId = reinterpret_cast<UINT_PTR>(controls_[i]);
        info.lpszText = tip.data();
        SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    }
    MakeFonts();
    PlaceControls();
}

void MainWindow::MakeFonts() {
    for (HFONT& f : fonts_) {
        if (f) DeleteObject(f);
        f = nullptr;
    }
    auto make = [this](int points, int weight, DWORD charset, DWORD pitch, const wchar_t* face) {
        return CreateFontW(-MulDiv(points, dpi_, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, charset,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitch, face);
    };
    fonts_[static_cast<int>(inventory::Font::Plain)] =
        make(9, FW_NORMAL, DEFAULT_CHARSET, DEFAULT_PITCH | FF_SWISS, L"Arial");
    fonts_[static_cast<int>(inventory::Font::Bold)] =
        make(9, FW_BOLD, DEFAULT_CHARSET, DEFAULT_PITCH | FF_SWISS, L"Arial");
    fonts_[static_cast<int>(inventory::Font::SmallFixed)] =
        make(6, FW_BOLD, OEM_CHARSET, FIXED_PITCH | FF_MODERN, L"Terminal");
    const auto& all = inventory::Controls();
    for (std::size_t i = 0; i < all.size(); ++i)
        SendMessageW(controls_[i], WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts_[static_cast<int>(all[i].font)]), TRUE);
}

void MainWindow::PlaceControls() {
    const auto& all = inventory::Controls();
    auto px = [this](int twips) { return inventory::Pixels(twips, dpi_); };
    for (std::size_t i = 0; i < all.size(); ++i) {
        const inventory::Control& c = all[i];
        const POINT at = TwipsOnWindow(c);
        int height = px(c.height);
        // A combo box's height is its dropped list's; its closed height is fitted below.
        if (IsCombo(c.kind)) height += kListRows * px(225);
        SetWindowPos(controls_[i], nullptr, px(at.x), px(at.y), px(c.width), height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (IsCombo(c.kind)) FitComboHeight(controls_[i], px(c.height));
    }
}

void MainWindow::FitComboHeight(HWND combo, int height) {
    // The closed height follows the selection field's: set that so the box is as designed.
    // Some platforms add to the field what they were asked for: ask again by what is off.
    const LRESULT field = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    if (field == CB_ERR) return;
    int asked = static_cast<int>(field);
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT r{};
        GetWindowRect(combo, &r);
        const int off = (r.bottom - r.top) - height;
        if (off == 0 || asked - off < 1) return;
        asked -= off;
        SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), asked);
    }
}

RECT MainWindow::PlaceOf(std::string_view name) const {
    RECT r{};
    HWND h = Control(name);
    if (!h) return r;
    GetWindowRect(h, &r);
    MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int MainWindow::ClientWidth() const {
    RECT client{};
    GetClientRect(hwnd_, &client);
    return client.right - client.left;
}

void MainWindow::SetClientWidth(int pixels) {
    // The frame's width is whatever the platform draws: outer minus client, taken each time.
    RECT outer{};
    GetWindowRect(hwnd_, &outer);
    const int frame = (outer.right - outer.left) - ClientWidth();
    SetWindowPos(hwnd_, nullptr, 0, 0, frame + pixels, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::SetClientSize(int width, int height) {
    RECT r{0, 0, width, height};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A caption the platform draws taller than it said: correct by what the client became.
    RECT client{};
    GetClientRect(hwnd_, &client);
    if (client.bottom != height || client.right != width) {
        RECT outer{};
        GetWindowRect(hwnd_, &outer);
        SetWindowPos(hwnd_, nullptr, 0, 0, (outer.right - outer.left) + width - client.right,
                     (outer.bottom - outer.top) + height - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

}  // namespace corvane::win32

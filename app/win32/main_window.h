// The one main window on Windows: every control of the inventory as a Win32 standard control,
// a view of the engine. It shows the engine's values in its controls and turns each operator
// action into the engine's call; the bridge itself lives in the engine, on its own thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/inventory.h"
#include "app/win32/engine_channel.h"
#include "app/win32/windows_api.h"

namespace corvane::win32 {

// Messages of the window to itself.
constexpr UINT kEngineNews = WM_APP + 1;     // the channel has news
constexpr UINT kSelectDelay = WM_APP + 2;    // select the chunk delay's text after a click
constexpr UINT kPlatformClose = WM_APP + 3;  // a close from outside (console Ctrl-C, a kill)

// Loads the platform's common controls (the up-down, the tool tips; version 6 under the
// program's manifest) and registers their classes. Once, before the window is made.
void InitControlsLibrary();

class MainWindow : public ChannelListener {
  public:
    // Makes the window, hidden, with every control in its start state (Form_Load has run),
    // and the engine for programDir (which must not be empty) on a thread of its own.
    explicit MainWindow(const std::string& programDir);
    // Ends the engine (its unload, if the close has not run it) before the controls go.
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    // The control of that name in the inventory; nullptr for any other name.
    HWND Control(std::string_view name) const;
    int Dpi() const { return dpi_; }
    EngineChannel& Channel() { return *channel_; }

    // ---- the controls' state, as the handlers read and set it ----
    // A control's text for the engine; for a list, its chosen item's text.
    std::string Text(std::string_view name) const;
    // The text of a list's chosen item, "" without one.
    std::string ChosenItem(std::string_view name) const;
    // Sets the text; an edit box runs its change handler, as a typed change would.
    void SetText(std::string_view name, const std::string& text);
    bool Checked(std::string_view name) const;
    // Sets a check box; runs its click handler when the state changes.
    void SetChecked(std::string_view name, bool checked);
    // Shown by the program (not whether the window itself is on the screen).
    bool Shown(std::string_view name) const;
    // The list's item that is exactly `text` (case counts), -1 for none.
    int FindItem(std::string_view name, const std::string& text) const;
    // Chooses item `index` of a list, as the operator would: its handler runs.
    void ChooseItem(std::string_view name, int index);
    // ud_blockdelay's value; setting it by code runs ud_blockdelay_Change when it differs.
    int ChunkDelay() const { return delay_; }
    void SetChunkDelay(int ms);
    // The client area's width in pixels.
    int ClientWidth() const;

    // Handles messages until the controls show the engine's view as it is now (after every
    // call posted before); false when that took longer than timeoutMs or the loop was told
    // to end.
    bool WaitUntilShown(int timeoutMs = 5000);
    // The view the controls show.
    const EngineView& ShownView() const { return shown_; }
    // The engine's message box while it is up, else nullptr.
    HWND MessageShown() const;
    // The window was closed: the engine's close is under way or done.
    bool IsClosing() const { return closing_; }
    // How often the engine said it had unloaded (once, after the close).
    int Unloads() const { return unloads_; }
    // Whether the unload ends the thread's message loop (the program's window) or not.
    bool EndsLoopOnUnload = true;
    // Runs when the session ends (log-off, shutdown): the process ends without returning to
    // its message loop.
    std::function<void()> BeforeSessionEnd;

    // ---- the handlers, as the controls' events run them ----
    void Form_Load();
    void b_start_Click();
    void b_stop_Click();
    void status_RS232_DblClick();
    void status_SSL_DblClick();
    void c_ports_Change(const std::string& entry);
    // Offers the COM ports present beyond the listed ones, looked up as the list opens.
    void c_ports_DropDown();
    void cboSystem_Click();
    void cboResident_Click();
    void chkIsResidentLoaded_Click();
    void t_blockdelay_Change();
    void ud_blockdelay_Change();
    void t_blockdelay_GotFocus();
    void x_log_Click();
    void b_ShowMonitor_Click();
    void b_term_Click();
    void b_host_Click();

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);
    void OnCommand(HWND control, int code);
    // The brush of a control with a colour of its own, nullptr for the platform's colours.
    HBRUSH ColorOf(HWND control, HDC dc);
    HBRUSH Brush(COLORREF color);
    int IndexOf(HWND control) const;
    int IndexOf(std::string_view name) const;

    // main_window_controls.cpp: the controls from the inventory, their fonts and places.
    void BuildControls();
    void MakeFonts();
    void PlaceControls();
    void FitComboHeight(HWND combo, int height);
    // A control's rectangle in the window's client pixels.
    RECT PlaceOf(std::string_view name) const;
    void SetClientWidth(int pixels);
    void SetClientSize(int width, int height);

    void Close(bool byOperator);
    void EndSession();
    void ViewChanged(const EngineView& view) override;
    void Message(const std::string& text) override;
    void Unloaded() override;

    HWND hwnd_ = nullptr;
    HWND tips_ = nullptr;
    HWND focus_ = nullptr;  // the control that had the focus when the window was deactivated
    int dpi_ = 96;
    std::vector<HWND> controls_;  // in the order of inventory::Controls()
    bool built_ = false;          // the controls' notifications count from here on
    HFONT fonts_[3] = {};         // by inventory::Font
    std::map<COLORREF, HBRUSH> brushes_;
    std::unique_ptr<EngineChannel> channel_;
    EngineView shown_;
    int delay_ = 0;  // ud_blockdelay's value; Form_Load sets it to 385
    bool closing_ = false;
    int unloads_ = 0;
    int boxes_ = 0;  // message boxes up
};

}  // namespace corvane::win32

// The bridge's engine: both link components, the state every routine shares, the values the
// operator sees, and the operator's actions as calls. It lives on the thread that runs its
// io_context; views (the window, the headless run) listen to it and call it there.
#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/host_socket.h"
#include "links/serial_port.h"
#include "links/wakeup.h"
#include "logs/log_view.h"

namespace corvane {

constexpr int LampUp = 65280;  // green: the link was opened
constexpr int LampDown = 255;  // red: the link was closed, or never opened

// What the operator sees of the engine, as the window's controls show it. Each field names
// the control that shows it.
struct EngineView {
    std::string milestone;                          // l_milestone: "", "A", "B", "C", "D"
    std::string loginMode;                          // l_loginMode: "", "next", "stop1"
    int lampRS232 = LampDown;                       // status_RS232
    int lampSSL = LampDown;                         // status_SSL
    std::string statusLine = "HOST NOT CONNECTED";  // label(3), the loader's status line
    bool statusLineEnabled = false;
    bool chunkDelayEnabled = true;  // ud_blockdelay, t_blockdelay and label(11)
    bool portEntryEnabled = true;   // c_ports
    bool startEnabled = true;       // b_start
    bool stopEnabled = false;       // b_stop
    std::string hostName;           // l_host: the system's name
    std::string hostUrl;            // l_url: its address
    std::string hostSocket;         // l_socket: its port field
    std::string terminalKind;       // l_terminal
    std::string commPane;           // t_CommLog, lines joined by CrLf
    std::string dataPane;           // t_DataLog
    bool operator==(const EngineView&) const = default;
};

// The operator's choices that the routines read, as the controls hold them.
struct EngineChoices {
    std::string portEntry = "com1:2400,e,7,1";  // c_ports' text
    std::string systemEntry;                    // cboSystem's text; "" before a choice
    bool residentLoaded = false;                // chkIsResidentLoaded
    int chunkDelay = 385;                       // ud_blockdelay's value, 0 to 1000
    bool logToFile = false;                     // x_log
};

class EngineListener {
  public:
    virtual ~EngineListener() = default;
    // The view changed; several changes of one handler come as one call.
    virtual void ViewChanged(const EngineView& /*view*/) {}
    // Every communication-log entry's file line, whether or not "Log to File" is on.
    virtual void CommLogLine(const std::string& /*line*/) {}
    // A message for the operator (a port that cannot be opened). Return true to show it and
    // answer later with Engine::MessageAnswered: the routine that said it waits until then.
    virtual bool Message(const std::string& /*text*/) { return false; }
    // A component reported (the serial port's event, the host socket's disconnect or error),
    // after the engine's own handlers ran: a view that watches the links looks again.
    virtual void LinksChanged() {}
    // The engine has unloaded (the window's close ran its course): nothing more will come.
    virtual void Unloaded() {}
};

class Engine {
  public:
    // programDir: load files, ports/ and log/. Must not be empty.
    Engine(asio::io_context& io, std::string programDir);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    asio::io_context& io() { return io_; }
    const std::string& ProgramDir() const { return programDir_; }

    // ---- listeners (not owned; remove before they go) ----
    void AddListener(EngineListener* listener);
    void RemoveListener(EngineListener* listener);

    // ---- the operator's actions ----
    // b_start_Click; `done` runs once the start's routine has returned (port open or not,
    // resident loaded or not, host connected or not).
    void Start(std::function<void()> done = nullptr);
    void Stop(std::function<void()> done = nullptr);  // b_stop_Click
    bool IsTerminalPortOpen() { return Comm.PortOpen(); }
    bool IsHostConnected() { return SSL.Connected(); }
    void LampDoubleClick(bool ssl);                   // status_SSL_DblClick / status_RS232_DblClick
    void SendToHost(const std::string& hexLine);      // b_host_Click with t_host's text
    void SendToTerminal(const std::string& hexLine);  // b_term_Click with t_term's text
    void MessageAnswered();                           // the operator closed the message box
    // The window closes: byOperator runs the stop first (Form_QueryUnload with reason 0),
    // then the unload; listeners hear Unloaded once it has run.
    void Close(bool byOperator);
    // Choices, as the settings controls' handlers make them.
    void ChoosePortEntry(const std::string& entry);
    void ChooseSystem(const std::string& entry);   // cboSystem_Click: l_host, l_url, l_socket
    void ChooseResident(const std::string& kind);  // cboResident_Click's l_terminal
    void SetResidentLoaded(bool loaded);
    void SetChunkDelay(int ms);
    void SetLogToFile(bool on);

    const EngineView& View() const { return view_; }
    const EngineChoices& Choices() const { return choices_; }
    // The view for the routines to change; listeners hear of it once the handler is done.
    EngineView& Show();
    // Tells the listeners now when the view changed since they last heard.
    void Publish();
    // Says a communication-log line to the listeners.
    void TellCommLogLine(const std::string& line);
    // Tells the listeners a message; true when one of them will answer it.
    bool TellMessage(const std::string& text);
    bool MessagePending() const { return messagePending_; }

    // Runs a routine of the engine as its own task; its exceptions end the task, logged.
    void Spawn(std::function<asio::awaitable<void>()> routine);

    // ---- the two components ----
    SerialPort Comm;
    HostSocket SSL;

    // ---- the pump's timers ----
    asio::steady_timer sTimer;  // the 1 ms tick, while the pump is awake
    bool sTimerActive = false;
    std::uint64_t sTimerGeneration = 0;  // a tick of an older arming is stale
    std::chrono::steady_clock::time_point nextTick{};
    asio::steady_timer LineRoomWake;  // wakes the pump once the line has room again
    bool LineRoomWakeActive = false;
    std::uint64_t LineRoomGeneration = 0;

    // ---- state shared by the routines ----
    std::string sToHost;      // text waiting for the host
    std::string sToTerminal;  // text waiting for the terminal
    bool bFlushToTerminal = false;
    bool bLoadingResident = false;
    std::optional<std::int64_t> sLastTermIn;  // whole seconds, when the pump last read input
    int nLoadFileRequest = 0;                 // -1 while a request is awaited
    bool bIacPending = false;                 // an unpaired 0xFF at the end of the last host event
    std::int64_t nHostDropped = 0;            // terminal input dropped while the host did not read
    std::string CrLf = "\r\n";
    std::array<LogView, 2> LogViews{};

    std::uint64_t hostErrors = 0;  // Error events of the host socket so far
    bool bOpeningHost = false;     // an OpenHost is waiting; a second one does nothing
    bool bUnloaded = false;        // the engine was unloaded: every wait ends at once
    // Whether activity restarts a sleeping pump; tests that tick it by hand turn it off.
    bool PumpWakes = true;

    // Woken whenever something a routine's wait looks at may have changed (a tick read a
    // request, a link went up or down, a stop, the unload, a message answered).
    Wakeup Changed;
    // Woken only by the unload: pauses that nothing else may cut short end there.
    Wakeup Unloading;
    // Handlers queued on the io_context hold this and do nothing once the engine is gone.
    std::weak_ptr<bool> Alive() const { return alive_; }

    // Whole seconds of local time; replaceable so tests need not sleep through quiet seconds.
    std::function<std::int64_t()> NowSeconds;
    // Pause of the loader (chunk delay, settle time); replaceable so tests can watch pauses.
    std::function<asio::awaitable<void>(int ms)> Sleep;
    // Called with the file line of every communication-log entry (besides the listeners).
    std::function<void(const std::string& line)> CommLogSink;

    // ---- for an unattended run ----
    // What a keeper of the links (links/unattended.h) needs of the pump and the components.
    // Left as they start, they change nothing.
    // Terminal input read after at least a quiet second, once queued for the host.
    std::function<void(const std::string& input)> QuietInput;
    // While set, a closed terminal port holds the host's output back (through its TCP
    // window) instead of dropping it, and a port that is lost keeps what waits for it.
    bool HoldHostOutput = false;
    // While set, the host socket's status, disconnect and error texts are not logged: the
    // keeper logs each outage once, not each of its attempts.
    bool MuteHostStatus = false;
    std::string HostLinkReason;          // the host socket's last disconnect or error text
    std::int64_t nInputWithoutHost = 0;  // terminal input dropped: the host was not connected
    std::int64_t nBytesToHost = 0;       // relayed to the host by the pump
    std::int64_t nBytesToTerminal = 0;   // relayed to the terminal by the pump

  private:
    void SchedulePublish();
    void WireComponents();
    void QuietComponents();
    void Unload();

    asio::io_context& io_;
    std::string programDir_;
    EngineView view_;
    EngineView published_;
    EngineChoices choices_;
    std::vector<EngineListener*> listeners_;
    bool publishPosted_ = false;
    bool messagePending_ = false;
    int tasks_ = 0;  // routines spawned and not yet returned
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace corvane

// A fresh Win32 window with its engine, on the test's own thread, and what its tests need to
// drive it: a bounded message loop, questions to the engine, a loopback host.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/win32/main_window.h"
#include "app/win32/message_loop.h"
#include "app/win32/text.h"
#include "app/win32/windows_api.h"

namespace corvane::win32::test {

// Every wait of these tests is bounded by this.
constexpr int kWaitMs = 10000;

inline std::string Caption(HWND h) {
    wchar_t buffer[512] = {};
    GetWindowTextW(h, buffer, 512);
    return Narrow(buffer);
}

inline std::wstring ClassName(HWND h) {
    wchar_t buffer[64] = {};
    GetClassNameW(h, buffer, 64);
    return buffer;
}

inline LONG_PTR Style(HWND h) { return GetWindowLongPtrW(h, GWL_STYLE); }

// A step run from the thread's timer, so it runs inside a modal loop (a message box's) too;
// it is run again every 20 ms until it returns true. Once kWaitMs have passed it gives up and
// ends the thread's dialog boxes, so that no modal loop outlasts the test's bounds.
class TimerStep {
  public:
    explicit TimerStep(std::function<bool()> step) {
        Step() = std::move(step);
        Deadline() = GetTickCount64() + kWaitMs;
        id_ = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR id, DWORD) {
            const bool late = GetTickCount64() > Deadline();
            if (late) EndDialogs();
            if (late || (Step() && Step()())) {
                KillTimer(nullptr, id);
                Step() = nullptr;
            }
        });
    }
    ~TimerStep() {
        KillTimer(nullptr, id_);
        Step() = nullptr;
    }
    bool Done() const { return !Step(); }

  private:
    static std::function<bool()>& Step() {
        static std::function<bool()> step;
        return step;
    }
    static ULONGLONG& Deadline() {
        static ULONGLONG deadline = 0;
        return deadline;
    }
    static void EndDialogs() {
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND h, LPARAM) -> BOOL {
                if (ClassName(h) == L"#32770") PostMessageW(h, WM_COMMAND, IDOK, 0);
                return TRUE;
            },
            0);
    }
    UINT_PTR id_ = 0;
};

// A host on the loopback interface: takes one connection and tells when it has ended.
class LoopbackHost {
  public:
    LoopbackHost() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        listen(listener_, 1);
        int size = sizeof at;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size);
        port_ = ntohs(at.sin_port);
    }
    ~LoopbackHost() {
        if (peer_ != INVALID_SOCKET) closesocket(peer_);
        closesocket(listener_);
        WSACleanup();
    }
    int Port() const { return port_; }
    // A host system entry for this host.
    std::string Entry() const { return "loop:127.0.0.1:" + std::to_string(port_); }
    // Takes the connection when one waits; true once it has been taken.
    bool Accepted() {
        if (peer_ == INVALID_SOCKET && Readable(listener_))
            peer_ = accept(listener_, nullptr, nullptr);
        return peer_ != INVALID_SOCKET;
    }
    // True once the bridge has closed the connection; what it sent before goes to Received.
    bool Ended() {
        if (!Accepted()) return false;
        char buffer[256];
        while (Readable(peer_)) {
            const int n = recv(peer_, buffer, sizeof buffer, 0);
            if (n <= 0) return true;
            received_.append(buffer, static_cast<std::size_t>(n));
        }
        return false;
    }
    // Everything the bridge sent so far.
    const std::string& Received() {
        Ended();
        return received_;
    }

  private:
    static bool Readable(SOCKET s) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval none{0, 0};
        return select(0, &set, nullptr, nullptr, &none) == 1;
    }
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    int port_ = 0;
    std::string received_;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> made{0};
        dir_ = std::filesystem::temp_directory_path() /
               ("corvane-window-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++made));
        std::filesystem::create_directories(dir_);
        w = std::make_unique<MainWindow>(dir_.string());
    }
    void TearDown() override {
        w.reset();
        // A quit the window posted is this test's, not the next one's.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    HWND C(std::string_view name) const { return w->Control(name); }
    // The control's place in the window's client pixels.
    RECT Place(std::string_view name) const {
        RECT r{};
        GetWindowRect(C(name), &r);
        MapWindowPoints(HWND_DESKTOP, w->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    bool Until(const std::function<bool()>& done, int ms = kWaitMs) {
        return HandleMessagesUntil(w->Handle(), done, ms);
    }
    // What the engine says, on its own thread, once everything posted before has run.
    template <class F>
    auto Ask(F ask) {
        using Result = decltype(ask(std::declval<Engine&>()));
        auto answer = std::make_shared<Result>();
        auto done = std::make_shared<bool>(false);
        // The answer comes back through the window's own channel, which wakes its loop.
        w->Channel().Then([ask, answer](Engine& e) { *answer = ask(e); }, [done] { *done = true; });
        EXPECT_TRUE(Until([&] { return *done; })) << "the engine did not answer";
        return *answer;
    }
    // The colour the window gives a control's background.
    COLORREF Background(std::string_view name) {
        HDC dc = GetDC(C(name));
        auto brush = reinterpret_cast<HBRUSH>(SendMessageW(w->Handle(), WM_CTLCOLORSTATIC,
                                                           reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(C(name))));
        ReleaseDC(C(name), dc);
        LOGBRUSH lb{};
        if (!brush || !GetObjectW(brush, sizeof lb, &lb)) return CLR_INVALID;
        return lb.lbColor;
    }

    std::filesystem::path dir_;
    std::unique_ptr<MainWindow> w;
};

}  // namespace corvane::win32::test

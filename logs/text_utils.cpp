#include "logs/text_utils.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>

#include "links/engine.h"

namespace corvane {

std::string Trimmed(const std::string& text) {
    const char* const kBlanks = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string DigitsOnly(const std::string& text) {
    std::string digits;
    digits.reserve(text.size());
    for (const char c : text) {
        if (c >= '0' && c <= '9') digits.push_back(c);
    }
    return digits;
}

std::string FieldBefore(const std::string& text, const std::string& delimiter) {
    if (delimiter.empty()) return {};
    const std::size_t at = text.find(delimiter);
    if (at == std::string::npos) return text;
    return text.substr(0, at);
}

std::string FieldAfter(const std::string& text, const std::string& delimiter) {
    if (delimiter.empty()) return text;
    const std::size_t at = text.find(delimiter);
    if (at == std::string::npos) return {};
    return text.substr(at + delimiter.size());
}

std::string TimeStamp() {
    // The timer and the clock are separate readings; only the timer gives the hundredths.
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const auto sinceSecond = now - std::chrono::system_clock::from_time_t(seconds);
    const double fraction = std::chrono::duration<double>(sinceSecond).count();
    const double timer = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction;
    return TimeStampOf(local, timer);
}

std::string TimeStampOf(const std::tm& clock, double timerSeconds) {
    double fraction = 0.0;
    if (std::isfinite(timerSeconds)) fraction = timerSeconds - std::floor(timerSeconds);
    long long hundredths = std::llround(fraction * 100.0);
    // From .995 on the fraction rounds to a whole second; the stamp keeps its width instead.
    if (hundredths > 99) hundredths = 99;
    if (hundredths < 0) hundredths = 0;
    return fmt::format("{:02}/{:02}/{:04} {:02}:{:02}:{:02}.{:02}", clock.tm_mon + 1, clock.tm_mday,
                       clock.tm_year + 1900, clock.tm_hour, clock.tm_min, clock.tm_sec, hundredths);
}

asio::awaitable<void> ShowMessage(Engine& e, std::string message) {
    if (!e.TellMessage(message)) co_return;
    // The routine that says it goes on once the operator has answered, as after a modal box;
    // the unload ends the wait too.
    while (e.MessagePending() && !e.bUnloaded) co_await e.Changed.Wait();
}

}  // namespace corvane

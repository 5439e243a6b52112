#include "logs/comm_log.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "links/engine.h"
#include "logs/text_utils.h"

namespace corvane {

namespace {

const std::string kScreenMark = " \u00F9 ";
const std::string kFileMark = " \u00B7 ";
const std::string kMarkerLine = "\u00F9\u00F9";

// Windows-1252 bytes 0x80 to 0x9F that stand for characters above U+00FF.
char Cp1252High(char32_t c) {
    static constexpr char32_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// The length of the UTF-8 sequence at `at` and its character; 0 when it is not one.
int DecodeUtf8(const std::string& s, std::size_t at, char32_t& c) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(at);
    int n = 0;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        c = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        c = b0 & 0x07;
    } else {
        return 0;
    }
    if (at + n > s.size()) return 0;
    for (int i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and numbers past U+10FFFF are no UTF-8.
    if ((n == 2 && c < 0x80) || (n == 3 && c < 0x800) || (n == 4 && c < 0x10000)) return 0;
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
    return n;
}

void AppendToFile(const std::string& path, const std::string& line) {
    // Remembers the last failure so a log that cannot be written warns once, not per entry.
    static bool failing = false;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!std::filesystem::exists(folder, ec)) std::filesystem::create_directories(folder, ec);
    bool written = false;
    {
        std::ofstream file(path, std::ios::binary | std::ios::app);
        if (file) {
            file.write(line.data(), static_cast<std::streamsize>(line.size()));
            file.flush();
            written = static_cast<bool>(file);
        }
    }
    if (!written && !failing) std::fprintf(stderr, "Cannot write the log file %s\n", path.c_str());
    failing = !written;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return s;
}

}  // namespace

std::string ToEightBit(const std::string& utf8) {
    std::string bytes;
    bytes.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const int n = DecodeUtf8(utf8, i, c);
        if (n == 0) {
            bytes.push_back(utf8[i]);
            ++i;
            continue;
        }
        bytes.push_back(c <= 0xFF ? static_cast<char>(c) : Cp1252High(c));
        i += static_cast<std::size_t>(n);
    }
    return bytes;
}

std::string CommScreenLine(const std::string& tag, const std::string& text) {
    return "00 " + Lower(tag) + kScreenMark + text;
}

std::string CommFileText(const std::string& stamp, const std::string& tag,
                         const std::string& text) {
    return stamp + "> 00 " + Lower(tag) + kFileMark + text;
}

std::string CommFileLine(const std::string& stamp, const std::string& tag,
                         const std::string& text) {
    return ToEightBit(CommFileText(stamp, tag, text));
}

std::string CommLogPath(const std::string& programDir) {
    std::string dir = programDir;
    if (dir.empty() || (dir.back() != '/' && dir.back() != '\\')) dir += '/';
    return dir + "log/000.txt";
}

void RollLogView(LogView& view, const std::string& line, const std::string& crlf) {
    const int capacity = std::max(view.Capacity, 1);
    if (static_cast<int>(view.Lines.size()) < capacity + 1) view.Lines.resize(capacity + 1);
    if (view.Count >= capacity) {
        // Drop the oldest: lines 2..Capacity move down one.
        for (int i = 1; i < capacity; ++i) view.Lines[i] = std::move(view.Lines[i + 1]);
        view.Count = capacity;
    } else {
        ++view.Count;
    }
    view.Lines[view.Count] = line;
    view.Shown = std::min(view.Count, capacity);
    std::string joined;
    for (int i = 1; i <= view.Shown; ++i) {
        joined += view.Lines[i];
        joined += crlf;
    }
    view.Lines[0] = std::move(joined);
}

std::string PaneText(const LogView& view) {
    std::string text;
    for (int i = 1; i <= view.Shown; ++i) {
        text += view.Lines[i];
        text += '\n';
    }
    return text;
}

void LogComm(Engine& e, const std::string& text, const std::string& tag, bool /*marker*/) {
    const std::string stamp = TimeStamp();
    e.TellCommLogLine(CommFileText(stamp, tag, text));
    if (!e.Choices().logToFile) return;
    AppendToFile(CommLogPath(e.ProgramDir()), CommFileLine(stamp, tag, text) + "\r\n");
    RollLogView(e.LogViews[0], CommScreenLine(tag, text), e.CrLf);
    e.Show().commPane = PaneText(e.LogViews[0]);
    LogData(e, 0, std::string(), true);
}

void LogData(Engine& e, int /*channel*/, const std::string& text, bool marker) {
    if (!e.Choices().logToFile) return;
    RollLogView(e.LogViews[1], marker ? kMarkerLine : text, e.CrLf);
    e.Show().dataPane = PaneText(e.LogViews[1]);
}

void SSL_ConnectionStatus(Engine& e, const std::string&, int, const std::string& description) {
    LogComm(e, description, std::string(), false);
}

void SSL_Disconnected(Engine& e, int, const std::string& description) {
    LogComm(e, description, std::string(), false);
}

void SSL_Error(Engine& e, int, const std::string& description) {
    LogComm(e, description, std::string(), false);
}

void SSL_SSLServerAuthentication(Engine& e, const std::string& status) {
    LogComm(e, status, std::string(), false);
}

void SSL_SSLStatus(Engine& e, const std::string& message) {
    LogComm(e, message, std::string(), false);
}

}  // namespace corvane

#include "app/win32/remembered_settings.h"

#include <cstdio>
#include <optional>

#include "app/win32/main_window.h"
#include "app/win32/text.h"
#include "app/win32/windows_api.h"
#include "logs/comm_log.h"

namespace corvane::win32 {

namespace {

const std::string kPort = "port";
const std::string kSystem = "system";
const std::string kResidentLoaded = "residentLoaded";
const std::string kResidentKind = "residentKind";
const std::string kChunkDelay = "chunkDelay";
const std::string kLogToFile = "logToFile";
const std::string kMonitorShown = "monitorShown";

// A value on one line: the backslash, carriage return and line feed escaped.
std::string Escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescaped(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::optional<bool> ReadFlag(const std::string& value) {
    const std::string t = Lower(Trimmed(value));
    if (t == "true" || t == "1") return true;
    if (t == "false" || t == "0") return false;
    return std::nullopt;
}

std::optional<int> ReadDelay(const std::string& value) {
    const std::string t = Trimmed(value);
    if (t.empty() || t.size() > 5) return std::nullopt;
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i == t.size()) return std::nullopt;
    for (std::size_t k = i; k < t.size(); ++k) {
        if (t[k] < '0' || t[k] > '9') return std::nullopt;
    }
    const int ms = std::stoi(t);
    if (ms < 0 || ms > 1000) return std::nullopt;
    return ms;
}

std::string Unusable(const std::string& what, const std::string& value,
                     const std::string& instead) {
    return "Remembered " + what + " \"" + value + "\" is not usable; " + instead;
}

}  // namespace

std::wstring RememberedSettingsFile() {
    PWSTR folder = nullptr;
    std::wstring file;
    if (SUCCEEDED(
            SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &folder))) {
        const std::wstring ours = std::wstring(folder) + L"\\Corvane";
        if (CreateDirectoryW(ours.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
            file = ours + L"\\settings.ini";
    }
    CoTaskMemFree(folder);
    return file;
}

Settings ReadSettingsFile(const std::wstring& path) {
    Settings values;
    FILE* f = path.empty() ? nullptr : _wfopen(path.c_str(), L"rb");
    if (!f) return values;
    std::string content;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        content.append(buffer, n);
    std::fclose(f);
    std::size_t at = 0;
    while (at < content.size()) {
        std::size_t end = content.find('\n', at);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '[' || equals == std::string::npos)
            continue;
        values[Trimmed(line.substr(0, equals))] = Unescaped(line.substr(equals + 1));
    }
    return values;
}

bool WriteSettingsFile(const std::wstring& path, const Settings& values) {
    if (path.empty()) return false;
    std::string content;
    for (const auto& [key, value] : values) content += key + "=" + Escaped(value) + "\r\n";
    const std::wstring fresh = path + L".new";
    FILE* f = _wfopen(fresh.c_str(), L"wb");
    if (!f) return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed ||
        !MoveFileExW(fresh.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(fresh.c_str());
        return false;
    }
    return true;
}

Settings OperatorSettings(const MainWindow& w) {
    auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
    return {
        {kPort, w.Text("c_ports")},
        {kSystem, w.Text("cboSystem")},
        {kResidentLoaded, flag(w.Checked("chkIsResidentLoaded"))},
        {kResidentKind, w.Text("cboResident")},
        {kChunkDelay, std::to_string(w.ChunkDelay())},
        {kLogToFile, flag(w.Checked("x_log"))},
        {kMonitorShown, flag(w.Shown("t_DataLog"))},
    };
}

std::vector<std::string> RestoreOperatorSettings(MainWindow& w, const Settings& s) {
    std::vector<std::string> complaints;
    auto value = [&s](const std::string& key) -> const std::string* {
        const auto it = s.find(key);
        return it == s.end() ? nullptr : &it->second;
    };
    auto flag = [&](const std::string& key, const std::string& what) -> std::optional<bool> {
        const std::string* v = value(key);
        if (!v) return std::nullopt;
        const std::optional<bool> on = ReadFlag(*v);
        if (!on) complaints.push_back(Unusable(what, *v, "left unticked"));
        return on;
    };
    auto choose = [&](const char* list, const std::string& key, const std::string& what,
                      const std::string& instead) {
        const std::string* entry = value(key);
        if (!entry) return;
        const int at = w.FindItem(list, *entry);
        if (at >= 0)
            w.ChooseItem(list, at);
        else if (!entry->empty())
            complaints.push_back(Unusable(what, *entry, instead));
    };

    // First, so that the lines about unusable values reach the log file too.
    if (flag(kLogToFile, "\"Log to File\"").value_or(false)) w.SetChecked("x_log", true);
    choose("cboSystem", kSystem, "host system", "it is not in the list any more, none chosen");
    // The kind before the flag: choosing a kind ticks the box, and the flag may untick it.
    choose("cboResident", kResidentKind, "terminal kind", "none chosen");
    if (const std::optional<bool> loaded = flag(kResidentLoaded, "\"Resident is loaded\""))
        w.SetChecked("chkIsResidentLoaded", *loaded);
    if (const std::string* delay = value(kChunkDelay)) {
        if (const std::optional<int> ms = ReadDelay(*delay))
            w.SetText("t_blockdelay", std::to_string(*ms));
        else
            complaints.push_back(
                Unusable("chunk delay", *delay,
                         "not 0 to 1000 ms, " + std::to_string(w.ChunkDelay()) + " kept"));
    }
    if (const std::string* entry = value(kPort)) {
        if (Trimmed(*entry).empty()) {
            complaints.push_back(Unusable("port entry", *entry, w.Text("c_ports") + " kept"));
        } else {
            const int at = w.FindItem("c_ports", *entry);
            if (at >= 0) {
                w.ChooseItem("c_ports", at);
            } else {
                // A typed entry, as it was left.
                SendMessageW(w.Control("c_ports"), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
                w.SetText("c_ports", *entry);
                w.c_ports_Change(*entry);
            }
        }
    }
    if (flag(kMonitorShown, "\"monitor shown\"").value_or(false) && !w.Shown("t_DataLog"))
        w.b_ShowMonitor_Click();

    // After "Log to File" in the engine's order of calls, so the file has them too.
    for (const std::string& line : complaints)
        w.Channel().Post([line](Engine& e) { LogComm(e, line, "", false); });
    return complaints;
}

}  // namespace corvane::win32

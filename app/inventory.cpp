#include "app/inventory.h"

#include <stdexcept>

#include "links/host_connection.h"

namespace corvane::inventory {

namespace {

using K = Kind;

// Visible, enabled, plain, outside the monitor panel, unless a field says otherwise.
Control C(std::string_view name, Kind kind, std::string_view inside, std::string_view caption,
          int l, int t, int w, int h) {
    return Control{name, kind, inside, caption, l, t, w, h};
}

Control Monitor(Control c) {
    c.visible = false;
    c.monitor = true;
    return c;
}

std::vector<Control> Build() {
    std::vector<Control> v;
    auto frame = [&](std::string_view name, std::string_view title, int l, int t, int w, int h) {
        Control c = C(name, K::Frame, {}, title, l, t, w, h);
        c.font = Font::Bold;
        v.push_back(c);
    };
    // The trailing blanks of two titles are as designed.
    frame("frame(0)", "Communications Port Setting ", 60, 60, 5655, 705);
    frame("frame(1)", "PLATO Network Connection", 60, 765, 5655, 2040);
    frame("frame(2)", "IST Resident Loading Status ", 60, 2805, 5655, 1005);

    // Frame 0: the port entry and the start and stop buttons.
    v.push_back(C("c_ports", K::EditCombo, "frame(0)", {}, 120, 255, 3315, 315));
    v.push_back(C("pic", K::Panel, "frame(0)", {}, 3450, 255, 765, 315));
    Control start = C("b_start", K::Button, "pic", "\u25B6", 0, 0, 375, 315);
    start.toolTip = "Start";
    v.push_back(start);
    Control stop = C("b_stop", K::Button, "pic", "\u25A0", 390, 0, 375, 315);
    stop.toolTip = "Stop";
    stop.enabled = false;  // the load handler disables it
    v.push_back(stop);

    // Frame 1: host system and link status.
    v.push_back(C("lblSystem", K::Label, "frame(1)", "System:", 135, 345, 660, 225));
    v.push_back(C("cboSystem", K::ListCombo, "frame(1)", {}, 1200, 285, 4350, 345));
    v.push_back(C("label(1)", K::Label, "frame(1)", "Terminal:", 120, 720, 780, 225));
    v.push_back(C("l_terminal", K::DisplayLabel, "frame(1)", {}, 1200, 690, 2220, 285));
    v.push_back(C("label(0)", K::Label, "frame(1)", "Host:", 120, 1035, 435, 225));
    v.push_back(C("l_host", K::DisplayLabel, "frame(1)", {}, 1200, 1005, 2220, 285));
    v.push_back(C("label(2)", K::Label, "frame(1)", "Port:", 120, 1350, 375, 225));
    v.push_back(C("l_socket", K::DisplayLabel, "frame(1)", {}, 1200, 1320, 2220, 285));
    v.push_back(C("label(4)", K::Label, "frame(1)", "URL:", 120, 1665, 420, 225));
    v.push_back(C("l_url", K::DisplayLabel, "frame(1)", {}, 1200, 1635, 2220, 285));
    v.push_back(C("label(5)", K::Label, "frame(1)", "Login mode:", 3495, 720, 1035, 225));
    v.push_back(C("l_loginMode", K::DisplayLabel, "frame(1)", {}, 4590, 690, 960, 285));
    v.push_back(C("label(6)", K::Label, "frame(1)", "Milestone:", 3495, 1665, 840, 225));
    v.push_back(C("l_milestone", K::DisplayLabel, "frame(1)", {}, 4590, 1635, 960, 285));
    v.push_back(C("label(8)", K::Label, "frame(1)", "COM", 3570, 1065, 405, 225));
    v.push_back(C("status_RS232", K::Lamp, "frame(1)", {}, 3660, 1290, 255, 255));
    v.push_back(C("label(9)", K::Label, "frame(1)", "SSL", 4125, 1065, 345, 225));
    v.push_back(C("status_SSL", K::Lamp, "frame(1)", {}, 4170, 1290, 255, 255));
    v.push_back(C("label(10)", K::Label, "frame(1)", "MILE", 4860, 1065, 405, 225));
    v.push_back(C("mile_RS232", K::SmallLamp, "frame(1)", "\u2022", 4770, 1290, 255, 255));
    v.push_back(C("Mile_SSL", K::SmallLamp, "frame(1)", "\u2022", 5115, 1290, 255, 255));

    // Frame 2: resident loading.
    v.push_back(C("chkIsResidentLoaded", K::CheckBox, "frame(2)", "Resident is loaded", 120, 300,
                  1890, 225));
    Control resident = C("cboResident", K::ListCombo, "frame(2)", {}, 2070, 240, 1350, 345);
    resident.enabled = false;  // usable once the box above is checked
    v.push_back(resident);
    v.push_back(C("label(11)", K::Label, "frame(2)", "Chunk delay:", 3615, 615, 1065, 225));
    v.push_back(C("t_blockdelay", K::TextBox, "frame(2)", "385", 4740, 570, 510, 330));
    Control steps = C("ud_blockdelay", K::UpDown, "frame(2)", {}, 5265, 585, 285, 285);
    steps.maximum = 1000;
    v.push_back(steps);
    // The loader's status line takes the free width up to "Chunk delay:" so that its longest
    // text ("LOADING FILE nn BLOCK bb BYTE hhhh") can be read in the fixed font.
    Control status = C("label(3)", K::Label, "frame(2)", "HOST NOT CONNECTED", 120, 675, 3435, 180);
    status.enabled = false;
    status.font = Font::SmallFixed;
    v.push_back(status);

    // The left column below the frames.
    v.push_back(C("x_log", K::CheckBox, {}, "Log to File", 45, 3855, 1335, 255));
    v.push_back(C("b_host", K::Button, {}, "to Host", 3090, 3885, 990, 285));
    v.push_back(C("t_host", K::TextBox, {}, "0D", 4140, 3885, 1575, 285));
    v.push_back(C("b_term", K::Button, {}, "to Term", 3090, 4245, 990, 285));
    v.push_back(C("t_term", K::TextBox, {}, "0D", 4140, 4245, 1575, 285));
    v.push_back(C("b_ShowMonitor", K::Button, {}, "Show monitor >>", 4140, 4605, 1575, 330));

    // The monitor panel: placed on the window itself, hidden until the operator shows it.
    Control comm = Monitor(C("t_CommLog", K::LogPane, {}, {}, 5820, 135, 2415, 4065));
    comm.font = Font::SmallFixed;
    v.push_back(comm);
    Control data = Monitor(C("t_DataLog", K::LogPane, {}, {}, 8265, 135, 5775, 4065));
    data.font = Font::SmallFixed;
    v.push_back(data);
    v.push_back(Monitor(C("label(7)", K::Label, {}, "Skip:", 5805, 4635, 405, 225)));
    v.push_back(Monitor(C("t_skip", K::TextBox, {}, "0", 6255, 4605, 375, 285)));
    v.push_back(Monitor(C("t_bytes", K::TextBox, {}, {}, 12120, 4605, 1095, 285)));
    v.push_back(Monitor(C("status", K::StatusBox, {}, {}, 13260, 4605, 255, 285)));
    v.push_back(Monitor(C("l_ports", K::DisplayLabel, {}, "12", 13560, 4605, 495, 285)));
    return v;
}

}  // namespace

const std::vector<Control>& Controls() {
    static const std::vector<Control> controls = Build();
    return controls;
}

const Control& Find(std::string_view name) {
    for (const Control& c : Controls()) {
        if (c.name == name) return c;
    }
    throw std::out_of_range("no control named " + std::string(name));
}

std::vector<std::string> Items(std::string_view name) {
    if (name == "c_ports") {
        std::vector<std::string> entries;
        for (int n = 1; n <= 20; ++n) entries.push_back("com" + std::to_string(n) + ":2400,e,7,1");
        return entries;
    }
    if (name == "cboResident") return {"IST-I", "IST-II", "IST-III", "Viking"};
    if (name == "cboSystem") return SystemPresets();
    return {};
}

int CollapsedWidth() {
    const Control& f0 = Find("frame(0)");
    return f0.left + f0.width + f0.left;
}

int ExpandedWidth() {
    const Control& data = Find("t_DataLog");
    return data.left + data.width + Find("frame(0)").left;
}

}  // namespace corvane::inventory

// The window's controls as data: each control's name, kind, container, caption, design
// geometry and starting state, described once. Both windows (Qt on Linux, Win32 on Windows)
// build their controls from this list; nothing here knows a toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::inventory {

// What a control holds and how it is drawn.
enum class Kind {
    Frame,         // a titled group
    Panel,         // a plain container without a frame
    Button,        // a push button
    Label,         // a caption
    DisplayLabel,  // a caption shown pale yellow, bordered and centred
    Lamp,          // a bordered label without text whose colour is a link's state
    SmallLamp,     // a bordered yellow label with a centred mark
    StatusBox,     // a bordered red label without text
    EditCombo,     // a drop-down list whose text can be typed
    ListCombo,     // a drop-down list, not editable
    CheckBox,
    TextBox,  // a one-line edit box
    UpDown,   // a spin control
    LogPane,  // a multi-line, read-only, pale yellow pane in the small fixed font
};

enum class Font {
    Plain,       // the window's default: Arial 9 pt
    Bold,        // the frames' titles: Arial 9 pt bold
    SmallFixed,  // the log panes and the loader's status line: a small fixed-pitch bold font
};

struct Rgb {
    std::uint8_t r, g, b;
};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kYellow{255, 255, 0};
constexpr Rgb kPaleYellow{255, 255, 192};

struct Control {
    std::string_view name;  // as the code names it: "label(3)", "c_ports"
    Kind kind;
    std::string_view inside;       // the container's name; empty for the window itself
    std::string_view caption;      // UTF-8; a button's glyph, a frame's title, a box's text
    int left, top, width, height;  // design geometry in twips, relative to the container
    bool visible = true;
    bool enabled = true;
    bool monitor = false;  // one of the monitor panel, shown and hidden as one
    Font font = Font::Plain;
    std::string_view toolTip = {};
    int minimum = 0, maximum = 0;  // an up-down's range
};

// The window: its title and its fixed client area in twips, as laid out, collapsed (after
// loading) and with the monitor panel shown.
constexpr std::string_view kTitle = "Corvane";
constexpr int kClientWidth = 14130;
constexpr int kClientHeight = 4995;
// The twips of one pixel at 96 dots per inch; a view scales by its own dots per inch.
constexpr int kTwipsPerInch = 1440;

// Every control, containers before their contents.
const std::vector<Control>& Controls();
// The control of that name; throws std::out_of_range for a name not in the list.
const Control& Find(std::string_view name);

// The items a list starts with: c_ports' twenty entries (the first selected), cboResident's
// terminal kinds; cboSystem's are the engine's presets. Empty for any other control.
std::vector<std::string> Items(std::string_view name);

// The client width collapsed (the left column and its margin) and expanded (up to the data
// pane's right edge and the same margin).
int CollapsedWidth();
int ExpandedWidth();

// Design twips in pixels at a screen's dots per inch (96 gives 15 twips to a pixel).
constexpr int Pixels(int twips, int dpi = 96) { return twips * dpi / kTwipsPerInch; }

}  // namespace corvane::inventory

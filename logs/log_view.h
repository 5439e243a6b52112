// One rolling log pane: the last `Capacity` lines, joined into Lines[0] for the pane.
#pragma once

#include <string>
#include <vector>

namespace corvane {

struct LogView {
    int Count = 0;
    int Capacity = 30;
    int Shown = 0;
    std::vector<std::string> Lines = std::vector<std::string>(41);
};

}  // namespace corvane

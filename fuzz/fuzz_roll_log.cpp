// The rolling list of a log pane: after every new line it holds the last 30 lines in order,
// never more, and line 0 is all of them, each followed by CR LF; the pane shows the same lines,
// each followed by a line feed.
#include <deque>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "logs/comm_log.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

// The text cut at every line feed, empty lines included.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(text.substr(from, at - from));
    lines.push_back(text.substr(from));
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Byte 0 repeats the lines, so short inputs roll the list over too.
    const int rounds = 1 + data[0] % 8;
    const std::vector<std::string> lines = Lines(BytesOf(data + 1, size - 1));
    const std::string crlf("\r\n");

    LogView view;
    std::deque<std::string> model;
    // Enough lines to roll over several times; more only slow the fuzzer down.
    int budget = 200;
    for (int round = 0; round < rounds; ++round) {
        for (const std::string& line : lines) {
            if (budget-- == 0) return 0;
            RollLogView(view, line, crlf);
            model.push_back(line);
            if (model.size() > 30) model.pop_front();

            FUZZ_CHECK(view.Capacity == 30);
            FUZZ_CHECK(view.Count == static_cast<int>(model.size()));
            FUZZ_CHECK(view.Shown == view.Count);
            FUZZ_CHECK(view.Lines.size() == 41);
            std::string joined;
            std::string pane;
            for (size_t i = 0; i < model.size(); ++i) {
                FUZZ_CHECK(view.Lines[i + 1] == model[i]);
                joined += model[i] + crlf;
                pane += model[i] + '\n';
            }
            FUZZ_CHECK(view.Lines[0] == joined);
            FUZZ_CHECK(PaneText(view) == pane);
        }
    }
    return 0;
}

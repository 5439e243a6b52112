// The rolling list of a log pane: after every new line it holds the last 30 lines in order,
// never more, and line 0 is all of them, each followed by CR LF.
#include <deque>

#include "app/w_host.h"
#include "fuzz/fuzz_check.h"
#include "logs/comm_log.h"

using namespace corvane;
using namespace corvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Byte 0 repeats the lines, so short inputs roll the list over too.
    const int rounds = 1 + data[0] % 8;
    const QStringList lines = TextOf(data + 1, size - 1).split(u'\n');
    const QByteArray crlf("\r\n");

    LogView view;
    std::deque<QString> model;
    // Enough lines to roll over several times; more only slow the fuzzer down.
    int budget = 200;
    for (int round = 0; round < rounds; ++round) {
        for (const QString& line : lines) {
            if (budget-- == 0) return 0;
            RollLogView(view, line, crlf);
            model.push_back(line);
            if (model.size() > 30) model.pop_front();

            FUZZ_CHECK(view.Capacity == 30);
            FUZZ_CHECK(view.Count == static_cast<int>(model.size()));
            FUZZ_CHECK(view.Shown == view.Count);
            FUZZ_CHECK(view.Lines.size() == 41);
            QString joined;
            for (size_t i = 0; i < model.size(); ++i) {
                FUZZ_CHECK(view.Lines[static_cast<qsizetype>(i) + 1] == model[i]);
                joined += model[i] + QStringLiteral("\r\n");
            }
            FUZZ_CHECK(view.Lines[0] == joined);
        }
    }
    return 0;
}

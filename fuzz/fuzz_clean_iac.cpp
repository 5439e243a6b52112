// The 0xFF pair rule of host data, split into events at chosen points: CleanIac carried across
// the pieces equals a plain model of the rule over the whole stream, and the window's data
// event (where a piece without 0xFF passes untouched and keeps the pending 0xFF) equals a model
// of the event rule.
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "app/w_host.h"
#include "fuzz/fuzz_check.h"
#include "relay/host_data.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

constexpr char kIac = '\xFF';

// The pair rule over one stream: of each two 0xFF in a row one goes through; a 0xFF followed
// by anything else (or by the end of the stream) is dropped.
struct PairModel {
    bool pending = false;
    QByteArray out;
    void Take(char c) {
        if (c != kIac) {
            pending = false;
            out.append(c);
        } else if (pending) {
            pending = false;
            out.append(kIac);
        } else {
            pending = true;
        }
    }
};

// One window for the whole run; only its data event is used, the event loop never runs.
WHost& Window() {
    static int argc = 1;
    static char name[] = "fuzz_clean_iac";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    static QTemporaryDir* dir = new QTemporaryDir;
    static WHost* w = new WHost(dir->path());
    Q_UNUSED(app);
    return *w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Byte 0: bit 7 the pending state at the start, bit 6 the "novanet" system, bits 0-2 the
    // number of cuts; then one byte per cut; then the host's bytes.
    const bool startPending = data[0] & 0x80;
    const bool novanet = data[0] & 0x40;
    const size_t cutCount = std::min<size_t>(data[0] & 7, size - 1);
    const QByteArray stream = BytesOf(data + 1 + cutCount, size - 1 - cutCount);
    std::vector<qsizetype> cuts{0, stream.size()};
    for (size_t i = 0; i < cutCount; ++i) cuts.push_back(data[1 + i] % (stream.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::vector<QByteArray> pieces;
    for (size_t i = 0; i + 1 < cuts.size(); ++i)
        pieces.push_back(stream.mid(cuts[i], cuts[i + 1] - cuts[i]));

    // CleanIac on every piece, whatever it holds, is the pair rule over the whole stream.
    PairModel whole;
    whole.pending = startPending;
    for (char c : stream) whole.Take(c);
    bool pending = startPending;
    QByteArray cleaned;
    for (const QByteArray& piece : pieces) cleaned += CleanIac(piece, pending);
    FUZZ_CHECK(cleaned == whole.out);
    FUZZ_CHECK(pending == whole.pending);
    FUZZ_CHECK(cleaned.size() <= stream.size());
    FUZZ_CHECK(QByteArray(cleaned).replace(kIac, QByteArray()) ==
               QByteArray(stream).replace(kIac, QByteArray()));

    // The data event: "novanet" takes everything as it came; other systems clean only the
    // events that hold a 0xFF.
    PairModel events;
    events.pending = startPending;
    for (const QByteArray& piece : pieces) {
        if (novanet || !piece.contains(kIac))
            events.out += piece;
        else
            for (char c : piece) events.Take(c);
    }
    WHost& w = Window();
    w.l_host->setText(novanet ? QStringLiteral("novanet") : QStringLiteral("Ludric"));
    w.sToTerminal.clear();
    w.bIacPending = startPending;
    for (const QByteArray& piece : pieces) SSL_DataIn(w, piece, false);
    FUZZ_CHECK(w.sToTerminal == events.out);
    FUZZ_CHECK(w.bIacPending == events.pending);
    return 0;
}

// The 0xFF pair rule of host data, split into events at chosen points: CleanIac carried across
// the pieces equals a plain model of the rule over the whole stream, and the engine's data
// event (where a piece without 0xFF passes untouched and keeps the pending 0xFF) equals a model
// of the event rule.
#include <algorithm>
#include <asio/io_context.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "links/engine.h"
#include "relay/host_data.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

constexpr char kIac = '\xFF';

// The pair rule over one stream: of each two 0xFF in a row one goes through; a 0xFF followed
// by anything else (or by the end of the stream) is dropped.
struct PairModel {
    bool pending = false;
    std::string out;
    void Take(char c) {
        if (c != kIac) {
            pending = false;
            out.push_back(c);
        } else if (pending) {
            pending = false;
            out.push_back(kIac);
        } else {
            pending = true;
        }
    }
};

// One engine for the whole run; only its data event is used, its io_context never runs and
// nothing is written to its folder.
Engine& TheEngine() {
    struct Rig {
        asio::io_context io;
        Engine e{io, std::filesystem::temp_directory_path().string()};
    };
    static Rig rig;
    return rig.e;
}

std::string WithoutIac(std::string s) {
    std::erase(s, kIac);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Byte 0: bit 7 the pending state at the start, bit 6 the "novanet" system, bits 0-2 the
    // number of cuts; then one byte per cut; then the host's bytes.
    const bool startPending = data[0] & 0x80;
    const bool novanet = data[0] & 0x40;
    const size_t cutCount = std::min<size_t>(data[0] & 7, size - 1);
    const std::string stream = BytesOf(data + 1 + cutCount, size - 1 - cutCount);
    std::vector<size_t> cuts{0, stream.size()};
    for (size_t i = 0; i < cutCount; ++i) cuts.push_back(data[1 + i] % (stream.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::string> pieces;
    for (size_t i = 0; i + 1 < cuts.size(); ++i)
        pieces.push_back(stream.substr(cuts[i], cuts[i + 1] - cuts[i]));

    // CleanIac on every piece, whatever it holds, is the pair rule over the whole stream.
    PairModel whole;
    whole.pending = startPending;
    for (char c : stream) whole.Take(c);
    bool pending = startPending;
    std::string cleaned;
    for (const std::string& piece : pieces) cleaned += CleanIac(piece, pending);
    FUZZ_CHECK(cleaned == whole.out);
    FUZZ_CHECK(pending == whole.pending);
    FUZZ_CHECK(cleaned.size() <= stream.size());
    FUZZ_CHECK(WithoutIac(cleaned) == WithoutIac(stream));

    // The data event: "novanet" takes everything as it came; other systems clean only the
    // events that hold a 0xFF.
    PairModel events;
    events.pending = startPending;
    for (const std::string& piece : pieces) {
        if (novanet || piece.find(kIac) == std::string::npos)
            events.out += piece;
        else
            for (char c : piece) events.Take(c);
    }
    Engine& e = TheEngine();
    e.Show().hostName = novanet ? "novanet" : "Ludric";
    e.sToTerminal.clear();
    e.bIacPending = startPending;
    for (const std::string& piece : pieces) SSL_DataIn(e, piece, false);
    FUZZ_CHECK(e.sToTerminal == events.out);
    FUZZ_CHECK(e.bIacPending == events.pending);
    return 0;
}

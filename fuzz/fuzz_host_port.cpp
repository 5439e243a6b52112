// The port field of a host entry: a port in 1..65535 exactly when the field is digits with
// blanks around them worth that much; otherwise no port and a reason.
#include <algorithm>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "links/host_connection.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

// Blanks are ASCII: a no-break space or any other letter around the digits is no port.
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<int> Reference(const std::string& field) {
    size_t first = 0;
    size_t last = field.size();
    while (first < last && Blank(field[first])) ++first;
    while (last > first && Blank(field[last - 1])) --last;
    if (first == last) return std::nullopt;
    long long value = 0;
    for (size_t i = first; i < last; ++i) {
        const char c = field[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min<long long>(value * 10 + (c - '0'), 1'000'000);
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string field = BytesOf(data, size);
    std::string why;
    const std::optional<int> port = HostPortOf(field, &why);
    FUZZ_CHECK(port == Reference(field));
    if (port) {
        FUZZ_CHECK(*port >= 1 && *port <= 65535);
        FUZZ_CHECK(why.empty());
        FUZZ_CHECK(HostPortOf(" " + std::to_string(*port) + "\t") == port);
    } else {
        FUZZ_CHECK(!why.empty());
    }
    // A whole host entry: its third field is the port field.
    const std::string entry = "name:127.0.0.1:" + field;
    if (std::count(entry.begin(), entry.end(), ':') == 2)
        FUZZ_CHECK(HostPortOf(entry.substr(entry.rfind(':') + 1)) == port);
    return 0;
}

// Line settings texts: what is read is within the documented ranges, its text form reads back
// as the same settings, and a text that is refused always comes with a reason.
#include <algorithm>
#include <string>

#include "fuzz/fuzz_check.h"
#include "links/line_settings.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

long Commas(const std::string& text) { return std::count(text.begin(), text.end(), ','); }

void CheckRoundTrip(const LineSettings& s) {
    const std::string text = FormatLineSettings(s);
    std::string why;
    const std::optional<LineSettings> again = ParseLineSettings(text, &why);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == s);
    FUZZ_CHECK(FormatLineSettings(*again) == text);
    FUZZ_CHECK(Commas(text) == 3 && text.find(' ') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = BytesOf(data, size);
    std::string why;
    const std::optional<LineSettings> s = ParseLineSettings(text, &why);
    if (!s) {
        FUZZ_CHECK(!why.empty());
    } else {
        FUZZ_CHECK(s->baud >= 50 && s->baud <= 4000000);
        FUZZ_CHECK(s->dataBits >= 5 && s->dataBits <= 8);
        FUZZ_CHECK(s->stopHalves >= 2 && s->stopHalves <= 4);
        FUZZ_CHECK(Commas(text) == 3);
        CheckRoundTrip(*s);
    }

    // Settings built from the bytes: a rate that reads back is written back the same.
    if (size >= 4) {
        LineSettings built;
        built.baud = (data[0] << 8 | data[1]) * 50;
        built.parity = static_cast<Parity>(data[2] % 5);
        built.dataBits = 5 + data[3] % 4;
        built.stopHalves = 2 + data[3] / 4 % 3;
        if (ParseLineSettings(std::to_string(built.baud) + ",n,8,1")) CheckRoundTrip(built);
    }
    return 0;
}

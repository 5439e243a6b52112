// The port field of a host entry: a port in 1..65535 exactly when the field is digits with
// blanks around them worth that much; otherwise no port and a reason.
#include <QStringList>

#include "fuzz/fuzz_check.h"
#include "links/host_connection.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

std::optional<int> Reference(const QString& field) {
    qsizetype first = 0;
    qsizetype last = field.size();
    while (first < last && field[first].isSpace()) ++first;
    while (last > first && field[last - 1].isSpace()) --last;
    if (first == last) return std::nullopt;
    long long value = 0;
    for (qsizetype i = first; i < last; ++i) {
        const char16_t u = field[i].unicode();
        if (u < u'0' || u > u'9') return std::nullopt;
        value = std::min<long long>(value * 10 + (u - u'0'), 1'000'000);
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString field = TextOf(data, size);
    QString why;
    const std::optional<int> port = HostPortOf(field, &why);
    FUZZ_CHECK(port == Reference(field));
    if (port) {
        FUZZ_CHECK(*port >= 1 && *port <= 65535);
        FUZZ_CHECK(why.isEmpty());
        FUZZ_CHECK(HostPortOf(QStringLiteral(" ") + QString::number(*port) + u'\t') == port);
    } else {
        FUZZ_CHECK(!why.isEmpty());
    }
    // A whole host entry: its third field is the port field.
    const QStringList fields = (QStringLiteral("name:127.0.0.1:") + field).split(u':');
    if (fields.size() == 3) FUZZ_CHECK(HostPortOf(fields[2]) == port);
    return 0;
}

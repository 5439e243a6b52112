// The hex byte line of the send rows: any text is read exactly as a plain reading of the
// grammar says, and bytes written as a hex line read back as the same bytes.
#include <QStringList>

#include "app/monitor_panel.h"
#include "fuzz/fuzz_check.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// Tokens at single blanks; each one or more hex digits (leading zeros allowed) worth 0..FF.
std::optional<QByteArray> Reference(const QString& text) {
    QByteArray bytes;
    if (text.isEmpty()) return bytes;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u' ') ++end;
        if (end == start) return std::nullopt;
        qsizetype first = start;
        while (first < end - 1 && text[first] == u'0') ++first;
        int value = 0;
        for (qsizetype i = start; i < end; ++i)
            if (HexDigit(text[i]) < 0) return std::nullopt;
        if (end - first > 2) return std::nullopt;
        for (qsizetype i = first; i < end; ++i) value = value * 16 + HexDigit(text[i]);
        bytes.append(static_cast<char>(value));
        if (end == text.size()) return bytes;
        start = end + 1;
    }
}

QString HexLine(const QByteArray& bytes, bool upper, bool padded) {
    QStringList tokens;
    for (char c : bytes) {
        QString t = QString::number(static_cast<unsigned char>(c), 16);
        if (padded && t.size() < 2) t.prepend(u'0');
        tokens << (upper ? t.toUpper() : t);
    }
    return tokens.join(u' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = TextOf(data, size);
    const std::optional<QByteArray> parsed = ParseHexLine(text);
    const std::optional<QByteArray> expected = Reference(text);
    FUZZ_CHECK(parsed.has_value() == expected.has_value());
    if (parsed) {
        FUZZ_CHECK(*parsed == *expected);
        FUZZ_CHECK(ParseHexLine(HexLine(*parsed, false, true)) == parsed);
        FUZZ_CHECK(ParseHexLine(HexLine(*parsed, true, false)) == parsed);
    }

    // Every byte value survives the way out and back.
    const QByteArray raw = BytesOf(data, size);
    FUZZ_CHECK(ParseHexLine(HexLine(raw, size % 2 == 0, size % 3 == 0)) == raw);
    return 0;
}

#include "links/line_settings.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace corvane {

namespace {

// The rates termios names on Linux (B50 .. B4000000); "134" stands for 134.5 baud.
constexpr std::array<int, 30> kRates = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

bool AllDigits(const QString& s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

std::optional<LineSettings> Fail(QString* why, const QString& reason) {
    if (why) *why = reason;
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(const QString& text, QString* why) {
    if (text.trimmed().isEmpty())
        return Fail(why, QStringLiteral("no line settings given (expected e.g. \"2400,e,7,1\")"));

    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return Fail(why, QStringLiteral("\"%1\" has %2 field(s); line settings are baud rate, "
                                        "parity, data bits and stop bits, e.g. \"2400,e,7,1\"")
                             .arg(text)
                             .arg(fields.size()));

    const QString baudText = fields[0].trimmed();
    const QString parityText = fields[1].trimmed();
    const QString dataText = fields[2].trimmed();
    const QString stopText = fields[3].trimmed();

    LineSettings s;

    if (baudText.isEmpty()) return Fail(why, QStringLiteral("the baud rate is missing"));
    if (!AllDigits(baudText))
        return Fail(why, QStringLiteral("baud rate \"%1\" is not a number").arg(baudText));
    bool ok = false;
    const qlonglong baud = baudText.toLongLong(&ok);
    if (!ok || baud <= 0 || std::find(kRates.begin(), kRates.end(), baud) == kRates.end())
        return Fail(why, QStringLiteral("baud rate %1 is not supported (standard rates 50 to "
                                        "4000000, e.g. 1200, 2400, 9600)")
                             .arg(baudText));
    s.baud = static_cast<int>(baud);

    if (parityText.isEmpty()) return Fail(why, QStringLiteral("the parity letter is missing"));
    if (parityText.size() != 1)
        return Fail(why,
                    QStringLiteral("parity \"%1\" is not one of n, e, o, m, s").arg(parityText));
    switch (parityText[0].toLower().toLatin1()) {
        case 'n':
            s.parity = Parity::None;
            break;
        case 'e':
            s.parity = Parity::Even;
            break;
        case 'o':
            s.parity = Parity::Odd;
            break;
        case 'm':
            s.parity = Parity::Mark;
            break;
        case 's':
            s.parity = Parity::Space;
            break;
        default:
            return Fail(
                why, QStringLiteral("parity \"%1\" is not one of n, e, o, m, s").arg(parityText));
    }

    if (dataText.isEmpty()) return Fail(why, QStringLiteral("the number of data bits is missing"));
    if (dataText.size() != 1 || dataText[0] < QLatin1Char('5') || dataText[0] > QLatin1Char('8'))
        return Fail(why, QStringLiteral("data bits \"%1\" must be 5, 6, 7 or 8").arg(dataText));
    s.dataBits = dataText[0].toLatin1() - '0';

    if (stopText.isEmpty()) return Fail(why, QStringLiteral("the number of stop bits is missing"));
    if (stopText == QLatin1String("1"))
        s.stopHalves = 2;
    else if (stopText == QLatin1String("1.5"))
        s.stopHalves = 3;
    else if (stopText == QLatin1String("2"))
        s.stopHalves = 4;
    else
        return Fail(why, QStringLiteral("stop bits \"%1\" must be 1, 1.5 or 2").arg(stopText));

    return s;
}

QString FormatLineSettings(const LineSettings& settings) {
    QChar parity;
    switch (settings.parity) {
        case Parity::None:
            parity = QLatin1Char('n');
            break;
        case Parity::Even:
            parity = QLatin1Char('e');
            break;
        case Parity::Odd:
            parity = QLatin1Char('o');
            break;
        case Parity::Mark:
            parity = QLatin1Char('m');
            break;
        case Parity::Space:
            parity = QLatin1Char('s');
            break;
    }
    QString stop;
    switch (settings.stopHalves) {
        case 3:
            stop = QStringLiteral("1.5");
            break;
        case 4:
            stop = QStringLiteral("2");
            break;
        default:
            stop = QStringLiteral("1");
            break;
    }
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.baud)
        .arg(parity)
        .arg(settings.dataBits)
        .arg(stop);
}

}  // namespace corvane

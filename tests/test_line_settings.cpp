#include <gtest/gtest.h>

#include "links/line_settings.h"

using corvane::FormatLineSettings;
using corvane::LineSettings;
using corvane::Parity;
using corvane::ParseLineSettings;

TEST(LineSettings, ReadsTheTwoSettingsTheProgramUses) {
    const auto even = ParseLineSettings(QStringLiteral("2400,e,7,1"));
    ASSERT_TRUE(even.has_value());
    EXPECT_EQ(even->baud, 2400);
    EXPECT_EQ(even->parity, Parity::Even);
    EXPECT_EQ(even->dataBits, 7);
    EXPECT_EQ(even->stopHalves, 2);

    const auto odd = ParseLineSettings(QStringLiteral("2400,o,8,1"));
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->parity, Parity::Odd);
    EXPECT_EQ(odd->dataBits, 8);
}

TEST(LineSettings, ReadsEveryParityEitherCaseStopBitsAndBlanks) {
    const std::pair<const char*, Parity> parities[] = {{"n", Parity::None},  {"E", Parity::Even},
                                                       {"o", Parity::Odd},   {"M", Parity::Mark},
                                                       {"s", Parity::Space}, {"N", Parity::None}};
    for (const auto& [letter, parity] : parities) {
        const auto s = ParseLineSettings(QStringLiteral("9600,%1,8,1").arg(QLatin1String(letter)));
        ASSERT_TRUE(s.has_value()) << letter;
        EXPECT_EQ(s->parity, parity) << letter;
    }
    EXPECT_EQ(ParseLineSettings(QStringLiteral("300,n,5,1.5"))->stopHalves, 3);
    EXPECT_EQ(ParseLineSettings(QStringLiteral("300,n,6,2"))->stopHalves, 4);
    const auto blanks = ParseLineSettings(QStringLiteral(" 1200 , e , 7 , 2 "));
    ASSERT_TRUE(blanks.has_value());
    EXPECT_EQ(*blanks, (LineSettings{1200, Parity::Even, 7, 4}));
    EXPECT_TRUE(ParseLineSettings(QStringLiteral("50,n,8,1")).has_value());
    EXPECT_TRUE(ParseLineSettings(QStringLiteral("4000000,n,8,1")).has_value());
    EXPECT_TRUE(ParseLineSettings(QStringLiteral("115200,n,8,1")).has_value());
}

TEST(LineSettings, FormatsAndReadsBack) {
    EXPECT_EQ(FormatLineSettings(LineSettings{2400, Parity::Even, 7, 2}),
              QStringLiteral("2400,e,7,1"));
    EXPECT_EQ(FormatLineSettings(LineSettings{2400, Parity::Odd, 8, 2}),
              QStringLiteral("2400,o,8,1"));
    EXPECT_EQ(FormatLineSettings(LineSettings{110, Parity::Mark, 5, 3}),
              QStringLiteral("110,m,5,1.5"));
    EXPECT_EQ(FormatLineSettings(LineSettings{19200, Parity::Space, 6, 4}),
              QStringLiteral("19200,s,6,2"));
    EXPECT_EQ(FormatLineSettings(LineSettings{}), QStringLiteral("9600,n,8,1"));
    for (const char* text :
         {"2400,e,7,1", "2400,o,8,1", "110,m,5,1.5", "19200,s,6,2", "9600,n,8,1"})
        EXPECT_EQ(FormatLineSettings(*ParseLineSettings(QLatin1String(text))), QLatin1String(text));
}

TEST(LineSettings, RejectsEveryBadFormWithAReason) {
    const char* bad[] = {
        "",                            // nothing
        "   ",                         // blanks only
        "2400,e,7",                    // three fields
        "2400,e,7,1,1",                // five fields
        "2400",                        // one field
        ",e,7,1",                      // empty baud
        "2400,,7,1",                   // empty parity
        "2400,e,,1",                   // empty data bits
        "2400,e,7,",                   // empty stop bits
        "abc,e,7,1",                   // baud not a number
        "-2400,e,7,1",                 // signed
        "+2400,e,7,1",                 // signed
        "0,e,7,1",                     // zero
        "2401,e,7,1",                  // not a termios rate
        "99999999999999999999,n,8,1",  // overflow
        "2400.5,e,7,1",                // fraction
        "2400,x,7,1",                  // parity letter
        "2400,even,7,1",               // parity word
        "2400,e,4,1",                  // data bits too few
        "2400,e,9,1",                  // data bits too many
        "2400,e,7x,1",                 // junk after data bits
        "2400,e,7,3",                  // stop bits
        "2400,e,7,0",                  // stop bits
        "2400,e,7,1.0",                // not one of the three forms
        "2400;e;7;1",                  // wrong separator
        "2400 e 7 1",                  // no separator
        "2400,e,7,1x",                 // junk
    };
    for (const char* text : bad) {
        QString why;
        EXPECT_FALSE(ParseLineSettings(QLatin1String(text), &why).has_value()) << text;
        EXPECT_FALSE(why.isEmpty()) << text;
    }
    EXPECT_FALSE(ParseLineSettings(QStringLiteral("2400,e,7")).has_value());  // no why given
}

TEST(LineSettings, ReasonsNameTheField) {
    QString why;
    ParseLineSettings(QStringLiteral("2401,e,7,1"), &why);
    EXPECT_TRUE(why.contains(QStringLiteral("baud"))) << why.toStdString();
    ParseLineSettings(QStringLiteral("2400,q,7,1"), &why);
    EXPECT_TRUE(why.contains(QStringLiteral("parity"))) << why.toStdString();
    ParseLineSettings(QStringLiteral("2400,e,9,1"), &why);
    EXPECT_TRUE(why.contains(QStringLiteral("data bits"))) << why.toStdString();
    ParseLineSettings(QStringLiteral("2400,e,7,3"), &why);
    EXPECT_TRUE(why.contains(QStringLiteral("stop bits"))) << why.toStdString();
}

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "links/line_settings.h"

using corvane::FormatLineSettings;
using corvane::LineSettings;
using corvane::Parity;
using corvane::ParseLineSettings;

TEST(LineSettings, ReadsTheTwoSettingsTheProgramUses) {
    const auto even = ParseLineSettings("2400,e,7,1");
    ASSERT_TRUE(even.has_value());
    EXPECT_EQ(even->baud, 2400);
    EXPECT_EQ(even->parity, Parity::Even);
    EXPECT_EQ(even->dataBits, 7);
    EXPECT_EQ(even->stopHalves, 2);

    const auto odd = ParseLineSettings("2400,o,8,1");
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->parity, Parity::Odd);
    EXPECT_EQ(odd->dataBits, 8);
}

TEST(LineSettings, ReadsEveryParityEitherCaseStopBitsAndBlanks) {
    const std::pair<const char*, Parity> parities[] = {{"n", Parity::None},  {"E", Parity::Even},
                                                       {"o", Parity::Odd},   {"M", Parity::Mark},
                                                       {"s", Parity::Space}, {"N", Parity::None}};
    for (const auto& [letter, parity] : parities) {
        const auto s = ParseLineSettings(std::string("9600,") + letter + ",8,1");
        ASSERT_TRUE(s.has_value()) << letter;
        EXPECT_EQ(s->parity, parity) << letter;
    }
    EXPECT_EQ(ParseLineSettings("300,n,5,1.5")->stopHalves, 3);
    EXPECT_EQ(ParseLineSettings("300,n,6,2")->stopHalves, 4);
    const auto blanks = ParseLineSettings(" 1200 , e , 7 , 2 ");
    ASSERT_TRUE(blanks.has_value());
    EXPECT_EQ(*blanks, (LineSettings{1200, Parity::Even, 7, 4}));
    const auto tabs = ParseLineSettings("\t2400\t,\te\t,7\r\n,1\n");
    ASSERT_TRUE(tabs.has_value());
    EXPECT_EQ(*tabs, (LineSettings{2400, Parity::Even, 7, 2}));
    EXPECT_TRUE(ParseLineSettings("50,n,8,1").has_value());
    EXPECT_TRUE(ParseLineSettings("4000000,n,8,1").has_value());
    EXPECT_TRUE(ParseLineSettings("115200,n,8,1").has_value());
}

TEST(LineSettings, FormatsAndReadsBack) {
    EXPECT_EQ(FormatLineSettings(LineSettings{2400, Parity::Even, 7, 2}), "2400,e,7,1");
    EXPECT_EQ(FormatLineSettings(LineSettings{2400, Parity::Odd, 8, 2}), "2400,o,8,1");
    EXPECT_EQ(FormatLineSettings(LineSettings{110, Parity::Mark, 5, 3}), "110,m,5,1.5");
    EXPECT_EQ(FormatLineSettings(LineSettings{19200, Parity::Space, 6, 4}), "19200,s,6,2");
    EXPECT_EQ(FormatLineSettings(LineSettings{}), "9600,n,8,1");
    for (const char* text :
         {"2400,e,7,1", "2400,o,8,1", "110,m,5,1.5", "19200,s,6,2", "9600,n,8,1"})
        EXPECT_EQ(FormatLineSettings(*ParseLineSettings(text)), text);
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
        "24 00,e,7,1",                 // a blank inside a field
    };
    for (const char* text : bad) {
        std::string why;
        EXPECT_FALSE(ParseLineSettings(text, &why).has_value()) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
    EXPECT_FALSE(ParseLineSettings("2400,e,7").has_value());  // no why given
    // A NUL inside the text is a character like any other, not its end.
    EXPECT_FALSE(ParseLineSettings(std::string("2400,e,7,1\0", 11)).has_value());
}

TEST(LineSettings, ReasonsNameTheField) {
    std::string why;
    ParseLineSettings("2401,e,7,1", &why);
    EXPECT_NE(why.find("baud"), std::string::npos) << why;
    ParseLineSettings("2400,q,7,1", &why);
    EXPECT_NE(why.find("parity"), std::string::npos) << why;
    ParseLineSettings("2400,e,9,1", &why);
    EXPECT_NE(why.find("data bits"), std::string::npos) << why;
    ParseLineSettings("2400,e,7,3", &why);
    EXPECT_NE(why.find("stop bits"), std::string::npos) << why;
    // The texts the operator sees, as they always read.
    ParseLineSettings("2400,e,7", &why);
    EXPECT_EQ(why,
              "\"2400,e,7\" has 3 field(s); line settings are baud rate, parity, data bits and "
              "stop bits, e.g. \"2400,e,7,1\"");
    ParseLineSettings("", &why);
    EXPECT_EQ(why, "no line settings given (expected e.g. \"2400,e,7,1\")");
    ParseLineSettings("1234,e,7,1", &why);
    EXPECT_EQ(why,
              "baud rate 1234 is not supported (standard rates 50 to 4000000, e.g. 1200, "
              "2400, 9600)");
}

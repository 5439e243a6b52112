// The byte-level rules of the bridge, on canned byte strings.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "links/host_connection.h"
#include "relay/host_data.h"
#include "relay/login_keys.h"
#include "relay/manual_send.h"
#include "relay/pump.h"
#include "resident/loader.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::testing;

namespace {
std::string HexDigits(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
    }
    return hex;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
        fields.push_back(text.substr(from, at - from));
    fields.push_back(text.substr(from));
    return fields;
}

// A number in 0 .. bound-1.
int Bounded(std::mt19937& rng, int bound) {
    return std::uniform_int_distribution<int>(0, bound - 1)(rng);
}

}  // namespace

TEST(HexLine, ReadsTokensSeparatedByBlanks) {
    EXPECT_EQ(ParseHexLine("0D"), Bytes({0x0D}));
    EXPECT_EQ(ParseHexLine("1b 77 63"), Bytes({0x1B, 0x77, 0x63}));
    EXPECT_EQ(ParseHexLine("00FF"), Bytes({0xFF}));
    EXPECT_EQ(ParseHexLine("0 a Ff"), Bytes({0x00, 0x0A, 0xFF}));
    EXPECT_EQ(ParseHexLine(""), std::string());
}

TEST(HexLine, RefusesTheWholeLineOnABadToken) {
    for (const char* bad :
         {"1b  77", " 0D", "0D ", "0G", "100", "0D\t0A", "x", "-1", "+1", "0x0D", "\uFF11"}) {
        EXPECT_FALSE(ParseHexLine(bad).has_value()) << bad;
    }
}

TEST(IacCleaning, FollowsThePairRule) {
    struct Case {
        std::string in, out;
        bool pendingAfter;
    };
    const Case cases[] = {
        {Bytes({0x41, 0x42}), Bytes({0x41, 0x42}), false},
        {Bytes({0xFF, 0xFF}), Bytes({0xFF}), false},
        {Bytes({0xFF, 0xFF, 0xFF, 0xFF}), Bytes({0xFF, 0xFF}), false},
        {Bytes({0xFF, 0x41}), Bytes({0x41}), false},
        {Bytes({0x41, 0xFF}), Bytes({0x41}), true},
        {Bytes({0xFF, 0xFF, 0xFF, 0x41}), Bytes({0xFF, 0x41}), false},
    };
    for (const Case& c : cases) {
        bool pending = false;
        EXPECT_EQ(CleanIac(c.in, pending), c.out) << HexDigits(c.in);
        EXPECT_EQ(pending, c.pendingAfter) << HexDigits(c.in);
    }
}

TEST(IacCleaning, CarriesAnUnpairedFFIntoTheNextEvent) {
    bool pending = false;
    EXPECT_EQ(CleanIac(Bytes({0x41, 0xFF}), pending), Bytes({0x41}));
    EXPECT_EQ(CleanIac(Bytes({0xFF, 0x42}), pending), Bytes({0xFF, 0x42}));
    EXPECT_FALSE(pending);
}

TEST(IacCleaning, MatchesAPlainModelOnRandomStreamsOfAnyLength) {
    // The model: over the whole stream, a run of k 0xFF gives k/2 of them and the pairing
    // restarts after every other byte.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string stream;
        const int n = 1 + Bounded(rng, round < 190 ? 64 : 70000);
        for (int i = 0; i < n; ++i)
            stream.push_back(Bounded(rng, 3) == 0 ? '\xFF' : static_cast<char>(Bounded(rng, 256)));
        std::string expected;
        int run = 0;
        for (char c : stream) {
            if (static_cast<unsigned char>(c) == 0xFF) {
                if (++run % 2 == 0) expected.push_back(c);
            } else {
                run = 0;
                expected.push_back(c);
            }
        }
        // Split into events at random points: the result must not depend on the split.
        std::string got;
        bool pending = false;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t len = 1 + Bounded(rng, static_cast<int>(stream.size() - at));
            got += CleanIac(stream.substr(at, len), pending);
            at += len;
        }
        ASSERT_EQ(got, expected) << "round " << round;
    }
}

TEST(LenientNumber, ReadsWhatStartsANumber) {
    EXPECT_EQ(LenientNumber("05"), 5);
    EXPECT_EQ(LenientNumber("7a"), 7);
    EXPECT_EQ(LenientNumber("ab"), 0);
    EXPECT_EQ(LenientNumber(" 3"), 3);
    EXPECT_EQ(LenientNumber("-4"), -4);
    EXPECT_EQ(LenientNumber("+9"), 9);
    EXPECT_EQ(LenientNumber(""), 0);
    EXPECT_GT(LenientNumber("99999999999999999999"), 0);  // no overflow
}

TEST(LoadFileRequest, IsExactlyFourCharactersWithAnUpperCaseL) {
    EXPECT_EQ(LoadFileRequestOf("L05x"), 5);
    EXPECT_EQ(LoadFileRequestOf("L7zq"), 7);
    EXPECT_EQ(LoadFileRequestOf("Labc"), 0);
    EXPECT_EQ(LoadFileRequestOf(std::string("L12\0", 4)), 12);
    EXPECT_FALSE(LoadFileRequestOf("l05x").has_value());
    EXPECT_FALSE(LoadFileRequestOf("L05").has_value());
    EXPECT_FALSE(LoadFileRequestOf("L05xy").has_value());
    EXPECT_FALSE(LoadFileRequestOf("").has_value());
}

TEST(LoaderStatus, ShowsBlockAndByteInUpperCaseHexThatWraps) {
    EXPECT_EQ(LoaderStatus(3, 3, 1000), "LOADING FILE 03 BLOCK 01 BYTE 03E8");
    EXPECT_EQ(LoaderStatus(5, 0, 0), "LOADING FILE 05 BLOCK 00 BYTE 0000");
    EXPECT_EQ(LoaderStatus(5, 2, 600), "LOADING FILE 05 BLOCK 01 BYTE 0258");
    EXPECT_EQ(LoaderStatus(12, 512, 0x10001), "LOADING FILE 12 BLOCK 00 BYTE 0001");
    EXPECT_EQ(LoaderStatus(12, 510, 0xFFFF), "LOADING FILE 12 BLOCK FF BYTE FFFF");
}

TEST(LoadFilePath, KeepsASingleSeparator) {
    EXPECT_EQ(LoadFilePath("/opt/corvane", 3), "/opt/corvane/istlf03.dat");
    EXPECT_EQ(LoadFilePath("/", 12), "/istlf12.dat");
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(-1), "-01");
    EXPECT_EQ(TwoDigits(123), "123");
}

TEST(HostEntry, PortFieldMustBeAPortNumber) {
    EXPECT_EQ(HostPortOf("8105"), 8105);
    EXPECT_EQ(HostPortOf(" 23 "), 23);
    EXPECT_EQ(HostPortOf("65535"), 65535);
    std::string why;
    for (const char* bad : {"", "0", "65536", "99999999999999", "80a", "-1", "8.5"}) {
        why.clear();
        EXPECT_FALSE(HostPortOf(bad, &why).has_value()) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(HostEntry, PresetsKeepTheirOrderAndFields) {
    const std::vector<std::string> presets = SystemPresets();
    ASSERT_EQ(presets.size(), 4u);
    const std::string names[] = {"cyber1", "cyber1", "novanet", "Ludric"};
    const std::string ports[] = {"8005", "5004", "23", "8105"};
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::string> f = Split(presets[i], ':');
        ASSERT_GE(f.size(), 3u);
        EXPECT_EQ(f[0], names[i]);
        EXPECT_EQ(f[2], ports[i]);
    }
    EXPECT_EQ(Split(presets[3], ':').size(), 5u);
    EXPECT_EQ(Split(presets[3], ':')[1], "localhost");
}

TEST(LoginKey, ReplacesTheBufferOnlyForKnownModes) {
    EXPECT_EQ(LoginKey("next"), std::string("\x0D", 1));
    EXPECT_EQ(LoginKey("stop1"), std::string("\x11", 1));
    EXPECT_FALSE(LoginKey("").has_value());
    EXPECT_FALSE(LoginKey("Next").has_value());
}

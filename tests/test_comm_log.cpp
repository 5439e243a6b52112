#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "links/engine.h"
#include "logs/comm_log.h"
#include "rig/temp_dir.h"
#include "tests/test_helpers.h"

namespace corvane {
namespace {

using corvane::testing::ReadAll;

const std::string kCrLf("\r\n");

TEST(CommLines, ScreenLineHasTheMarkerBetweenTagAndText) {
    EXPECT_EQ(CommScreenLine("", "connected"), "00  \u00F9 connected");
    EXPECT_EQ(CommScreenLine("SSL", "x"), "00 ssl \u00F9 x");
    // An empty text leaves the line ending in a blank.
    EXPECT_EQ(CommScreenLine("", ""), "00  \u00F9 ");
}

TEST(CommLines, FileLineIsEightBitWithTheMiddleDot) {
    const std::string stamp = "12/06/2026 21:55:25.45";
    EXPECT_EQ(CommFileLine(stamp, "", "Connection refused"),
              "12/06/2026 21:55:25.45> 00  \xB7 Connection refused");
    EXPECT_EQ(CommFileLine(stamp, "Tag", ""), "12/06/2026 21:55:25.45> 00 tag \xB7 ");
    EXPECT_TRUE(CommFileLine(stamp, "", "").ends_with("\xB7 "));
    // The listeners' line is the same in UTF-8.
    EXPECT_EQ(CommFileText(stamp, "Tag", "\u00E9"), "12/06/2026 21:55:25.45> 00 tag \u00B7 \u00E9");
}

TEST(CommLines, FileLineEncodesWindows1252AndReplacesTheRest) {
    const std::string text = "\u00F9\u00E9\u20AC\u2013\u4E00\U0001F600";
    EXPECT_EQ(CommFileLine("", "", text), "> 00  \xB7 \xF9\xE9\x80\x96??");
    // Byte text that is no UTF-8 keeps its byte values.
    EXPECT_EQ(CommFileLine("", "", std::string("\x01\xFF", 2)), "> 00  \xB7 \x01\xFF");
}

TEST(ToEightBit, TakesEveryWindows1252PunctuationToItsByte) {
    // 0x80 .. 0x9F of Windows-1252; the five unused bytes are the C1 controls of the same value.
    const char32_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                               0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (int i = 0; i < 32; ++i) {
        std::string utf8;
        const char32_t c = high[i];
        if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
        } else {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
        EXPECT_EQ(ToEightBit(utf8), std::string(1, static_cast<char>(0x80 + i))) << i;
    }
    // Up to U+00FF every character keeps its value; ASCII passes as it is.
    EXPECT_EQ(ToEightBit("plain \t\r\n"), "plain \t\r\n");
    EXPECT_EQ(ToEightBit("\u00A0\u00B7\u00FF"), "\xA0\xB7\xFF");
    EXPECT_EQ(ToEightBit(std::string("a\0b", 3)), std::string("a\0b", 3));
    // Anything beyond Windows-1252 is one "?" per character, whatever its length.
    EXPECT_EQ(ToEightBit("\u0100\u2015\uFFFD\U0001F600x"), "????x");
}

TEST(ToEightBit, KeepsBytesThatAreNoUtf8) {
    EXPECT_EQ(ToEightBit("\x80"), "\x80");            // a lone continuation byte
    EXPECT_EQ(ToEightBit("a\xC3"), "a\xC3");          // cut off at the end
    EXPECT_EQ(ToEightBit("\xE2\x82z"), "\xE2\x82z");  // cut off before a letter
    EXPECT_EQ(ToEightBit("\xC0\xAF\xE0\x80\xAF"), "\xC0\xAF\xE0\x80\xAF");  // overlong forms
    EXPECT_EQ(ToEightBit("\xF8\x88\x80\x80\x80"), "\xF8\x88\x80\x80\x80");  // no such lead
    EXPECT_EQ(ToEightBit("\xFE\xFF"), "\xFE\xFF");
    // Forms of UTF-16 surrogates and of numbers past U+10FFFF are no characters either.
    EXPECT_EQ(ToEightBit("\xED\xA0\x80"), "\xED\xA0\x80");
    EXPECT_EQ(ToEightBit("\xF4\x90\x80\x80"), "\xF4\x90\x80\x80");
    EXPECT_EQ(ToEightBit("\xF7\xBF\xBF\xBF"), "\xF7\xBF\xBF\xBF");
    EXPECT_EQ(ToEightBit("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"), "???");  // the edges
    // A broken sequence does not swallow the good character after it.
    EXPECT_EQ(ToEightBit("\xC3\xC3\xA9"), "\xC3\xE9");
    EXPECT_EQ(ToEightBit("\xE2\x82\xE2\x82\xAC"), "\xE2\x82\x80");
}

TEST(CommLogPath, SingleSeparatorUnderTheProgramFolder) {
    EXPECT_EQ(CommLogPath("/opt/corvane"), "/opt/corvane/log/000.txt");
    EXPECT_EQ(CommLogPath("/opt/corvane/"), "/opt/corvane/log/000.txt");
    EXPECT_EQ(CommLogPath("/"), "/log/000.txt");
    EXPECT_EQ(CommLogPath("C:\\"), "C:\\log/000.txt");
}

TEST(RollLogView, GrowsThenDropsTheOldestAtCapacity) {
    LogView view;
    for (int i = 1; i <= 3; ++i) RollLogView(view, std::to_string(i), kCrLf);
    EXPECT_EQ(view.Count, 3);
    EXPECT_EQ(view.Shown, 3);
    EXPECT_EQ(view.Lines[0], "1\r\n2\r\n3\r\n");
    EXPECT_EQ(PaneText(view), "1\n2\n3\n");

    for (int i = 4; i <= 31; ++i) RollLogView(view, "e" + std::to_string(i), kCrLf);
    EXPECT_EQ(view.Count, 30);
    EXPECT_EQ(view.Shown, 30);
    std::string expected = "2\r\n3\r\n";
    for (int i = 4; i <= 31; ++i) expected += "e" + std::to_string(i) + "\r\n";
    EXPECT_EQ(view.Lines[0], expected);
    EXPECT_EQ(view.Lines[1], "2");
    EXPECT_EQ(view.Lines[30], "e31");
    EXPECT_EQ(view.Lines.size(), 41u);
}

}  // namespace
}  // namespace corvane

// ---- the writers on an engine ----
namespace corvane {
namespace {

std::vector<std::string> PaneLines(const std::string& pane) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < pane.size()) {
        std::size_t end = pane.find('\n', from);
        if (end == std::string::npos) end = pane.size();
        if (end > from) lines.push_back(pane.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

std::size_t OverlappingCount(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class LineCollector : public EngineListener {
  public:
    void CommLogLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class CommLogEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        e = std::make_unique<Engine>(io, dir.path());
        e->AddListener(&collector);
    }
    void TearDown() override {
        e->RemoveListener(&collector);
        e.reset();
    }
    std::string LogFile() const { return dir.path() + "/log/000.txt"; }
    std::string LogFolder() const { return dir.path() + "/log"; }

    asio::io_context io;
    rig::TempDir dir;
    LineCollector collector;
    std::unique_ptr<Engine> e;
};

TEST_F(CommLogEngine, UncheckedLogChangesNothingAndCheckingContinuesTheLists) {
    ASSERT_FALSE(e->Choices().logToFile);
    SSL_Error(*e, 10061, "refused");
    EXPECT_TRUE(e->View().commPane.empty());
    EXPECT_TRUE(e->View().dataPane.empty());
    EXPECT_EQ(e->LogViews[0].Count, 0);
    EXPECT_FALSE(std::filesystem::exists(LogFolder()));

    e->SetLogToFile(true);
    SSL_Error(*e, 0, "first");
    e->SetLogToFile(false);
    SSL_Error(*e, 0, "dropped");
    e->SetLogToFile(true);
    SSL_Error(*e, 0, "second");
    EXPECT_EQ(
        PaneLines(e->View().commPane),
        (std::vector<std::string>{CommScreenLine("", "first"), CommScreenLine("", "second")}));
    EXPECT_EQ(PaneLines(e->View().dataPane).size(), 2u);
    EXPECT_EQ(OverlappingCount(ReadAll(LogFile()), "\r\n"), 2u);

    // The listeners hear every entry, logged to the file or not.
    ASSERT_EQ(collector.lines.size(), 4u);
    EXPECT_TRUE(collector.lines[0].ends_with("> 00  \u00B7 refused"));
    EXPECT_TRUE(collector.lines[2].ends_with("> 00  \u00B7 dropped"));
}

TEST_F(CommLogEngine, OneEntryGivesOnePaneLineOneMarkerAndOneFileLine) {
    e->SetLogToFile(true);
    ASSERT_FALSE(std::filesystem::exists(LogFolder()));  // created by the first entry
    SSL_Error(*e, 10061, "Connection refused");

    const std::string screen = "00  \u00F9 Connection refused";
    EXPECT_EQ(e->View().commPane, screen + "\n");
    EXPECT_EQ(e->LogViews[0].Lines[0], screen + "\r\n");
    EXPECT_EQ(e->View().dataPane, "\u00F9\u00F9\n");
    EXPECT_EQ(e->LogViews[1].Lines[0], "\u00F9\u00F9\r\n");

    const std::string file = ReadAll(LogFile());
    ASSERT_EQ(file.size(), 22u + 2 + 6 + 18 + 2);  // stamp, "> ", "00  · ", text, CR LF
    const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d\d$)");
    EXPECT_TRUE(std::regex_match(file.substr(0, 22), stamp)) << file;
    EXPECT_EQ(file.substr(22), "> 00  \xB7 Connection refused\r\n");
    // The listeners' line is the same entry in UTF-8, with the same stamp.
    ASSERT_EQ(collector.lines.size(), 1u);
    EXPECT_EQ(collector.lines[0], file.substr(0, 22) + "> 00  \u00B7 Connection refused");
}

TEST_F(CommLogEngine, EveryStatusHandlerLogsItsTextAndEmptyTextEndsInABlank) {
    e->SetLogToFile(true);
    SSL_ConnectionStatus(*e, "CONNECTED", 0, "connected");
    SSL_Disconnected(*e, 0, "closed by peer");
    SSL_Error(*e, 1, "timeout");
    SSL_SSLServerAuthentication(*e, "auth");
    SSL_SSLStatus(*e, "");
    EXPECT_EQ(PaneLines(e->View().commPane),
              (std::vector<std::string>{
                  CommScreenLine("", "connected"), CommScreenLine("", "closed by peer"),
                  CommScreenLine("", "timeout"), CommScreenLine("", "auth"), "00  \u00F9 "}));
    const std::string file = ReadAll(LogFile());
    EXPECT_EQ(OverlappingCount(file, "\r\n"), 5u);
    EXPECT_TRUE(file.ends_with("\xB7 \r\n"));
}

TEST_F(CommLogEngine, FortyEntriesLeaveThirtyLinesInEachPane) {
    e->SetLogToFile(true);
    for (int i = 1; i <= 40; ++i) SSL_SSLStatus(*e, "entry " + std::to_string(i));
    const std::vector<std::string> comm = PaneLines(e->View().commPane);
    ASSERT_EQ(comm.size(), 30u);
    EXPECT_EQ(comm.front(), CommScreenLine("", "entry 11"));
    EXPECT_EQ(comm.back(), CommScreenLine("", "entry 40"));
    EXPECT_EQ(OverlappingCount(e->View().dataPane, "\u00F9\u00F9"), 30u);
    EXPECT_EQ(OverlappingCount(ReadAll(LogFile()), "\r\n"), 40u);  // the file keeps everything
}

TEST_F(CommLogEngine, EntriesChangeOnlyThePanesOfTheView) {
    e->SetLogToFile(true);
    const EngineView before = e->View();
    SSL_Error(*e, 0, "first");
    SSL_Error(*e, 0, "second");
    EngineView expected = before;
    expected.commPane = e->View().commPane;
    expected.dataPane = e->View().dataPane;
    EXPECT_EQ(e->View(), expected);
    EXPECT_EQ(PaneLines(e->View().commPane).size(), 2u);
    EXPECT_EQ(PaneLines(e->View().dataPane).size(), 2u);
}

TEST_F(CommLogEngine, UnwritableLogFileStillUpdatesThePanes) {
    {
        std::ofstream blocker(LogFolder(), std::ios::binary);  // a file where the folder goes
        ASSERT_TRUE(blocker);
        blocker << "not a folder";
    }
    e->SetLogToFile(true);
    for (int i = 0; i < 50; ++i) SSL_Error(*e, 0, "e" + std::to_string(i));
    EXPECT_EQ(PaneLines(e->View().commPane).size(), 30u);
    EXPECT_EQ(PaneLines(e->View().dataPane).size(), 30u);
    EXPECT_EQ(ReadAll(LogFolder()), "not a folder");
}

TEST_F(CommLogEngine, FullDiskStillUpdatesThePanes) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    std::filesystem::create_directories(LogFolder());
    // Every write fails with "no space".
    std::filesystem::create_symlink("/dev/full", LogFile());
    e->SetLogToFile(true);
    for (int i = 0; i < 5; ++i) SSL_Error(*e, 0, "e" + std::to_string(i));
    EXPECT_EQ(PaneLines(e->View().commPane).size(), 5u);
    EXPECT_EQ(PaneLines(e->View().dataPane).size(), 5u);
}

}  // namespace
}  // namespace corvane

#include "daemon/log/LogFormat.h"
#include "daemon/log/Logger.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>
#include <thread>

using namespace qxtest;

namespace {

std::string TodaysName(const std::string& dir) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_s(&t, &now);
    return LogFileName(dir, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

const std::regex kMessageLine(R"((  |WW|EE|FF|--) \d\d:\d\d:\d\d:\d\d\d   .*)");
const std::regex kTraceLine(R"([ \d]\d \d\d:\d\d:\d\d:\d\d\d   .*)");

class LoggerTest : public ::testing::Test {
protected:
    TempDir dir;
    Logger logger;
    std::vector<std::string> lines() { return SplitLines(ReadFileText(logger.path())); }
};

TEST_F(LoggerTest, ClosedLoggerWritesNothing) {
    EXPECT_FALSE(logger.isOpen());
    EXPECT_FALSE(logger.message(LogInfo, "x"));
    EXPECT_FALSE(logger.trace(5, "x"));
    EXPECT_FALSE(logger.plainLine("x"));
}

TEST_F(LoggerTest, MissingDirectoryLeavesLoggerClosed) {
    logger.open((dir.path() + "\\does\\not\\exist").c_str());
    EXPECT_FALSE(logger.isOpen());
    EXPECT_FALSE(logger.message(LogError, "nothing"));
    EXPECT_TRUE(FindLogFile(dir.path()).empty());
}

TEST_F(LoggerTest, FileNameAndHeader) {
    logger.open(dir.path().c_str());
    ASSERT_TRUE(logger.isOpen());
    EXPECT_EQ(ReadFileText(TodaysName(dir.path())).empty(), false);
    auto all = lines();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_TRUE(std::regex_match(all[0], kMessageLine)) << all[0];
    EXPECT_EQ(all[0].substr(0, 2), "  ");
    EXPECT_EQ(all[0].substr(18), "<start-header>");
    const std::string blanks(18, ' ');
    const std::string rule = "#" + std::string(44, '-');
    EXPECT_EQ(all[1], blanks + rule);
    EXPECT_EQ(all[2], blanks + "# Product Name          : [qxpilotst]");
    EXPECT_EQ(all[3], blanks + "#");
    EXPECT_EQ(all[4], blanks + "# ProcessID             : [" + std::to_string(GetCurrentProcessId()) + "]");
    EXPECT_TRUE(std::regex_match(all[5], std::regex(blanks + R"(# Process Started       : \[\d{4}/[ 1]\d/[ 123]\d - \d\d:\d\d:\d\d\])")))
        << all[5];
    EXPECT_EQ(all[6], blanks + rule);
    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_EQ(all[7].substr(0, 20), blanks + "# ");
    EXPECT_NE(all[7].find(std::to_string(now.wYear)), std::string::npos) << all[7];
    EXPECT_EQ(all[8], blanks + rule);
    EXPECT_EQ(all[9], blanks + "<end-header>");
}

TEST_F(LoggerTest, LineLayoutsPutTheTextInColumn19) {
    logger.open(dir.path().c_str());
    ASSERT_TRUE(logger.message(LogError, "error %d", 1));
    ASSERT_TRUE(logger.message(LogWarning, "warning"));
    ASSERT_TRUE(logger.message(7, "odd severity"));
    ASSERT_TRUE(logger.trace(5, "\tCredit Class [%s]", "BOND"));
    ASSERT_TRUE(logger.trace(0, "level zero"));
    ASSERT_TRUE(logger.plainLine("plain %s", "text"));
    ASSERT_TRUE(logger.trace(5, "End Dumping\n"));
    std::string text = ReadFileText(logger.path());
    auto all = SplitLines(text);
    ASSERT_EQ(all.size(), 17u);
    EXPECT_TRUE(std::regex_match(all[10], kMessageLine));
    EXPECT_EQ(all[10].substr(0, 3), "EE ");
    EXPECT_EQ(all[10].substr(18), "error 1");
    EXPECT_EQ(all[11].substr(0, 3), "WW ");
    EXPECT_EQ(all[12].substr(0, 3), "-- ");
    EXPECT_TRUE(std::regex_match(all[13], kTraceLine));
    EXPECT_EQ(all[13].substr(0, 3), " 5 ");
    EXPECT_EQ(all[13].substr(18), "\tCredit Class [BOND]");
    EXPECT_EQ(all[14].substr(0, 3), " 0 ");
    EXPECT_EQ(all[15], std::string(18, ' ') + "plain text");
    // The text's own line feed comes before the line end: "End Dumping\n\r\n".
    EXPECT_EQ(all[16].substr(18), "End Dumping\n");
    EXPECT_EQ(text.substr(text.size() - 3), "\n\r\n");
}

TEST_F(LoggerTest, OverlongTextIsCutAndTheLineStillEnds) {
    logger.open(dir.path().c_str());
    std::string huge(20000, 'z');
    logger.message(LogInfo, "%s", huge.c_str());
    logger.message(LogInfo, "after");
    auto all = lines();
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all[10].size(), 18 + kLogTextMaxChars);
    EXPECT_EQ(all[11].substr(18), "after");
}

TEST_F(LoggerTest, ReopeningClosesTheOldFileWithItsLineAndAppends) {
    logger.open(dir.path().c_str());
    logger.message(LogInfo, "first run");
    logger.open(dir.path().c_str());
    logger.message(LogInfo, "second run");
    auto all = lines();
    ASSERT_EQ(all.size(), 23u);
    EXPECT_EQ(all[10].substr(18), "first run");
    EXPECT_EQ(all[11].substr(18), "Closing log file.");
    EXPECT_EQ(all[12].substr(18), "<start-header>");
    EXPECT_EQ(all[22].substr(18), "second run");
}

TEST_F(LoggerTest, CloseWritesTheClosingLine) {
    logger.open(dir.path().c_str());
    std::string path = logger.path();
    logger.close();
    auto all = SplitLines(ReadFileText(path));
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().substr(18), "Closing log file.");
    EXPECT_FALSE(logger.message(LogInfo, "closed"));
}

// Every line of `lines` after the header must be one whole "<tag> <n>" line; returns the set of them.
std::set<std::string> WholeLines(const std::vector<std::string>& all) {
    std::set<std::string> seen;
    for (const std::string& line : all) {
        EXPECT_TRUE(std::regex_match(line, kMessageLine) || line.substr(0, 18) == std::string(18, ' '))
            << "torn line: [" << line << "]";
        if (line.size() > 18) seen.insert(line.substr(18));
    }
    return seen;
}

TEST_F(LoggerTest, TwoThreadsNeverTearOrLoseLines) {
    logger.open(dir.path().c_str());
    constexpr int kLines = 3000;
    auto writer = [&](const char* tag) {
        for (int i = 0; i < kLines; ++i) logger.message(LogInfo, "%s %d", tag, i);
    };
    std::thread a(writer, "thread-a"), b(writer, "thread-b");
    a.join();
    b.join();
    auto all = lines();
    ASSERT_EQ(all.size(), 10u + 2 * kLines);
    auto seen = WholeLines(all);
    for (int i = 0; i < kLines; ++i) {
        EXPECT_TRUE(seen.count("thread-a " + std::to_string(i))) << i;
        EXPECT_TRUE(seen.count("thread-b " + std::to_string(i))) << i;
    }
}

TEST_F(LoggerTest, TwoProcessesSharingTheFileNeverTearOrLoseLines) {
    constexpr int kLines = 2000;
    std::string tool = "\"" + BinPath("qx_logwriter.exe") + "\" \"" + dir.path() + "\" ";
    ChildProcess a, b;
    ASSERT_TRUE(a.start(tool + "proc-a " + std::to_string(kLines)));
    ASSERT_TRUE(b.start(tool + "proc-b " + std::to_string(kLines)));
    ASSERT_EQ(a.wait(std::chrono::seconds(120)), 0u);
    ASSERT_EQ(b.wait(std::chrono::seconds(120)), 0u);
    auto all = SplitLines(ReadFileText(FindLogFile(dir.path())));
    // Two headers, two closing lines, every line of both writers.
    ASSERT_EQ(all.size(), 2u * (10 + 1 + kLines));
    auto seen = WholeLines(all);
    for (int i = 0; i < kLines; ++i) {
        EXPECT_TRUE(seen.count("proc-a " + std::to_string(i))) << i;
        EXPECT_TRUE(seen.count("proc-b " + std::to_string(i))) << i;
    }
}

}  // namespace

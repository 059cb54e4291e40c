// Batched log lines: same content and order as line-by-line writing, whole lines, nothing lost at close,
// and two processes batching into one file keep every line.
#include "daemon/log/Logger.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace qxtest;

namespace {

const std::regex kAnyLayout(R"(((  |WW|EE|FF|--) |[ \d]\d )\d\d:\d\d:\d\d:\d\d\d   .*| {18}.*)");

class LogBatchTest : public ::testing::Test {
protected:
    TempDir dir;
    Logger logger;

    // Lines after the 10 header lines, without their time: the tag and the text.
    std::vector<std::string> body() {
        std::vector<std::string> out;
        auto all = SplitLines(ReadFileText(FindLogFile(dir.path())));
        for (std::size_t i = 10; i < all.size(); ++i) {
            EXPECT_TRUE(std::regex_match(all[i], kAnyLayout)) << "torn line: [" << all[i] << "]";
            out.push_back(all[i].size() >= 18 ? all[i].substr(0, 2) + "|" + all[i].substr(18) : "torn:" + all[i]);
        }
        return out;
    }
};

void WriteMixedLines(Logger& logger, int count) {
    for (int i = 0; i < count; ++i) {
        switch (i % 3) {
        case 0: logger.message(i % 2 ? LogWarning : LogInfo, "message %d %s", i, std::string(i % 50, 'm').c_str()); break;
        case 1: logger.trace(5, "\t\t\tGroup [G%d]", i); break;
        default: logger.plainLine("plain %d", i); break;
        }
    }
}

TEST_F(LogBatchTest, BatchedLinesAreTheLinesWrittenOneByOne) {
    // Over 200 KB of lines, so that the batch goes out in several blocks.
    constexpr int kLines = 6000;
    logger.open(dir.path().c_str());
    WriteMixedLines(logger, kLines);
    auto plain = body();
    logger.close();

    TempDir second;
    Logger batched;
    batched.open(second.path().c_str());
    {
        LogBatch batch(batched);
        WriteMixedLines(batched, kLines);
    }
    auto all = SplitLines(ReadFileText(FindLogFile(second.path())));
    std::vector<std::string> gathered;
    for (std::size_t i = 10; i < all.size(); ++i) {
        EXPECT_TRUE(std::regex_match(all[i], kAnyLayout)) << "torn line: [" << all[i] << "]";
        gathered.push_back(all[i].substr(0, 2) + "|" + all[i].substr(18));
    }
    ASSERT_EQ(plain.size(), static_cast<std::size_t>(kLines));
    EXPECT_EQ(gathered, plain);
    EXPECT_EQ(batched.warningCount(), logger.warningCount());
}

TEST_F(LogBatchTest, LinesWaitUntilTheBatchEnds) {
    logger.open(dir.path().c_str());
    {
        LogBatch outer(logger);
        logger.message(LogInfo, "one");
        {
            LogBatch inner(logger);
            logger.message(LogInfo, "two");
        }
        // The inner batch joined the outer one: nothing is written yet.
        EXPECT_TRUE(body().empty());
        logger.message(LogInfo, "three");
    }
    EXPECT_EQ(body(), (std::vector<std::string>{"  |one", "  |two", "  |three"}));
}

TEST_F(LogBatchTest, AnotherThreadsLineComesAfterTheLinesGatheredBeforeIt) {
    logger.open(dir.path().c_str());
    {
        LogBatch batch(logger);
        logger.message(LogInfo, "main 1");
        logger.message(LogInfo, "main 2");
        std::thread other([&] {
            // Not granted to this thread while the main thread batches: its line is written at once.
            LogBatch ignored(logger);
            logger.message(LogError, "other");
        });
        other.join();
        EXPECT_EQ(body(), (std::vector<std::string>{"  |main 1", "  |main 2", "EE|other"}));
        logger.message(LogInfo, "main 3");
    }
    EXPECT_EQ(body(), (std::vector<std::string>{"  |main 1", "  |main 2", "EE|other", "  |main 3"}));
}

TEST_F(LogBatchTest, ClosingInsideABatchWritesTheGatheredLinesFirst) {
    logger.open(dir.path().c_str());
    {
        LogBatch batch(logger);
        logger.trace(5, "Place [%d] market [%d]", 25, -1);
        logger.close();
        EXPECT_FALSE(logger.message(LogInfo, "after close"));
    }
    EXPECT_EQ(body(), (std::vector<std::string>{" 5|Place [25] market [-1]", "  |Closing log file."}));
}

TEST_F(LogBatchTest, TwoBatchingProcessesSharingTheFileKeepEveryLineWhole) {
    constexpr int kLines = 5000;
    std::string tool = Quoted(BinPath("qx_logwriter.exe")) + " " + Quoted(dir.path()) + " ";
    ChildProcess a, b;
    ASSERT_TRUE(a.start(tool + "proc-a " + std::to_string(kLines) + " batch"));
    ASSERT_TRUE(b.start(tool + "proc-b " + std::to_string(kLines) + " batch"));
    ASSERT_EQ(a.wait(std::chrono::seconds(120)), 0u);
    ASSERT_EQ(b.wait(std::chrono::seconds(120)), 0u);
    auto all = SplitLines(ReadFileText(FindLogFile(dir.path())));
    ASSERT_EQ(all.size(), 2u * (10 + 1 + kLines));
    int nextA = 0, nextB = 0;
    for (const std::string& line : all) {
        ASSERT_TRUE(std::regex_match(line, kAnyLayout)) << "torn line: [" << line << "]";
        std::string text = line.substr(18);
        // Each process's lines arrive complete and in its own order.
        if (text.rfind("proc-a ", 0) == 0) {
            EXPECT_EQ(text, "proc-a " + std::to_string(nextA++));
        } else if (text.rfind("proc-b ", 0) == 0) {
            EXPECT_EQ(text, "proc-b " + std::to_string(nextB++));
        }
    }
    EXPECT_EQ(nextA, kLines);
    EXPECT_EQ(nextB, kLines);
}

}  // namespace

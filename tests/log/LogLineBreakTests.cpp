// Line breaks inside a line's text never start a line of their own.
#include "daemon/log/LogFormat.h"
#include "daemon/log/Logger.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace qxtest;

namespace {

TEST(KeepOnOneLine, Table) {
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"plain text", "plain text"},
        {"", ""},
        {"End Dumping\n", "End Dumping\n"},            // the dump's own final line feed stays
        {"two\n\n", "two\n\n"},
        {"Dumping\n\tfile", "Dumping \tfile"},
        {"Invalid Piloting Module: x\r\nEE 00:00:00:000   forged", "Invalid Piloting Module: x  EE 00:00:00:000   forged"},
        {"bare\rreturn", "bare return"},
        {"ends with return\r", "ends with return "},
        {"ends with both\r\n", "ends with both \n"},
        {"\r\n\r\n", "   \n"},
        {"tab\tstays", "tab\tstays"},
    };
    for (const Row& row : rows) {
        std::string text = row.in;
        KeepOnOneLine(text.data(), text.size());
        EXPECT_EQ(text, row.out) << "input: " << row.in;
    }
}

TEST(KeepOnOneLine, ALoggedTextWithLineBreaksStaysOneLine) {
    TempDir dir;
    Logger logger;
    logger.open(dir.path().c_str());
    logger.message(LogError, "Invalid Piloting Module: %s", "x\r\nEE 00:00:00:000   forged\r\n");
    logger.trace(5, "End Dumping\n");
    auto lines = SplitLines(ReadFileText(logger.path()));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[10].substr(18), "Invalid Piloting Module: x  EE 00:00:00:000   forged \n");
    EXPECT_EQ(lines[11].substr(18), "End Dumping\n");
}

}  // namespace

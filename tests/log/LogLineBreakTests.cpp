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
        std::size_t kept;  // final LFs that belong to the format
        std::string out;
    };
    const Row rows[] = {
        {"plain text", 0, "plain text"},
        {"", 0, ""},
        {"", 1, ""},
        {"End Dumping\n", 1, "End Dumping\n"},  // the dump's own final line feed stays
        {"End Dumping\n", 0, "End Dumping "},    // a final line feed from an argument does not
        {"two\n\n", 2, "two\n\n"},
        {"two\n\n", 1, "two \n"},
        {"Dumping\n\tfile", 1, "Dumping \tfile"},
        {"Invalid Piloting Module: x\r\nEE 00:00:00:000   forged", 0,
         "Invalid Piloting Module: x  EE 00:00:00:000   forged"},
        {"Invalid Piloting Module: Vista\n", 0, "Invalid Piloting Module: Vista "},
        {"Invalid Piloting Module: Vista\r\n", 0, "Invalid Piloting Module: Vista  "},
        {"bare\rreturn", 0, "bare return"},
        {"ends with return\r", 0, "ends with return "},
        {"ends with both\r\n", 1, "ends with both \n"},
        {"\r\n\r\n", 1, "   \n"},
        {"\r\n\r\n", 0, "    "},
        {"tab\tstays", 0, "tab\tstays"},
    };
    for (const Row& row : rows) {
        std::string text = row.in;
        KeepOnOneLine(text.data(), text.size(), row.kept);
        EXPECT_EQ(text, row.out) << "input: " << row.in << " keeping " << row.kept;
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
    EXPECT_EQ(lines[10].substr(18), "Invalid Piloting Module: x  EE 00:00:00:000   forged  ");
    EXPECT_EQ(lines[11].substr(18), "End Dumping\n");
}

}  // namespace

#include "daemon/log/LogFormat.h"
#include "daemon/log/LogPath.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace {

SYSTEMTIME At(int h, int m, int s, int ms) {
    SYSTEMTIME t{};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDay = 7;
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(m);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

std::string Format(const char* format, ...) {
    char out[kLogTextSize];
    va_list args;
    va_start(args, format);
    int n = FormatLogText(out, format, args);
    va_end(args);
    return n < 0 ? std::string("<failed>") : std::string(out, static_cast<std::size_t>(n));
}

TEST(SeverityTag, TableOfSeverities) {
    const struct {
        int severity;
        const char* tag;
    } cases[] = {{0, "  "}, {1, "WW"}, {2, "EE"}, {3, "FF"}, {4, "--"}, {7, "--"}, {-1, "--"}};
    for (const auto& c : cases) EXPECT_STREQ(SeverityTag(c.severity), c.tag) << "severity " << c.severity;
}

TEST(LinePrefix, MessageAndTraceLayouts) {
    char prefix[kLogPrefixSize];
    FormatMessagePrefix(prefix, 2, At(14, 3, 27, 45));
    EXPECT_STREQ(prefix, "EE 14:03:27:045   ");
    FormatMessagePrefix(prefix, 0, At(9, 5, 1, 0));
    EXPECT_STREQ(prefix, "   09:05:01:000   ");
    FormatMessagePrefix(prefix, 7, At(23, 59, 59, 999));
    EXPECT_STREQ(prefix, "-- 23:59:59:999   ");
    FormatTracePrefix(prefix, 5, At(14, 3, 27, 46));
    EXPECT_STREQ(prefix, " 5 14:03:27:046   ");
    FormatTracePrefix(prefix, 0, At(0, 0, 0, 1));
    EXPECT_STREQ(prefix, " 0 00:00:00:001   ");
    EXPECT_EQ(std::string(prefix).size(), kLogTextColumn);
}

TEST(LogFileName, DirectoryAndDate) {
    const struct {
        const char* dir;
        int y, m, d;
        const char* name;
    } cases[] = {
        {"C:\\Logs", 2024, 3, 7, "C:\\Logs\\qxpilotst_20240307.log"},
        {"C:\\Logs\\", 2024, 3, 7, "C:\\Logs\\qxpilotst_20240307.log"},
        {"", 2024, 3, 7, "qxpilotst_20240307.log"},
        {"D:\\a b", 2026, 12, 31, "D:\\a b\\qxpilotst_20261231.log"},
        {"rel", 1999, 10, 1, "rel\\qxpilotst_19991001.log"},
    };
    for (const auto& c : cases) EXPECT_EQ(LogFileName(c.dir, c.y, c.m, c.d), c.name);
}

TEST(ProcessStartedText, MonthAndDayPaddedWithBlanks) {
    EXPECT_EQ(ProcessStartedText(2024, 3, 7, 9, 5, 1), "2024/ 3/ 7 - 09:05:01");
    EXPECT_EQ(ProcessStartedText(2026, 12, 25, 23, 59, 0), "2026/12/25 - 23:59:00");
}

TEST(LogText, FormattedAndCutToTheBuffer) {
    EXPECT_EQ(Format("Place [%d] market [%d]", 25, -1), "Place [25] market [-1]");
    EXPECT_EQ(Format("%s", ""), "");
    std::string huge(20000, 'x');
    EXPECT_EQ(Format("%s", huge.c_str()).size(), kLogTextMaxChars);
    std::string exact(kLogTextMaxChars, 'y');
    EXPECT_EQ(Format("%s", exact.c_str()), exact);
}

// Only the format's own final line feeds stay: whatever an argument holds ends up blanks.
TEST(FormatLogText, LineBreaksFromArgumentsBecomeBlanksTable) {
    struct Row {
        const char* format;
        const char* argument;
        std::string out;
    };
    const Row rows[] = {
        {"Invalid Piloting Module: %s", "Vista\n", "Invalid Piloting Module: Vista "},
        {"Invalid Piloting Module: %s", "Vista\r\n", "Invalid Piloting Module: Vista  "},
        {"Invalid Piloting Module: %s", "\n", "Invalid Piloting Module:  "},
        {"%s", "\n\n", "  "},
        {"credit class [%s]", "A\r\nEE 12:00:00:000   forged", "credit class [A  EE 12:00:00:000   forged]"},
        {"Dumping the extension read from qxpilot.dat file\n", "", "Dumping the extension read from qxpilot.dat file\n"},
        {"End Dumping\n", "", "End Dumping\n"},
        {"value %s\n", "a\n", "value a \n"},
        {"%s\n\n", "\n", " \n\n"},
        {"%s\n", "\r", " \n"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Format(row.format, row.argument), row.out) << "format: " << row.format;
    }
}

TEST(FormatLogText, ACutTextKeepsNoFinalLineFeed) {
    std::string longText(kLogTextMaxChars + 10, 'x');
    longText.back() = '\n';
    std::string out = Format("%s\n", longText.c_str());
    ASSERT_EQ(out.size(), kLogTextMaxChars);
    EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
}

TEST(ParseLogPath, CommandLines) {
    const struct {
        const char* commandLine;
        const char* directory;
    } cases[] = {
        {"", ""},
        {"-log_path=C:\\Logs", "C:\\Logs"},
        {"-log_path=C:\\Logs\\", "C:\\Logs\\"},
        {"/x -log_path=C:\\Logs /y", "C:\\Logs"},
        {"-log_path=\"C:\\My Logs\"", "C:\\My Logs"},
        {"-log_path=\"C:\\My Logs\" -other", "C:\\My Logs"},
        {"-log_path=C:\\My Logs", "C:\\My"},
        {"-log_path=", ""},
        {"-log_path= C:\\Logs", ""},
        {"-LOG_PATH=C:\\Logs", ""},
        {"-Log_Path=C:\\Logs", ""},
        {"-log_path=\"", "\""},
        {"-log_path=\"C:\\never closed", "\"C:\\never closed"},
        {"-log_path=\"\"", ""},
        {"log_path=C:\\Logs", ""},
        {"-log_path=a -log_path=b", "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseLogPath(c.commandLine), c.directory) << "[" << c.commandLine << "]";
    EXPECT_EQ(ParseLogPath(nullptr), "");
}

}  // namespace

// A real daemon loading its configuration on a real start request, checked in its real log file.
#include "common/QXRequests.h"
#include "tests/config/ConfigTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace qxtest;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const char kStarted[] = "   Starting QXPilot";
const char kStartHandled[] = " 0 Request for opening quodrix received from Tolvane";

// A file of the Windows folder, removed when the test ends.
class WindowsFolderFile {
public:
    WindowsFolderFile(const std::string& name, const std::string& text) {
        char folder[MAX_PATH] = {};
        UINT length = GetWindowsDirectoryA(folder, sizeof folder);
        m_path = std::string(folder, length < sizeof folder ? length : 0) + "\\" + name;
        WriteFileText(m_path, text);
    }
    ~WindowsFolderFile() { DeleteFileA(m_path.c_str()); }
    WindowsFolderFile(const WindowsFolderFile&) = delete;
    WindowsFolderFile& operator=(const WindowsFolderFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

class ConfigDaemonTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }

    // Starts the daemon, sends one start request naming `configFile`, and returns the tagged log lines
    // written between "Starting QXPilot" and the start request's own trace.
    std::vector<std::string> LoadThroughDaemon(const std::string& configFile, const std::string& workingDir = {}) {
        std::vector<std::string> between;
        EXPECT_TRUE(daemon.start("-log_path=" + logDir.path(), workingDir)) << "daemon did not come up";
        StartRequest start{};
        CopyField(start.address, "127.0.0.1");
        start.port = 7001;
        CopyField(start.configFile, configFile.c_str());
        EXPECT_TRUE(SendRequest(PILOT_REQ_START_TERMINAL, &start, sizeof start));
        EXPECT_TRUE(WaitForLogText(logDir.path(), "Request for opening quodrix received from Tolvane"));
        EXPECT_EQ(daemon.stop(), 0u);

        std::vector<std::string> lines;
        for (const std::string& line : SplitLines(ReadFileText(FindLogFile(logDir.path()))))
            lines.push_back(line.size() >= 18 ? line.substr(0, 2) + " " + line.substr(18) : "torn: " + line);
        auto first = std::find(lines.begin(), lines.end(), kStarted);
        auto last = std::find(lines.begin(), lines.end(), kStartHandled);
        EXPECT_NE(first, lines.end());
        EXPECT_NE(last, lines.end());
        if (first < last) between.assign(first + 1, last);
        return between;
    }

    TempDir logDir;
    Daemon daemon;
};

TEST_F(ConfigDaemonTest, WorkedExampleIsLoggedLineByLine) {
    TempDir configDir;
    const std::string path = configDir.file("worked-example.dat");
    WriteFileText(path, ReadFileText(BinPath("examples\\worked-example.dat")));
    EXPECT_THAT(LoadThroughDaemon(path), ElementsAreArray(WorkedExampleDump()));
    // The first line's own line feed leaves an empty line before the next one in the file.
    const std::string log = ReadFileText(FindLogFile(logDir.path()));
    EXPECT_NE(log.find("Dumping the extension read from qxpilot.dat file\n\r\n 5 "), std::string::npos);
    EXPECT_NE(log.find("End Dumping\n\r\n"), std::string::npos);
}

TEST_F(ConfigDaemonTest, MissingFileLogsNothing) {
    TempDir configDir;
    EXPECT_THAT(LoadThroughDaemon(configDir.file("absent.dat")), IsEmpty());
}

TEST_F(ConfigDaemonTest, NameWithoutFolderIsLookedForInTheWindowsFolder) {
    const std::string name = "qxtest_config_" + std::to_string(GetCurrentProcessId()) + ".dat";
    WindowsFolderFile system(name, "[Extension_Win]\r\nPlace=77\r\nQXSymbol=SYMBOL\r\n");
    TempDir workingDir;
    WriteFileText(workingDir.file(name), "[Extension_Here]\r\nPlace=88\r\nQXSymbol=SYMBOL\r\n");
    std::vector<std::string> lines = LoadThroughDaemon(name, workingDir.path());
    EXPECT_THAT(lines, testing::Contains(" 5 Place [77] market [-1]"));
    EXPECT_THAT(lines, testing::Not(testing::Contains(" 5 Place [88] market [-1]")));
}

TEST_F(ConfigDaemonTest, EmptyNameReadsQxpilotDatInTheWindowsFolder) {
    WindowsFolderFile system("qxpilot.dat", "[Extension_Default]\r\nPlace=66\r\nQXSymbol=ISIN\r\n");
    std::vector<std::string> lines = LoadThroughDaemon("");
    EXPECT_THAT(lines, testing::Contains(" 5 Place [66] market [-1]"));
}

}  // namespace

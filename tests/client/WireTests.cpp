// What the exports of IQXPilotSt.dll send, byte for byte, and what they return, against a recording window of
// the daemon's class.
#include "client/IQXPilotSt.h"
#include "tests/client/RecordingReceiver.h"
#include "tests/client/WireBytes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>

using namespace qxtest;

namespace {

using wire::kModuleSize;
using wire::kPilotSize;
using wire::kStartSize;

struct WireCase {
    const char* name;
    std::function<int32_t()> call;
    ULONG_PTR code;
    std::vector<std::uint8_t> bytes;  // empty: no record
};

class WireTest : public ::testing::Test {
protected:
    void SetUp() override { KillStrayDaemon(); }

    void RunCases(RecordingReceiver& receiver, const std::vector<WireCase>& cases) {
        for (const WireCase& c : cases) {
            SCOPED_TRACE(c.name);
            receiver.clear();
            EXPECT_EQ(c.call(), IQXP_OK);
            auto requests = receiver.requests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_TRUE(SameRequest(requests[0], c.code, c.bytes));
        }
    }
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST_F(WireTest, EachSendingExportPutsItsExactRecordOnTheWire) {
    RecordingReceiver receiver;
    ASSERT_TRUE(receiver.ready());

    const std::string a63 = Repeat('a', 63), b255 = Repeat('b', 255);
    const std::string m31 = Repeat('m', 31), k31 = Repeat('k', 31);
    std::vector<WireCase> cases = {
        {"start, plain texts", [] { return StartQuodrix("127.0.0.1", 7001, "qxpilot.dat"); }, 1,
         WireBytes(kStartSize).text(0, 64, "127.0.0.1").int32(64, 7001).text(68, 256, "qxpilot.dat").bytes()},
        {"start, null texts are empty", [] { return StartQuodrix(nullptr, -5, nullptr); }, 1,
         WireBytes(kStartSize).int32(64, -5).bytes()},
        {"start, texts of width-1 arrive whole", [&] { return StartQuodrix(a63.c_str(), INT_MIN, b255.c_str()); },
         1, WireBytes(kStartSize).text(0, 64, a63).int32(64, INT_MIN).text(68, 256, b255).bytes()},
        {"start, longer texts are cut to width-1",
         [] { return StartQuodrix(Repeat('a', 64).c_str(), INT_MAX, Repeat('c', 400).c_str()); }, 1,
         WireBytes(kStartSize).text(0, 64, Repeat('a', 63)).int32(64, INT_MAX).text(68, 256, Repeat('c', 255)).bytes()},
        {"module, plain texts", [] { return AddPilotingModule("Trader", "Vista"); }, 2,
         WireBytes(kModuleSize).text(0, 32, "Trader").text(32, 32, "Vista").bytes()},
        {"module, width-1 whole", [&] { return AddPilotingModule(m31.c_str(), k31.c_str()); }, 2,
         WireBytes(kModuleSize).text(0, 32, m31).text(32, 32, k31).bytes()},
        {"module, 40 characters cut to 31",
         [] { return AddPilotingModule("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd", Repeat('k', 32).c_str()); }, 2,
         WireBytes(kModuleSize).text(0, 32, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234").text(32, 32, k31).bytes()},
        {"module, null texts", [] { return AddPilotingModule(nullptr, nullptr); }, 2, WireBytes(kModuleSize).bytes()},
        {"pilot, every field",
         [] {
             return PilotQuodrix(25, 7, 1, 99, "ABC", "EXTRA", "GRP", "XS0000000017", "EUR", "CC1", "UNDER");
         },
         3,
         WireBytes(kPilotSize)
             .int32(0, 25).int32(4, 7).int32(8, 1).int32(12, 99)
             .text(16, 33, "ABC").text(49, 11, "EXTRA").text(60, 6, "GRP").text(66, 13, "XS0000000017")
             .text(79, 4, "EUR").text(83, 6, "CC1").text(89, 33, "UNDER")
             .bytes()},
        {"pilot, null texts and extreme integers",
         [] {
             return PilotQuodrix(-1, INT_MAX, INT_MIN, 0x01020304, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
         },
         3, WireBytes(kPilotSize).int32(0, -1).int32(4, INT_MAX).int32(8, INT_MIN).int32(12, 0x01020304).bytes()},
        {"pilot, texts of width-1 arrive whole",
         [] {
             return PilotQuodrix(1, 2, 3, 4, Repeat('s', 32).c_str(), Repeat('e', 10).c_str(), Repeat('g', 5).c_str(),
                                 Repeat('i', 12).c_str(), Repeat('c', 3).c_str(), Repeat('k', 5).c_str(),
                                 Repeat('u', 32).c_str());
         },
         3,
         WireBytes(kPilotSize)
             .int32(0, 1).int32(4, 2).int32(8, 3).int32(12, 4)
             .text(16, 33, Repeat('s', 32)).text(49, 11, Repeat('e', 10)).text(60, 6, Repeat('g', 5))
             .text(66, 13, Repeat('i', 12)).text(79, 4, Repeat('c', 3)).text(83, 6, Repeat('k', 5)).text(89, 33, Repeat('u', 32))
             .bytes()},
        {"pilot, longer texts cut to width-1 without touching the next field",
         [] {
             return PilotQuodrix(1, 2, 3, 4, Repeat('s', 50).c_str(), Repeat('e', 11).c_str(), Repeat('g', 6).c_str(),
                                 Repeat('i', 13).c_str(), Repeat('c', 4).c_str(), Repeat('k', 60).c_str(),
                                 Repeat('u', 33).c_str());
         },
         3,
         WireBytes(kPilotSize)
             .int32(0, 1).int32(4, 2).int32(8, 3).int32(12, 4)
             .text(16, 33, Repeat('s', 32)).text(49, 11, Repeat('e', 10)).text(60, 6, Repeat('g', 5))
             .text(66, 13, Repeat('i', 12)).text(79, 4, Repeat('c', 3)).text(83, 6, Repeat('k', 5)).text(89, 33, Repeat('u', 32))
             .bytes()},
        {"stop, no record", [] { return StopDaemon(); }, 4, {}},
    };
    RunCases(receiver, cases);
}

TEST_F(WireTest, StartQuodrixUtf8ConvertsOnlyTheConfigurationFile) {
    if (GetACP() != 1252) GTEST_SKIP() << "expectations are written for ANSI code page 1252, this one is " << GetACP();
    RecordingReceiver receiver;
    ASSERT_TRUE(receiver.ready());

    // U+00E9 is 0xE9 in 1252; U+20AC is 0x80; U+4E2D and U+1F600 are missing (one '?' per UTF-16 unit);
    // malformed bytes become U+FFFD, then '?'.
    std::vector<WireCase> cases = {
        {"address passed byte for byte", [] { return StartQuodrix_Utf8("\xC3\xA9h\xFF", 7, "conf\xC3\xA9.dat"); }, 1,
         WireBytes(kStartSize).text(0, 64, "\xC3\xA9h\xFF").int32(64, 7).text(68, 256, "conf\xE9.dat").bytes()},
        {"euro sign", [] { return StartQuodrix_Utf8("h", 1, "\xE2\x82\xAC.dat"); }, 1,
         WireBytes(kStartSize).text(0, 64, "h").int32(64, 1).text(68, 256, "\x80.dat").bytes()},
        {"characters the code page lacks", [] { return StartQuodrix_Utf8("h", 1, "\xE4\xB8\xAD_\xF0\x9F\x98\x80"); },
         1, WireBytes(kStartSize).text(0, 64, "h").int32(64, 1).text(68, 256, "?_??").bytes()},
        {"malformed UTF-8", [] { return StartQuodrix_Utf8("h", 1, "x\xFF\xFEy\xC3"); }, 1,
         WireBytes(kStartSize).text(0, 64, "h").int32(64, 1).text(68, 256, "x??y?").bytes()},
        {"converted text cut to 255",
         [] {
             std::string twoHundredSixtyEAcute;
             for (int i = 0; i < 260; ++i) twoHundredSixtyEAcute += "\xC3\xA9";
             return StartQuodrix_Utf8(nullptr, 2, twoHundredSixtyEAcute.c_str());
         },
         1, WireBytes(kStartSize).int32(64, 2).text(68, 256, Repeat('\xE9', 255)).bytes()},
    };
    RunCases(receiver, cases);
}

// Every sending export, as a callable.
std::vector<std::pair<const char*, std::function<int32_t()>>> SendingExports() {
    return {
        {"StopDaemon", [] { return StopDaemon(); }},
        {"StartQuodrix", [] { return StartQuodrix("127.0.0.1", 7001, "qxpilot.dat"); }},
        {"StartQuodrix_Utf8", [] { return StartQuodrix_Utf8("127.0.0.1", 7001, "qxpilot.dat"); }},
        {"AddPilotingModule", [] { return AddPilotingModule("Trader", "Vista"); }},
        {"PilotQuodrix", [] { return PilotQuodrix(25, 7, 1, 0, "ABC", nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr); }},
    };
}

// Leaves a non-zero value in the library's last error, through a send that the receiver answers with an error.
void ProvokeLastError(DWORD error) {
    RecordingReceiver receiver(RecordingReceiver::Mode::SameThread);
    ASSERT_TRUE(receiver.ready());
    receiver.leaveError(error);
    ASSERT_EQ(AddPilotingModule("m", "k"), IQXP_OK);
    ASSERT_EQ(static_cast<DWORD>(GetSystemLastError()), error);
}

TEST_F(WireTest, TheErrorLeftBySendMessageIsRecordedAndKeptUntilTheNextCall) {
    // The window procedure runs on the sending thread here, so the error it leaves is what SendMessageA leaves.
    RecordingReceiver receiver(RecordingReceiver::Mode::SameThread);
    ASSERT_TRUE(receiver.ready());
    receiver.leaveError(1234);
    for (const auto& [name, call] : SendingExports()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(), IQXP_OK);
        EXPECT_EQ(GetSystemLastError(), 1234);
        EXPECT_EQ(GetSystemLastError(), 1234) << "reading it changes nothing";
    }
    ASSERT_EQ(receiver.requests().size(), SendingExports().size());
}

TEST_F(WireTest, AnOlderThreadErrorIsClearedBeforeTheSend) {
    RecordingReceiver receiver(RecordingReceiver::Mode::SameThread);
    ASSERT_TRUE(receiver.ready());
    for (const auto& [name, call] : SendingExports()) {
        SCOPED_TRACE(name);
        receiver.clear();
        SetLastError(ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(call(), IQXP_OK);
        auto requests = receiver.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].errorAtEntry, 0u);
        EXPECT_EQ(GetSystemLastError(), 0);
    }
}

TEST_F(WireTest, WithoutADaemonEverySendingExportReturns100AndClearsTheError) {
    ASSERT_EQ(DaemonWindowPid(), 0u);
    for (const auto& [name, call] : SendingExports()) {
        SCOPED_TRACE(name);
        ProvokeLastError(1234);
        EXPECT_EQ(call(), IQXP_NO_DAEMON);
        EXPECT_EQ(GetSystemLastError(), 0);
    }
}

TEST_F(WireTest, ArgumentFailuresSendNothingAndLeaveNoError) {
    RecordingReceiver receiver(RecordingReceiver::Mode::SameThread);
    ASSERT_TRUE(receiver.ready());
    receiver.leaveError(4321);
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        int32_t expected;
    };
    const Case cases[] = {
        {"StartQuodrix_Utf8 null file", [] { return StartQuodrix_Utf8("127.0.0.1", 1, nullptr); }, -1},
        {"StartQuodrix_Utf8 empty file", [] { return StartQuodrix_Utf8("127.0.0.1", 1, ""); }, -1},
        {"StartDaemon null path", [] { return StartDaemon(nullptr, 0, "C:\\logs"); }, 101},
        {"StartDaemon_Utf8 null path", [] { return StartDaemon_Utf8(nullptr, 1, nullptr); }, 101},
        {"StartDaemon_Utf8 empty path", [] { return StartDaemon_Utf8("", 0, "C:\\logs"); }, 107},
        {"StartDaemon missing file", [] { return StartDaemon("C:\\nonexistent\\QXPilotSt.exe", 0, nullptr); }, 102},
        {"StartDaemon missing file, command line",
         [] { return StartDaemon("C:\\nonexistent\\QXPilotSt.exe", 0, "C:\\logs"); }, 102},
        {"StartDaemon missing file, labelled",
         [] { return StartDaemon("C:\\nonexistent\\QXPilotSt.exe", 1, "C:\\logs"); }, 102},
        {"StartDaemon_Utf8 missing file", [] { return StartDaemon_Utf8("C:\\nonexistent\\caf\xC3\xA9.exe", 0, nullptr); },
         102},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(AddPilotingModule("m", "k"), IQXP_OK);
        ASSERT_EQ(GetSystemLastError(), 4321);
        receiver.clear();
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(GetSystemLastError(), 0);
        EXPECT_TRUE(receiver.requests().empty());
    }
}

}  // namespace

// The terminal link's parts that need no terminal: the image name, an empty link, the event sink.
#include "daemon/log/Logger.h"
#include "daemon/proxy/QXLink.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace qxtest;

namespace {

struct ImageNameCase {
    const char* name;
    bool terminal;
};

TEST(TerminalImageNameTest, OnlyTheExactNameCounts) {
    const ImageNameCase cases[] = {
        {"Velo.exe", true},  {"velo.exe", false},  {"VELO.EXE", false}, {"Velo.EXE", false},
        {"Velo.ex", false},  {"Velo.exe ", false}, {" Velo.exe", false}, {"XVelo.exe", false},
        {"Velo", false},     {"", false},          {nullptr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsTerminalImageName(c.name), c.terminal) << (c.name ? c.name : "(null)");
    }
}

class Listener : public CQXLink::IEvents {
public:
    void OnTerminalClosed() override { ++calls; }
    std::atomic<int> calls{0};
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        theLogger.open(logDir.path().c_str());
        ASSERT_TRUE(theLogger.isOpen());
        headerLines = LogTexts(logDir.path()).size();
    }
    void TearDown() override { theLogger.close(); }
    // Lines written after the header.
    std::vector<std::string> written() {
        auto all = LogTexts(logDir.path());
        return std::vector<std::string>(all.begin() + static_cast<long>(headerLines), all.end());
    }

    TempDir logDir;
    size_t headerLines = 0;
};

TEST_F(LinkTest, EmptyAfterConstruction) {
    CQXLink link;
    EXPECT_FALSE(link.m_app);
    EXPECT_FALSE(link.m_sink);
    EXPECT_FALSE(link.m_connected);
    EXPECT_EQ(link.m_events.load(), nullptr);
}

TEST_F(LinkTest, DisposeOnAnEmptyLinkDoesNothingAndLogsNothing) {
    {
        CQXLink link;
        link.Dispose();
        link.Dispose();
        EXPECT_FALSE(link.m_app);
        EXPECT_FALSE(link.m_sink);
    }
    EXPECT_TRUE(written().empty());
}

TEST_F(LinkTest, SinkStartsWithOneReferenceAndNoConnection) {
    auto sink = CQuodrixEventHandler::Create();
    EXPECT_EQ(sink->refCount(), 1);
    EXPECT_EQ(sink->cookie(), 0u);
    EXPECT_FALSE(sink->source());
    EXPECT_EQ(sink->m_owner.load(), nullptr);
    void* out = nullptr;
    EXPECT_EQ(sink->QueryInterface(IID_ITFrameWndEvents, &out), S_OK);
    static_cast<IUnknown*>(out)->Release();
    EXPECT_EQ(sink->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(LinkTest, FrameClosingWithoutListenerDoesNothing) {
    CQXLink link;
    auto sink = CQuodrixEventHandler::Create();
    EXPECT_EQ(sink->FrameClosing(0), S_OK);  // no owner
    sink->m_owner = &link;
    EXPECT_EQ(sink->FrameClosing(0), S_OK);  // owner without listener
    EXPECT_TRUE(written().empty());
}

TEST_F(LinkTest, FrameClosingTellsTheListenerOnceAndTracesOnce) {
    CQXLink link;
    Listener listener;
    link.m_events = &listener;
    auto sink = CQuodrixEventHandler::Create();
    sink->m_owner = &link;
    EXPECT_EQ(sink->FrameClosing(3), S_OK);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_EQ(written(), std::vector<std::string>{"Quodrix is beeing closed"});
}

// A listener that stays inside its call until released.
class SlowListener : public CQXLink::IEvents {
public:
    void OnTerminalClosed() override {
        SetEvent(entered);
        WaitForSingleObject(release, INFINITE);
        finished = true;
    }
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> finished{false};
    ~SlowListener() {
        CloseHandle(entered);
        CloseHandle(release);
    }
};

TEST_F(LinkTest, DetachingTheListenerWaitsForAnEventCallUsingIt) {
    CQXLink link;
    SlowListener listener;
    link.m_events = &listener;
    auto sink = CQuodrixEventHandler::Create();
    sink->m_owner = &link;

    std::thread event([&] { sink->FrameClosing(0); });
    ASSERT_EQ(WaitForSingleObject(listener.entered, 10000), WAIT_OBJECT_0);
    std::atomic<bool> detached{false};
    bool finishedBeforeDetach = false;
    std::thread detach([&] {
        link.DetachListener();
        finishedBeforeDetach = listener.finished;
        detached = true;
    });
    // While the call runs, detaching must not complete: the listener could be destroyed under it.
    Sleep(100);
    EXPECT_FALSE(detached);
    SetEvent(listener.release);
    event.join();
    detach.join();
    EXPECT_TRUE(finishedBeforeDetach);
    EXPECT_EQ(link.m_events.load(), nullptr);
    EXPECT_EQ(sink->FrameClosing(0), S_OK);  // nothing to tell any more
}

TEST_F(LinkTest, TheOtherEventsAreAcceptedWithoutTrace) {
    CQXLink link;
    Listener listener;
    link.m_events = &listener;
    auto sink = CQuodrixEventHandler::Create();
    sink->m_owner = &link;
    ITFrameWndEvents* events = sink.get();
    EXPECT_EQ(events->FrameActivated(), S_OK);
    EXPECT_EQ(events->FrameDeactivated(), S_OK);
    EXPECT_EQ(events->FrameResized(800, 600), S_OK);
    EXPECT_EQ(events->FrameMoved(-1, -1), S_OK);
    EXPECT_EQ(events->GroupActivated(nullptr), S_OK);
    EXPECT_EQ(events->WindowPiloted(nullptr), S_OK);
    EXPECT_EQ(listener.calls, 0);
    EXPECT_TRUE(written().empty());
}

}  // namespace

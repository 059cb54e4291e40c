// A pilot request inside the daemon's own code: resolution, log lines, pending value and the post.
#include "daemon/core/Application.h"
#include "daemon/log/Logger.h"
#include "daemon/piloting/Piloting.h"
#include "daemon/proxy/ProxyData.h"
#include "tests/support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

using namespace qxtest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string PendingValue() {
    CriticalSectionGuard guard(theProxyData.m_lock);
    return theProxyData.m_pendingValue;
}

void SetPendingValue(const std::string& value) {
    CriticalSectionGuard guard(theProxyData.m_lock);
    theProxyData.m_pendingValue = value;
}

class HandOffTest : public ::testing::Test {
protected:
    void SetUp() override {
        theLogger.open(logDir.path().c_str());
        ASSERT_TRUE(theLogger.isOpen());
        SetPendingValue("before");
    }
    void TearDown() override { theLogger.close(); }

    // Lines written since the header, as the 3-character tag or level, "|" and the text.
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        std::vector<std::string> all = SplitLines(ReadFileText(theLogger.path()));
        for (std::size_t i = 10; i < all.size(); ++i)
            lines.push_back(all[i].size() >= 18 ? all[i].substr(0, 3) + "|" + all[i].substr(18) : all[i]);
        return lines;
    }

    void Configure(std::int32_t place, std::int32_t market, const char* keyType, const char* extension = ".P") {
        SetPilotingKey(app.config, place, market, "DEFAULT", "DEFAULT", "DEFAULT", extension, keyType);
    }

    // What the control window does with a pilot request.
    void Pilot(std::int32_t place, std::int32_t codeMiddle, std::int32_t market, const char* isin = "XS0000000017",
               const char* currency = "EUR", const char* symbol = "ABC") {
        app.config.currentMarket = market;
        app.config.currentPlace = place;
        app.PilotInstrument(place, codeMiddle, market, "", isin, currency, symbol, "", "");
    }

    TempDir logDir;
    CApplication app;
};

struct KeyTypeCase {
    const char* keyType;
    const char* trace;
    const char* value;
};

TEST_F(HandOffTest, WorkedExamplesReachThePendingValueWithTheirLines) {
    const KeyTypeCase cases[] = {
        {"ISIN", "Piloting using Isin value", "ISIN=XS0000000017.P"},
        {"ISIN_CURRENCY", "Piloting using Isin and Currency values", "ISINC=XS0000000017EUR.P"},
        {"KTVID", "Piloting using KTVID", "KTV=002500703000ABC.P"},
        {"SYMBOL", "Piloting using Symbol", "ABC.P"},
    };
    std::int32_t market = 3;
    std::vector<std::string> expected;
    for (const KeyTypeCase& c : cases) {
        // One market per key type, the KTVID one at market 3 so that its code is the worked example's.
        std::int32_t configured = std::string(c.keyType) == "KTVID" ? 3 : ++market;
        Configure(25, configured, c.keyType);
        Pilot(25, 7, configured);
        EXPECT_EQ(PendingValue(), c.value);
        expected.push_back(" 3 |Piloting key found on : place [25], market [" + std::to_string(configured) +
                           "], credit class [DEFAULT], underlying [DEFAULT] and group [DEFAULT]");
        expected.push_back(std::string(" 3 |") + c.trace);
        expected.push_back(std::string(" 1 |Value that had been sent to Quodrix : [") + c.value + "]");
    }
    EXPECT_EQ(Lines(), expected);
}

TEST_F(HandOffTest, IsinCurrencyWithoutCurrencySendsTheSymbol) {
    Configure(25, 3, "ISIN_CURRENCY");
    Pilot(25, 7, 3, "XS0000000017", "");
    EXPECT_EQ(PendingValue(), "ABC.P");
    EXPECT_THAT(Lines(), ElementsAre(::testing::_, " 3 |Piloting using Isin and Currency values",
                                     " 1 |Value that had been sent to Quodrix : [ABC.P]"));
}

TEST_F(HandOffTest, NoKeyFoundSendsNothing) {
    Configure(25, 3, "SYMBOL");
    Pilot(26, 7, 3);
    EXPECT_EQ(PendingValue(), "before");
    EXPECT_THAT(Lines(), ElementsAre("EE |The Verid was not found"));
}

TEST_F(HandOffTest, EmptyConfigurationSendsNothing) {
    Pilot(25, 7, 3);
    EXPECT_EQ(PendingValue(), "before");
    EXPECT_THAT(Lines(), ElementsAre("EE |The Verid was not found"));
}

TEST_F(HandOffTest, UnknownKeyTypeSendsAndLogsNothing) {
    Configure(25, 3, "ISIN CURRENCY");
    Pilot(25, 7, 3);
    EXPECT_EQ(PendingValue(), "before");
    EXPECT_THAT(Lines(), ElementsAre(" 3 |Piloting key found on : place [25], market [3], credit class [DEFAULT], "
                                     "underlying [DEFAULT] and group [DEFAULT]"));
}

TEST_F(HandOffTest, EmptyValueIsStillHandedOff) {
    Configure(25, 3, "SYMBOL", "");
    Pilot(25, 7, 3, "XS0000000017", "EUR", "");
    EXPECT_EQ(PendingValue(), "");
    EXPECT_THAT(Lines(), ElementsAre(::testing::_, " 3 |Piloting using Symbol",
                                     " 1 |Value that had been sent to Quodrix : []"));
}

TEST_F(HandOffTest, KtvidCarriesTheRequestMarketAfterAFallback) {
    Configure(25, AnyMarket, "KTVID");
    Pilot(25, 7, 3);
    EXPECT_EQ(PendingValue(), "KTV=002500703000ABC.P");
    EXPECT_EQ(app.config.currentMarket, AnyMarket);
    EXPECT_THAT(Lines(), ElementsAre(" 3 |Piloting key found on : place [25], market [-1], credit class [DEFAULT], "
                                     "underlying [DEFAULT] and group [DEFAULT]",
                                     " 3 |Piloting using KTVID",
                                     " 1 |Value that had been sent to Quodrix : [KTV=002500703000ABC.P]"));
}

TEST_F(HandOffTest, KtvidWideNumbersStillPilot) {
    Configure(12345, -5, "KTVID", "");
    Pilot(12345, 1234, -5, "", "", "S");
    EXPECT_EQ(PendingValue(), "KTV=123451234-5000S");
}

TEST_F(HandOffTest, SecondRequestUsesItsOwnMarket) {
    Configure(30, 1, "SYMBOL", ".B1");
    Configure(30, AnyMarket, "SYMBOL", ".ANY");
    // Only the place is set from outside: the market comes with the request itself.
    app.config.currentPlace = 30;
    app.PilotInstrument(30, 0, 2, "", "", "", "ABC", "", "");
    EXPECT_EQ(app.config.currentMarket, AnyMarket);
    EXPECT_EQ(PendingValue(), "ABC.ANY");
    app.PilotInstrument(30, 0, 1, "", "", "", "ABC", "", "");
    EXPECT_EQ(app.config.currentMarket, 1);
    EXPECT_EQ(PendingValue(), "ABC.B1");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], " 3 |Piloting key found on : place [30], market [-1], credit class [DEFAULT], "
                        "underlying [DEFAULT] and group [DEFAULT]");
    EXPECT_EQ(lines[3], " 3 |Piloting key found on : place [30], market [1], credit class [DEFAULT], "
                        "underlying [DEFAULT] and group [DEFAULT]");
}

TEST_F(HandOffTest, NullValueDoesNothing) {
    PostPilotingValue(nullptr);
    EXPECT_EQ(PendingValue(), "before");
    EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(HandOffTest, WithoutProxyThreadTheValueWaits) {
    {
        CriticalSectionGuard guard(theProxyData.m_lock);
        ASSERT_EQ(theProxyData.m_threadId, 0u);
    }
    PostPilotingValue("ISIN=X");
    EXPECT_EQ(PendingValue(), "ISIN=X");
    PostPilotingValue("ISIN=Y");
    EXPECT_EQ(PendingValue(), "ISIN=Y");
}

class OwnedEvent {
public:
    OwnedEvent() : m_handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~OwnedEvent() {
        if (m_handle != nullptr) CloseHandle(m_handle);
    }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Stands in for the proxy thread: registers its id, then, once told to, takes what is in its queue and reads
// the pending value for each pilot message, as a piloting pass does.
class FakeProxyThread {
public:
    FakeProxyThread()
        : m_thread([this] {
              MSG msg;
              PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists from here on
              {
                  CriticalSectionGuard guard(theProxyData.m_lock);
                  theProxyData.m_threadId = GetCurrentThreadId();
              }
              SetEvent(m_ready.get());
              if (WaitForSingleObject(m_go.get(), 30000) != WAIT_OBJECT_0) return;
              while (PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
                  if (msg.message == QXPROXY_MSG_PILOT && msg.wParam == 0 && msg.lParam == 0)
                      received.push_back(PendingValue());
                  else
                      received.push_back("unexpected message " + std::to_string(msg.message));
              }
          }) {}
    ~FakeProxyThread() {
        SetEvent(m_go.get());
        if (m_thread.joinable()) m_thread.join();
        CriticalSectionGuard guard(theProxyData.m_lock);
        theProxyData.m_threadId = 0;
    }
    bool waitReady() { return WaitForSingleObject(m_ready.get(), 30000) == WAIT_OBJECT_0; }
    void drain() {
        SetEvent(m_go.get());
        m_thread.join();
    }

    std::vector<std::string> received;

private:
    OwnedEvent m_ready;
    OwnedEvent m_go;
    std::thread m_thread;
};

TEST_F(HandOffTest, TwoRequestsBeforeTheProxyLooksBothPilotTheLastValue) {
    Configure(25, 3, "SYMBOL");
    FakeProxyThread proxy;
    ASSERT_TRUE(proxy.waitReady());
    Pilot(25, 7, 3, "", "", "FIRST");
    Pilot(25, 7, 3, "", "", "SECOND");
    proxy.drain();
    EXPECT_THAT(proxy.received, ElementsAre("SECOND.P", "SECOND.P"));
    EXPECT_EQ(PendingValue(), "SECOND.P");
}

}  // namespace

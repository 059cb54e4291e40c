// The sink templates against an in-process source, container and connection point.
#include "daemon/proxy/ComHelper.h"
#include "tests/proxy/FakeSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ComHelper::ComPtr;

namespace {

// What the sink's memory release saw: taken in operator delete, after every destructor ran.
struct FreeProbe {
    bool freed = false;
    int frees = 0;
    int unadvisesAtFree = -1;
    LONG sourceRefsAtFree = -1;
    FakeConnectionPoint* point = nullptr;
    FakeSource* source = nullptr;
};
FreeProbe* g_probe = nullptr;

class TestSink : public ComHelper::CComEventHandler<IFakeSource, IFakeEvents, IID_IFakeEvents> {
public:
    static ComPtr<TestSink> Create() { return ComPtr<TestSink>(new TestSink); }

    HRESULT STDMETHODCALLTYPE Ping(LONG value) override {
        pings.push_back(value);
        return S_OK;
    }

    static void operator delete(void* memory) {
        if (g_probe) {
            g_probe->freed = true;
            ++g_probe->frees;
            if (g_probe->point) g_probe->unadvisesAtFree = g_probe->point->unadvises;
            if (g_probe->source) g_probe->sourceRefsAtFree = g_probe->source->refs();
        }
        ::operator delete(memory);
    }

    std::vector<LONG> pings;

private:
    TestSink() = default;
    ~TestSink() override = default;
};

ComPtr<IFakeSource> Ref(FakeSource& source) { return ComPtr<IFakeSource>(&source); }

class SinkTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        probe.point = &point;
        probe.source = &source;
        g_probe = &probe;
    }
    void TearDown() override {
        sink = nullptr;
        g_probe = nullptr;
        // Nothing keeps a reference to the fakes once the sink is gone.
        EXPECT_EQ(source.refs(), 0);
        EXPECT_EQ(point.refs(), 0);
    }

    FreeProbe probe;
    FakeConnectionPoint point;
    FakeSource source{point};
    ComPtr<TestSink> sink = TestSink::Create();
};

TEST_F(SinkTemplateTest, FirstReferenceIsTheCreatorsAndReleaseCountsDown) {
    EXPECT_EQ(sink->refCount(), 1);
    EXPECT_EQ(sink->AddRef(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_FALSE(probe.freed);
    sink = nullptr;
    EXPECT_TRUE(probe.freed);
}

struct QueryCase {
    const char* name;
    IID iid;
    HRESULT expected;
};

TEST_F(SinkTemplateTest, QueryInterfaceAnswersIUnknownAndTheEventInterfaceOnly) {
    const QueryCase cases[] = {
        {"IUnknown", IID_IUnknown, S_OK},
        {"event interface", IID_IFakeEvents, S_OK},
        {"IDispatch", IID_IDispatch, E_NOINTERFACE},
        {"source interface", IID_IFakeSource, E_NOINTERFACE},
        {"IConnectionPointContainer", IID_IConnectionPointContainer, E_NOINTERFACE},
        {"IMarshal", IID_IMarshal, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        void* out = reinterpret_cast<void*>(0x1234);
        const LONG before = sink->refCount();
        EXPECT_EQ(sink->QueryInterface(c.iid, &out), c.expected);
        if (c.expected == S_OK) {
            // One object pointer serves as IUnknown and as the event interface.
            EXPECT_EQ(out, static_cast<void*>(static_cast<IFakeEvents*>(sink.get())));
            EXPECT_EQ(sink->refCount(), before + 1);
            static_cast<IUnknown*>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(sink->refCount(), before);
        }
    }
}

TEST_F(SinkTemplateTest, QueryInterfaceWithNullOutPointerIsEPointer) {
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(sink->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
    EXPECT_EQ(sink->refCount(), 1);
}

TEST_F(SinkTemplateTest, AdviseConnectsAndEventsArrive) {
    EXPECT_EQ(sink->Advise(Ref(source)), S_OK);
    EXPECT_NE(sink->cookie(), 0u);
    EXPECT_EQ(point.advises, 1);
    ASSERT_EQ(source.pointsAskedFor.size(), 1u);
    EXPECT_TRUE(IsEqualIID(source.pointsAskedFor[0], IID_IFakeEvents));
    // The sink keeps the source; the connection point keeps the sink; container and point were let go.
    EXPECT_EQ(source.refs(), 1);
    EXPECT_EQ(point.refs(), 0);
    EXPECT_EQ(sink->refCount(), 2);
    EXPECT_EQ(source.Fire(7), S_OK);
    EXPECT_EQ(sink->pings, std::vector<LONG>{7});
    // Sink and source hold each other until the connection ends.
    EXPECT_EQ(sink->Unadvise(), S_OK);
}

TEST_F(SinkTemplateTest, UnadviseDisconnectsAndReleasesTheSource) {
    ASSERT_EQ(sink->Advise(Ref(source)), S_OK);
    const DWORD cookie = sink->cookie();
    EXPECT_EQ(sink->Unadvise(), S_OK);
    EXPECT_EQ(point.unadvisedCookies, std::vector<DWORD>{cookie});
    EXPECT_EQ(sink->cookie(), 0u);
    EXPECT_FALSE(sink->source());
    EXPECT_EQ(source.refs(), 0);
    EXPECT_EQ(sink->refCount(), 1);
}

TEST_F(SinkTemplateTest, UnadviseOnANeverAdvisedSinkIsEFailAndReleasesNothing) {
    EXPECT_EQ(sink->Unadvise(), E_FAIL);
    EXPECT_EQ(point.unadvises, 0);
    EXPECT_EQ(sink->refCount(), 1);
}

TEST_F(SinkTemplateTest, UnadviseAfterARefusedAdviceKeepsTheSource) {
    point.adviseResult = CONNECT_E_ADVISELIMIT;
    EXPECT_EQ(sink->Advise(Ref(source)), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(sink->cookie(), 0u);
    EXPECT_EQ(source.refs(), 1);
    EXPECT_EQ(sink->Unadvise(), E_FAIL);
    EXPECT_EQ(source.refs(), 1);
    EXPECT_EQ(point.unadvises, 0);
}

TEST_F(SinkTemplateTest, AdviseAgainUnadvisesFirstAndGetsANewCookie) {
    ASSERT_EQ(sink->Advise(Ref(source)), S_OK);
    const DWORD first = sink->cookie();
    EXPECT_EQ(sink->Advise(Ref(source)), S_OK);
    const DWORD second = sink->cookie();
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_EQ(point.unadvisedCookies, std::vector<DWORD>{first});
    EXPECT_EQ(point.advises, 2);
    EXPECT_EQ(point.sinks.size(), 1u);
    EXPECT_EQ(source.refs(), 1);
    EXPECT_EQ(sink->refCount(), 2);
    EXPECT_EQ(sink->Unadvise(), S_OK);
}

TEST_F(SinkTemplateTest, AdviseOnAnotherSourceMovesTheConnection) {
    FakeConnectionPoint otherPoint;
    FakeSource other{otherPoint};
    ASSERT_EQ(sink->Advise(Ref(source)), S_OK);
    ASSERT_EQ(sink->Advise(Ref(other)), S_OK);
    EXPECT_EQ(point.unadvises, 1);
    EXPECT_TRUE(point.sinks.empty());
    EXPECT_EQ(otherPoint.sinks.size(), 1u);
    EXPECT_EQ(source.refs(), 0);
    EXPECT_EQ(other.refs(), 1);
    EXPECT_EQ(sink->Unadvise(), S_OK);
    EXPECT_EQ(other.refs(), 0);
}

struct AdviseFailureCase {
    const char* name;
    bool isContainer;
    HRESULT findResult;
    HRESULT adviseResult;
    HRESULT expected;
};

TEST_F(SinkTemplateTest, FailuresOfTheForwardedCallsAreReturned) {
    const AdviseFailureCase cases[] = {
        {"no container", false, S_OK, S_OK, E_NOINTERFACE},
        {"no connection point", true, CONNECT_E_NOCONNECTION, S_OK, CONNECT_E_NOCONNECTION},
        {"advice refused", true, S_OK, CONNECT_E_CANNOTCONNECT, CONNECT_E_CANNOTCONNECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeConnectionPoint localPoint;
        FakeSource localSource{localPoint};
        localSource.isContainer = c.isContainer;
        localSource.findResult = c.findResult;
        localPoint.adviseResult = c.adviseResult;
        {
            ComPtr<TestSink> local = TestSink::Create();
            EXPECT_EQ(local->Advise(Ref(localSource)), c.expected);
            EXPECT_EQ(local->cookie(), 0u);
            // The source stays held even though the advice failed; the given reference was consumed.
            EXPECT_EQ(localSource.refs(), 1);
            EXPECT_EQ(localPoint.refs(), 0);
            EXPECT_EQ(local->refCount(), 1);
        }
        EXPECT_EQ(localSource.refs(), 0);
    }
}

TEST_F(SinkTemplateTest, FailingUnadviseIsReturnedAndStillLetsGo) {
    ASSERT_EQ(sink->Advise(Ref(source)), S_OK);
    point.unadviseResult = RPC_E_DISCONNECTED;
    EXPECT_EQ(sink->Unadvise(), RPC_E_DISCONNECTED);
    EXPECT_EQ(sink->cookie(), 0u);
    EXPECT_EQ(source.refs(), 0);
    // The connection point kept its reference: drop it as a server would when it goes away.
    point.sinks.begin()->second->Release();
    point.sinks.clear();
}

struct NullAnswerCase {
    const char* name;
    bool nullSource;
    bool nullContainer;
    bool nullPoint;
};

TEST_F(SinkTemplateTest, NullInterfacesWithSuccessRaiseEPointer) {
    const NullAnswerCase cases[] = {
        {"no source", true, false, false},
        {"null container", false, true, false},
        {"null connection point", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeConnectionPoint localPoint;
        FakeSource localSource{localPoint};
        localSource.nullContainer = c.nullContainer;
        localSource.nullPoint = c.nullPoint;
        {
            ComPtr<TestSink> local = TestSink::Create();
            ComPtr<IFakeSource> given = c.nullSource ? ComPtr<IFakeSource>() : Ref(localSource);
            try {
                local->Advise(std::move(given));
                ADD_FAILURE() << "no COM error raised";
            } catch (const ComError& error) {
                EXPECT_EQ(error.hr(), E_POINTER);
                EXPECT_TRUE(IsEqualIID(error.iid(), IID_IConnectionPointContainer));
            }
            EXPECT_EQ(local->cookie(), 0u);
            EXPECT_EQ(localPoint.advises, 0);
        }
        EXPECT_EQ(localSource.refs(), 0);
        EXPECT_EQ(localPoint.refs(), 0);
    }
}

TEST_F(SinkTemplateTest, LastReleaseOfAnAdvisedSinkUnadvisesBeforeTheMemoryGoes) {
    // A connection point that does not keep the sink alive lets the creator's release be the last one.
    point.holdsReference = false;
    // References taken and returned during the unadvise must not free the sink a second time.
    point.touchOnUnadvise = true;
    ASSERT_EQ(sink->Advise(Ref(source)), S_OK);
    const DWORD cookie = sink->cookie();
    ASSERT_EQ(sink->refCount(), 1);
    sink = nullptr;
    EXPECT_EQ(probe.frees, 1);
    EXPECT_EQ(probe.unadvisesAtFree, 1);
    EXPECT_EQ(probe.sourceRefsAtFree, 0);
    EXPECT_EQ(point.unadvisedCookies, std::vector<DWORD>{cookie});
    EXPECT_TRUE(point.sinks.empty());
}

TEST_F(SinkTemplateTest, LastReleaseByTheConnectionPointUnadvisesToo) {
    ASSERT_EQ(sink->Advise(Ref(source)), S_OK);
    IUnknown* held = point.sinks.begin()->second;
    sink = nullptr;
    EXPECT_FALSE(probe.freed);  // the connection point still holds it
    // The source side drops its reference without unadvising (a server that went away).
    point.holdsReference = false;
    held->Release();
    EXPECT_TRUE(probe.freed);
    EXPECT_EQ(probe.unadvisesAtFree, 1);
    EXPECT_EQ(probe.sourceRefsAtFree, 0);
}

TEST(ComPtrTest, CopiesMovesAndResetsCountReferences) {
    FakeConnectionPoint point;
    {
        ComPtr<IConnectionPoint> a(&point);
        EXPECT_EQ(point.refs(), 1);
        ComPtr<IConnectionPoint> b = a;
        EXPECT_EQ(point.refs(), 2);
        ComPtr<IConnectionPoint> c = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(point.refs(), 2);
        a = c;  // same object: no change
        EXPECT_EQ(point.refs(), 2);
        c = nullptr;
        EXPECT_EQ(point.refs(), 1);
        void** out = a.putVoid();  // an out parameter releases what was held
        EXPECT_EQ(point.refs(), 0);
        EXPECT_EQ(*out, nullptr);
        point.AddRef();
        *out = static_cast<IConnectionPoint*>(&point);
    }
    EXPECT_EQ(point.refs(), 0);
}

}  // namespace

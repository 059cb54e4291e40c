// Velo.exe through real COM from this test process: creation, lists, changes, piloting, the journal,
// the fault switches, events across processes, registration.
#include "tests/support/Simulator.h"
#include "tools/velo/ComRef.h"
#include "tools/velo/VeloText.h"

#include "QuodrixLib.h"

#include <olectl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

using namespace qxtest;
using velo::ComRef;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr HRESULT kFailed = static_cast<HRESULT>(0x80004005);

class Bstr {
public:
    explicit Bstr(const std::wstring& text = L"")
        : m_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_bstr); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return m_bstr; }
    BSTR* put() {
        SysFreeString(m_bstr);
        m_bstr = nullptr;
        return &m_bstr;
    }
    std::wstring text() const { return velo::WideFromBstr(m_bstr); }

private:
    BSTR m_bstr;
};

class ArrayOwner {
public:
    ArrayOwner() = default;
    explicit ArrayOwner(SAFEARRAY* array) : m_array(array) {}
    ~ArrayOwner() {
        if (m_array) SafeArrayDestroy(m_array);
    }
    ArrayOwner(const ArrayOwner&) = delete;
    ArrayOwner& operator=(const ArrayOwner&) = delete;
    SAFEARRAY* get() const { return m_array; }
    SAFEARRAY** put() {
        if (m_array) SafeArrayDestroy(m_array);
        m_array = nullptr;
        return &m_array;
    }

private:
    SAFEARRAY* m_array = nullptr;
};

// The daemon's window properties array: one row, (0,0) VT_INT 1, (0,1) VT_BSTR "Piloted".
SAFEARRAY* DaemonProperties() {
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    VARIANT cell;
    VariantInit(&cell);
    V_VT(&cell) = VT_INT;
    V_INT(&cell) = 1;
    LONG first[2] = {0, 0};
    SafeArrayPutElement(array, first, &cell);
    V_VT(&cell) = VT_BSTR;
    V_BSTR(&cell) = SysAllocString(L"Piloted");
    LONG second[2] = {0, 1};
    SafeArrayPutElement(array, second, &cell);
    VariantClear(&cell);
    return array;
}

template <class T>
HRESULT Query(IUnknown* object, REFIID iid, ComRef<T>& out) {
    return object->QueryInterface(iid, reinterpret_cast<void**>(out.put()));
}

// As the daemon creates the terminal object: CoCreateInstance for IUnknown, OleRun, QueryInterface.
HRESULT CreateApplication(ComRef<IApplication>& app) {
    ComRef<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_Application, nullptr, 0x17, IID_IUnknown, reinterpret_cast<void**>(unknown.put()));
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown.get());
    if (FAILED(hr)) return hr;
    return Query(unknown.get(), IID_IApplication, app);
}

struct ListRow {
    std::wstring name;  // column 0
    VARTYPE nameType = VT_EMPTY;
    std::wstring key;   // column 2
    VARTYPE keyType = VT_EMPTY;
};

// Reads rows 0 to count - 1 as the daemon does: element (row, 0) and (row, 2).
std::vector<ListRow> ReadList(SAFEARRAY* list, LONG count) {
    std::vector<ListRow> rows;
    for (LONG i = 0; i < count; ++i) {
        ListRow row;
        for (LONG column : {0L, 2L}) {
            LONG index[2] = {i, column};
            VARIANT cell;
            VariantInit(&cell);
            EXPECT_EQ(SafeArrayGetElement(list, index, &cell), S_OK) << i << "," << column;
            std::wstring text = V_VT(&cell) == VT_BSTR ? velo::WideFromBstr(V_BSTR(&cell)) : L"";
            if (column == 0) row.name = text, row.nameType = V_VT(&cell);
            else row.key = text, row.keyType = V_VT(&cell);
            VariantClear(&cell);
        }
        rows.push_back(row);
    }
    return rows;
}

// An event sink of our own, as the daemon's: IUnknown and ITFrameWndEvents only.
class TestSink final : public ITFrameWndEvents {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITFrameWndEvents)) {
            *out = static_cast<ITFrameWndEvents*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    IFACEMETHODIMP_(ULONG) Release() override {
        ULONG count = --m_refs;
        if (count == 0) delete this;
        return count;
    }
    IFACEMETHODIMP FrameActivated() override { return count(3); }
    IFACEMETHODIMP FrameDeactivated() override { return count(4); }
    IFACEMETHODIMP FrameResized(LONG, LONG) override { return count(5); }
    IFACEMETHODIMP FrameMoved(LONG, LONG) override { return count(6); }
    IFACEMETHODIMP FrameClosing(LONG) override {
        QueryPerformanceCounter(&closingAt);
        return count(7);
    }
    IFACEMETHODIMP GroupActivated(BSTR) override { return count(8); }
    IFACEMETHODIMP WindowPiloted(BSTR) override { return count(9); }

    int calls(int slot) const { return m_calls[static_cast<std::size_t>(slot)].load(); }
    ULONG refs() const { return m_refs.load(); }
    LARGE_INTEGER closingAt{};

private:
    HRESULT count(int slot) {
        ++m_calls[static_cast<std::size_t>(slot)];
        return S_OK;
    }
    std::atomic<ULONG> m_refs{1};
    std::array<std::atomic<int>, 10> m_calls{};
};

HRESULT Advise(IApplication* app, ITFrameWndEvents* sink, DWORD& cookie) {
    ComRef<IConnectionPointContainer> container;
    HRESULT hr = Query(app, IID_IConnectionPointContainer, container);
    if (FAILED(hr)) return hr;
    ComRef<IConnectionPoint> point;
    hr = container->FindConnectionPoint(IID_ITFrameWndEvents, point.put());
    if (FAILED(hr)) return hr;
    return point->Advise(sink, &cookie);
}

HRESULT Unadvise(IApplication* app, DWORD cookie) {
    ComRef<IConnectionPointContainer> container;
    HRESULT hr = Query(app, IID_IConnectionPointContainer, container);
    if (FAILED(hr)) return hr;
    ComRef<IConnectionPoint> point;
    hr = container->FindConnectionPoint(IID_ITFrameWndEvents, point.put());
    if (FAILED(hr)) return hr;
    return point->Unadvise(cookie);
}

std::vector<std::string> RawLines(const std::string& journal) { return SplitLines(ReadFileText(journal)); }

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

class VeloCom : public ::testing::Test {
public:
    void SetUp() override {
        KillStrayDaemon();
        StopTerminals();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        m_comReady = true;
    }
    void TearDown() override {
        StopTerminals();
        m_registration.reset();
        if (m_comReady) CoUninitialize();
    }

    void Register(const std::vector<std::string>& options = {}) {
        m_registration.reset();
        m_registration = std::make_unique<SimulatorRegistration>(options);
        ASSERT_TRUE(m_registration->ok()) << m_registration->output();
    }

    // A registered, hand-started simulator with `options`, and its application object.
    void StartTerminal(const std::vector<std::string>& options = {}) {
        ASSERT_NO_FATAL_FAILURE(Register());
        ASSERT_TRUE(terminal.start(journal, options));
        ASSERT_EQ(CreateApplication(app), S_OK);
    }

    ComRef<IGroup> Group(const wchar_t* key) {
        ComRef<IGroups> groups;
        EXPECT_EQ(app->get_Groups(groups.put()), S_OK);
        ComRef<IGroup> group;
        Bstr k(key);
        if (groups) {
            EXPECT_EQ(groups->get_Item(k.get(), group.put()), S_OK);
        }
        return group;
    }

    ComRef<IWindows> Windows(const wchar_t* groupKey) {
        ComRef<IWindows> windows;
        ComRef<IGroup> group = Group(groupKey);
        if (group) {
            EXPECT_EQ(group->get_Windows(windows.put()), S_OK);
        }
        return windows;
    }

    ComRef<IWindow> Window(const wchar_t* groupKey, const wchar_t* key) {
        ComRef<IWindow> window;
        ComRef<IWindows> windows = Windows(groupKey);
        Bstr k(key);
        if (windows) {
            EXPECT_EQ(windows->get_Item(k.get(), window.put()), S_OK);
        }
        return window;
    }

    TempDir dir;
    std::string journal = dir.file("velo journal.txt");
    Simulator terminal;
    ComRef<IApplication> app;

private:
    bool m_comReady = false;
    std::unique_ptr<SimulatorRegistration> m_registration;
};

TEST_F(VeloCom, ARunningTerminalServesCreationAndListsItsGroupsAndWindows) {
    ASSERT_NO_FATAL_FAILURE(
        StartTerminal({"--group", "Trader=Vista,Chart", "--group", "Empty", "--group", "Trader=OrderBook,OrderBook,9"}));
    // Attached to the hand-started process: no other Velo.exe, and the creation is in its journal.
    EXPECT_THAT(TerminalPids(), ElementsAre(terminal.pid()));
    EXPECT_EQ(JournalCalls(journal, "IClassFactory.CreateInstance").size(), 1u);

    ComRef<IGroups> groups;
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    LONG count = 0;
    ASSERT_EQ(groups->get_Count(&count), S_OK);
    ASSERT_EQ(count, 3);
    ArrayOwner list;
    ASSERT_EQ(groups->get_List(list.put()), S_OK);
    VARTYPE type = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(list.get(), &type), S_OK);
    EXPECT_EQ(type, VT_VARIANT);
    EXPECT_EQ(SafeArrayGetDim(list.get()), 2u);
    auto rows = ReadList(list.get(), count);
    const std::vector<std::pair<std::wstring, std::wstring>> expectedGroups = {
        {L"Trader", L"G1"}, {L"Empty", L"G2"}, {L"Trader", L"G3"}};
    for (std::size_t i = 0; i < expectedGroups.size(); ++i) {
        EXPECT_EQ(rows[i].name, expectedGroups[i].first);
        EXPECT_EQ(rows[i].nameType, VT_BSTR);
        EXPECT_EQ(rows[i].key, expectedGroups[i].second);
        EXPECT_EQ(rows[i].keyType, VT_BSTR);
    }

    struct WindowRow {
        const wchar_t* group;
        std::vector<std::pair<std::wstring, LONG>> windows;  // key, kind
    };
    const std::vector<WindowRow> expectedWindows = {
        {L"G1", {{L"G1W1", 1}, {L"G1W2", 6}}},
        {L"G2", {}},
        {L"G3", {{L"G3W1", 3}, {L"G3W2", 3}, {L"G3W3", 9}}},
    };
    for (const auto& expected : expectedWindows) {
        SCOPED_TRACE(velo::Utf8FromWide(expected.group));
        ComRef<IWindows> windows = Windows(expected.group);
        ASSERT_TRUE(windows);
        LONG windowCount = -1;
        ASSERT_EQ(windows->get_Count(&windowCount), S_OK);
        ASSERT_EQ(windowCount, static_cast<LONG>(expected.windows.size()));
        ArrayOwner windowList;
        ASSERT_EQ(windows->get_List(windowList.put()), S_OK);
        auto windowRows = ReadList(windowList.get(), windowCount);
        for (std::size_t i = 0; i < expected.windows.size(); ++i) {
            EXPECT_EQ(windowRows[i].key, expected.windows[i].first);
            ComRef<IWindow> window;
            Bstr key(windowRows[i].key);
            ASSERT_EQ(windows->get_Item(key.get(), window.put()), S_OK);
            LONG kind = 0;
            ASSERT_EQ(window->get_Kind(&kind), S_OK);
            EXPECT_EQ(kind, expected.windows[i].second);
        }
    }
    // Looking changes nothing: the journal holds the start and the creation only.
    EXPECT_EQ(ReadJournal(journal).size(), 2u);
}

TEST_F(VeloCom, ComLaunchesItWithTheRegisteredOptionsAndJournalsModeInitAndActive) {
    ASSERT_NO_FATAL_FAILURE(Register({"--journal", journal, "--group", "Trader=Vista"}));
    ASSERT_TRUE(TerminalPids().empty());
    ASSERT_EQ(CreateApplication(app), S_OK);
    auto pids = TerminalPids();
    ASSERT_EQ(pids.size(), 1u);

    ComRef<IConnection> connection;
    ASSERT_EQ(app->get_Connection(connection.put()), S_OK);
    ASSERT_EQ(connection->put_Mode(162), S_OK);
    ComRef<IConnection> again;
    ASSERT_EQ(app->get_Connection(again.put()), S_OK);
    Bstr address(L"10.1.2.3"), empty1, empty2, empty3;
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(again->Init(address.get(), 4501, empty1.get(), empty2.get(), empty3.get(), &done), S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    ASSERT_EQ(app->put_Active(VARIANT_TRUE), S_OK);
    LONG mode = 0;
    ASSERT_EQ(connection->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, 162);

    auto lines = RawLines(journal);
    ASSERT_EQ(lines.size(), 5u);
    auto start = velo::ParseJournalLine(lines[0]);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->call, "Velo.Start");
    EXPECT_EQ(start->get("pid"), std::to_string(pids[0]));
    EXPECT_EQ(start->get("embedding"), "1");
    EXPECT_EQ(start->get("args"), "--journal " + Quoted(journal) + " --group Trader=Vista -Embedding");
    EXPECT_EQ(lines[1], "IClassFactory.CreateInstance\thr=0x00000000");
    EXPECT_EQ(lines[2], "IConnection.put_Mode\tmode=162\thr=0x00000000");
    EXPECT_EQ(lines[3], "IConnection.Init\taddress=10.1.2.3\tport=4501\tuser=\tpassword=\toptions=\thr=0x00000000");
    EXPECT_EQ(lines[4], "IApplication.put_Active\tactive=-1\thr=0x00000000");

    // A second client reaches the same process.
    ComRef<IApplication> second;
    ASSERT_EQ(CreateApplication(second), S_OK);
    EXPECT_EQ(TerminalPids(), pids);
}

TEST_F(VeloCom, GroupsAndWindowsAreAddedAndEveryKindIsPilotedThroughItsOwnInterface) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ComRef<IGroups> groups;
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    Bstr name(L"Trader");
    ComRef<IGroup> group;
    ASSERT_EQ(groups->Add(name.get(), 0, group.put()), S_OK);
    ASSERT_TRUE(group);
    ASSERT_EQ(group->Activate(), S_OK);
    ComRef<IWindows> windows;
    ASSERT_EQ(group->get_Windows(windows.put()), S_OK);
    for (LONG kind = 1; kind <= 6; ++kind) {
        ArrayOwner properties(DaemonProperties());
        ComRef<IWindow> window;
        ASSERT_EQ(windows->Add(kind, properties.get(), window.put()), S_OK);
        ASSERT_TRUE(window);
    }
    LONG count = 0;
    ASSERT_EQ(windows->get_Count(&count), S_OK);
    ASSERT_EQ(count, 6);

    // Texts as the daemon makes them: every byte of the value becomes the code unit of that number.
    const std::wstring value = L"ISIN=FR0000120271\u00e9";
    const std::string valueUtf8 = "ISIN=FR0000120271\xc3\xa9";
    struct KindRow {
        const wchar_t* key;
        const char* call;
        std::function<HRESULT(IWindow*)> pilot;
    };
    auto simple = [&](REFIID iid, auto* typed) {
        using I = std::remove_pointer_t<decltype(typed)>;
        return [&, iid](IWindow* window) {
            ComRef<I> kindInterface;
            HRESULT hr = Query(window, iid, kindInterface);
            if (FAILED(hr)) return hr;
            Bstr text(value);
            return kindInterface->Pilot(text.get());
        };
    };
    const std::vector<KindRow> rows = {
        {L"G1W1", "IVistaWindow.Pilot", simple(IID_IVistaWindow, static_cast<IVistaWindow*>(nullptr))},
        {L"G1W2", "IFullQuoteWindow.Pilot", simple(IID_IFullQuoteWindow, static_cast<IFullQuoteWindow*>(nullptr))},
        {L"G1W3", "IOrderBookWindow.Pilot", simple(IID_IOrderBookWindow, static_cast<IOrderBookWindow*>(nullptr))},
        {L"G1W4", "ITimeSalesWindow.Pilot", simple(IID_ITimeSalesWindow, static_cast<ITimeSalesWindow*>(nullptr))},
        {L"G1W5", "INewsWindow.Pilot",
         [&](IWindow* window) {
             ComRef<INewsWindow> news;
             HRESULT hr = Query(window, IID_INewsWindow, news);
             if (FAILED(hr)) return hr;
             Bstr topic, text(value);
             return news->Pilot(topic.get(), text.get());
         }},
        {L"G1W6", "IChartWindow.Pilot", simple(IID_IChartWindow, static_cast<IChartWindow*>(nullptr))},
    };
    for (const auto& row : rows) {
        ComRef<IWindow> window = Window(L"G1", row.key);
        ASSERT_TRUE(window);
        EXPECT_EQ(row.pilot(window.get()), S_OK) << row.call;
        LONG pilots = 0;
        ASSERT_EQ(window->get_PilotCount(&pilots), S_OK);
        EXPECT_EQ(pilots, 1) << row.call;
    }
    ComRef<ITimeSalesWindow> timeSales;
    ASSERT_EQ(Query(Window(L"G1", L"G1W4").get(), IID_ITimeSalesWindow, timeSales), S_OK);
    Bstr last;
    ASSERT_EQ(timeSales->get_Value(last.put()), S_OK);
    EXPECT_EQ(last.text(), value);
    // A window answers only its own kind's interface.
    ComRef<IChartWindow> notAChart;
    EXPECT_EQ(Query(Window(L"G1", L"G1W1").get(), IID_IChartWindow, notAChart), E_NOINTERFACE);
    EXPECT_FALSE(notAChart);

    auto lines = RawLines(journal);
    ASSERT_EQ(lines.size(), 1u + 1 + 1 + 1 + 6 + 6);
    EXPECT_EQ(lines[2], "IGroups.Add\tname=Trader\tflags=0\tkey=G1\thr=0x00000000");
    EXPECT_EQ(lines[3], "IGroup.Activate\tgroup=G1\tname=Trader\thr=0x00000000");
    EXPECT_EQ(lines[4], "IWindows.Add\tgroup=G1\tkind=1\tsettings=1x2:INT:1,BSTR:Piloted\tkey=G1W1\thr=0x00000000");
    EXPECT_EQ(lines[9], "IWindows.Add\tgroup=G1\tkind=6\tsettings=1x2:INT:1,BSTR:Piloted\tkey=G1W6\thr=0x00000000");
    EXPECT_EQ(lines[10], "IVistaWindow.Pilot\tgroup=G1\twindow=G1W1\tkind=1\tvalue=" + valueUtf8 + "\thr=0x00000000");
    EXPECT_EQ(lines[14], "INewsWindow.Pilot\tgroup=G1\twindow=G1W5\tkind=5\ttopic=\tvalue=" + valueUtf8 +
                             "\thr=0x00000000");
    auto pilots = ReadJournal(journal);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& entry = pilots[10 + i];
        EXPECT_EQ(entry.call, rows[i].call);
        EXPECT_EQ(entry.get("window"), velo::Utf8FromWide(rows[i].key));
        EXPECT_EQ(entry.get("kind"), std::to_string(i + 1));
        EXPECT_EQ(entry.get("value"), valueUtf8);
    }
}

// ---- fault switches, one simulator per row ----

struct FaultRow {
    const char* name;
    std::vector<std::string> options;
    std::function<void(VeloCom&)> check;
};

class VeloFault : public VeloCom, public ::testing::WithParamInterface<FaultRow> {};

const FaultRow kFaultRows[] = {
    {"AddFails", {"--group", "T=Vista", "--fail", "IWindows.Add=0x80004005"},
     [](VeloCom& t) {
         ComRef<IWindows> windows = t.Windows(L"G1");
         ArrayOwner properties(DaemonProperties());
         ComRef<IWindow> window;
         EXPECT_EQ(windows->Add(2, properties.get(), window.put()), kFailed);
         EXPECT_FALSE(window);
         LONG count = 0;
         EXPECT_EQ(windows->get_Count(&count), S_OK);
         EXPECT_EQ(count, 1);
         auto adds = JournalCalls(t.journal, "IWindows.Add");
         ASSERT_EQ(adds.size(), 1u);
         EXPECT_EQ(adds[0].get("kind"), "2");
         EXPECT_EQ(adds[0].get("key"), "");
         EXPECT_EQ(adds[0].get("hr"), "0x80004005");
     }},
    {"OnlyTheSecondAddFails", {"--group", "T", "--fail", "IWindows.Add@2=0x8007000E"},
     [](VeloCom& t) {
         ComRef<IWindows> windows = t.Windows(L"G1");
         std::vector<HRESULT> results;
         for (int i = 0; i < 3; ++i) {
             ArrayOwner properties(DaemonProperties());
             ComRef<IWindow> window;
             results.push_back(windows->Add(1, properties.get(), window.put()));
         }
         EXPECT_THAT(results, ElementsAre(S_OK, E_OUTOFMEMORY, S_OK));
         auto adds = JournalCalls(t.journal, "IWindows.Add");
         ASSERT_EQ(adds.size(), 3u);
         EXPECT_EQ(adds[1].get("hr"), "0x8007000E");
         EXPECT_EQ(adds[2].get("key"), "G1W2");
     }},
    {"PilotFailsForOneWindow", {"--group", "T=Chart,Chart", "--fail", "*.Pilot:G1W2=0x80010105"},
     [](VeloCom& t) {
         std::vector<HRESULT> results;
         for (const wchar_t* key : {L"G1W1", L"G1W2"}) {
             ComRef<IChartWindow> chart;
             EXPECT_EQ(Query(t.Window(L"G1", key).get(), IID_IChartWindow, chart), S_OK);
             Bstr value(L"KTV=42");
             results.push_back(chart->Pilot(value.get()));
         }
         EXPECT_THAT(results, ElementsAre(S_OK, static_cast<HRESULT>(0x80010105)));
         auto pilots = JournalCalls(t.journal, "IChartWindow.Pilot");
         ASSERT_EQ(pilots.size(), 2u);
         EXPECT_EQ(pilots[1].get("window"), "G1W2");
         EXPECT_EQ(pilots[1].get("hr"), "0x80010105");
     }},
    {"NullInterfaceWithSuccess", {"--fail", "IApplication.get_Connection=null"},
     [](VeloCom& t) {
         ComRef<IConnection> connection;
         EXPECT_EQ(t.app->get_Connection(connection.put()), S_OK);
         EXPECT_FALSE(connection);
     }},
    {"NotConnected", {"--not-connected"},
     [](VeloCom& t) {
         ComRef<IConnection> connection;
         ASSERT_EQ(t.app->get_Connection(connection.put()), S_OK);
         VARIANT_BOOL connected = VARIANT_TRUE;
         EXPECT_EQ(connection->get_Connected(&connected), S_OK);
         EXPECT_EQ(connected, VARIANT_FALSE);
     }},
    {"InactiveUntilActivated", {"--inactive"},
     [](VeloCom& t) {
         VARIANT_BOOL active = VARIANT_TRUE;
         EXPECT_EQ(t.app->get_Active(&active), S_OK);
         EXPECT_EQ(active, VARIANT_FALSE);
         EXPECT_EQ(t.app->put_Active(VARIANT_TRUE), S_OK);
         EXPECT_EQ(t.app->get_Active(&active), S_OK);
         EXPECT_EQ(active, VARIANT_TRUE);
     }},
    {"ActiveFails", {"--fail", "IApplication.get_Active=0x800706BA"},
     [](VeloCom& t) {
         VARIANT_BOOL active = VARIANT_TRUE;
         EXPECT_EQ(t.app->get_Active(&active), static_cast<HRESULT>(0x800706BA));
     }},
    {"InitFails", {"--fail", "IConnection.Init=0x80004005"},
     [](VeloCom& t) {
         ComRef<IConnection> connection;
         ASSERT_EQ(t.app->get_Connection(connection.put()), S_OK);
         Bstr address(L"127.0.0.1"), e1, e2, e3;
         VARIANT_BOOL done = VARIANT_TRUE;
         EXPECT_EQ(connection->Init(address.get(), 1, e1.get(), e2.get(), e3.get(), &done), kFailed);
         auto inits = JournalCalls(t.journal, "IConnection.Init");
         ASSERT_EQ(inits.size(), 1u);
         EXPECT_EQ(inits[0].get("hr"), "0x80004005");
     }},
    {"BareKindLacksItsInterface", {"--group", "T=Chart,Vista", "--bare-kind", "Chart"},
     [](VeloCom& t) {
         ComRef<IChartWindow> chart;
         EXPECT_EQ(Query(t.Window(L"G1", L"G1W1").get(), IID_IChartWindow, chart), E_NOINTERFACE);
         EXPECT_FALSE(chart);
         ComRef<IVistaWindow> vista;
         EXPECT_EQ(Query(t.Window(L"G1", L"G1W2").get(), IID_IVistaWindow, vista), S_OK);
     }},
    {"ListOfTheWrongType", {"--group", "T=Vista", "--bad-list", "IWindows"},
     [](VeloCom& t) {
         ArrayOwner list;
         ASSERT_EQ(t.Windows(L"G1")->get_List(list.put()), S_OK);
         VARTYPE type = VT_EMPTY;
         ASSERT_EQ(SafeArrayGetVartype(list.get(), &type), S_OK);
         EXPECT_EQ(type, VT_BSTR);
         ComRef<IGroups> groups;
         ASSERT_EQ(t.app->get_Groups(groups.put()), S_OK);
         ArrayOwner groupList;
         ASSERT_EQ(groups->get_List(groupList.put()), S_OK);
         ASSERT_EQ(SafeArrayGetVartype(groupList.get(), &type), S_OK);
         EXPECT_EQ(type, VT_VARIANT);
     }},
    {"GroupAddFailsForOneName", {"--fail", "IGroups.Add:Broken=0x80004005"},
     [](VeloCom& t) {
         ComRef<IGroups> groups;
         ASSERT_EQ(t.app->get_Groups(groups.put()), S_OK);
         Bstr broken(L"Broken"), fine(L"Fine");
         ComRef<IGroup> group;
         EXPECT_EQ(groups->Add(broken.get(), 0, group.put()), kFailed);
         EXPECT_EQ(groups->Add(fine.get(), 0, group.put()), S_OK);
         auto adds = JournalCalls(t.journal, "IGroups.Add");
         ASSERT_EQ(adds.size(), 2u);
         EXPECT_EQ(adds[0].get("hr"), "0x80004005");
         EXPECT_EQ(adds[1].get("key"), "G1");
     }},
};

TEST_P(VeloFault, Switch) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal(GetParam().options));
    GetParam().check(*this);
}

INSTANTIATE_TEST_SUITE_P(Rows, VeloFault, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VeloCom, ARefusingClassObjectFailsTheCreationWithItsHresult) {
    ASSERT_NO_FATAL_FAILURE(Register());
    ASSERT_TRUE(terminal.start(journal, {"--refuse-create=0x80070005"}));
    EXPECT_EQ(CreateApplication(app), E_ACCESSDENIED);
    EXPECT_FALSE(app);
    auto creations = JournalCalls(journal, "IClassFactory.CreateInstance");
    ASSERT_EQ(creations.size(), 1u);
    EXPECT_EQ(creations[0].get("hr"), "0x80070005");
}

TEST_F(VeloCom, AProcessThatOnlyLooksLikeTheTerminalServesNothing) {
    TempDir other;
    std::string launched = other.file("launched.txt");
    ASSERT_NO_FATAL_FAILURE(Register({"--journal", launched}));
    Simulator lookalike;
    ASSERT_TRUE(lookalike.start(journal, {"--no-com"}));
    // COM starts a real server rather than reaching the look-alike.
    ASSERT_EQ(CreateApplication(app), S_OK);
    auto starts = JournalCalls(launched, "Velo.Start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].get("embedding"), "1");
    EXPECT_EQ(TerminalPids().size(), 2u);
    app = ComRef<IApplication>();
    StopTerminals();
}

TEST_F(VeloCom, OnlyTheExactImageNameCountsAsTheTerminal) {
    TempDir other;
    std::string copy = CopySimulator(other.path(), "velo.exe");
    ASSERT_FALSE(copy.empty());
    Simulator lookalike;
    ASSERT_TRUE(lookalike.start(journal, {"--no-com"}, copy));
    EXPECT_TRUE(TerminalPids().empty());
    Simulator real;
    ASSERT_TRUE(real.start(dir.file("real.txt"), {"--no-com"}));
    EXPECT_THAT(TerminalPids(), ElementsAre(real.pid()));
    EXPECT_EQ(lookalike.quit(), 0u);
}

TEST_F(VeloCom, EventsReachAnAdvisedSinkInThisProcessAndStopAfterUnadvise) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    auto sink = ComRef<TestSink>::adopt(new TestSink);
    DWORD cookie = 0;
    ASSERT_EQ(Advise(app.get(), sink.get(), cookie), S_OK);
    EXPECT_NE(cookie, 0u);

    ASSERT_TRUE(terminal.fireFrameClosing());
    ASSERT_TRUE(WaitUntil([&] { return sink->calls(7) == 1; }));
    ASSERT_TRUE(terminal.fireOtherEvents());
    ASSERT_TRUE(WaitUntil([&] { return sink->calls(9) == 1; }));
    for (int slot : {3, 4, 5, 6, 8, 9}) EXPECT_EQ(sink->calls(slot), 1) << slot;
    EXPECT_EQ(sink->calls(7), 1);
    auto closings = JournalCalls(journal, "ITFrameWndEvents.FrameClosing");
    ASSERT_EQ(closings.size(), 1u);
    EXPECT_EQ(closings[0].get("sinks"), "1");
    EXPECT_EQ(closings[0].get("failed"), "0");

    // Advising again gives a new cookie; each cookie unadvises once.
    DWORD second = 0;
    ASSERT_EQ(Advise(app.get(), sink.get(), second), S_OK);
    EXPECT_NE(second, cookie);
    EXPECT_EQ(Unadvise(app.get(), cookie), S_OK);
    EXPECT_EQ(Unadvise(app.get(), cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Unadvise(app.get(), second), S_OK);
    ASSERT_TRUE(terminal.fireFrameClosing());
    ASSERT_TRUE(WaitForJournalCall(journal, "ITFrameWndEvents.FrameClosing", 2));
    EXPECT_EQ(JournalCalls(journal, "ITFrameWndEvents.FrameClosing")[1].get("sinks"), "0");
    EXPECT_EQ(sink->calls(7), 1);
    // The terminal let go of every reference it had to the sink.
    EXPECT_TRUE(WaitUntil([&] { return sink->refs() == 1; }));

    auto unadvises = JournalCalls(journal, "IConnectionPoint.Unadvise");
    ASSERT_EQ(unadvises.size(), 3u);
    EXPECT_EQ(unadvises[1].get("hr"), "0x80040200");
}

TEST_F(VeloCom, QuittingFiresFrameClosingToTheSinksBeforeTheProcessEnds) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    auto sink = ComRef<TestSink>::adopt(new TestSink);
    DWORD cookie = 0;
    ASSERT_EQ(Advise(app.get(), sink.get(), cookie), S_OK);
    auto code = terminal.quit();
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0u);
    EXPECT_EQ(sink->calls(7), 1);
    auto lines = ReadJournal(journal);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].call, "ITFrameWndEvents.FrameClosing");
    EXPECT_EQ(lines.back().call, "Velo.Exit");
    // The application object is gone with its process.
    VARIANT_BOOL active = VARIANT_FALSE;
    EXPECT_TRUE(FAILED(app->get_Active(&active)));
}

// get_Count of `groups` on a thread of this apartment, so that a held call does not hold the test.
class CountCall {
public:
    explicit CountCall(IGroups* groups)
        : m_thread([this, groups] {
              CoInitializeEx(nullptr, COINIT_MULTITHREADED);
              m_hr = groups->get_Count(&m_count);
              m_answered = true;
              CoUninitialize();
          }) {}
    ~CountCall() {
        if (m_thread.joinable()) m_thread.join();
    }
    CountCall(const CountCall&) = delete;
    CountCall& operator=(const CountCall&) = delete;
    // Waits for the answer (the simulator must have been told to let go).
    HRESULT result() {
        if (m_thread.joinable()) m_thread.join();
        return m_hr;
    }
    bool answered() const { return m_answered; }
    LONG count() const { return m_count; }

private:
    std::atomic<bool> m_answered{false};
    HRESULT m_hr = E_UNEXPECTED;
    LONG m_count = -1;
    std::thread m_thread;
};

TEST_F(VeloCom, AHeldCallAnswersOnceReleasedAndNoCallIsHeldAfterwards) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--group", "Desk=Vista", "--hang", "IGroups.get_Count"}));
    ComRef<IGroups> groups;
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    CountCall held(groups.get());
    ASSERT_TRUE(WaitForJournalCall(journal, "Velo.Hang"));
    auto hangs = JournalCalls(journal, "Velo.Hang");
    ASSERT_EQ(hangs.size(), 1u);
    EXPECT_EQ(hangs[0].get("call"), "IGroups.get_Count");
    EXPECT_FALSE(held.answered());

    RunResult release = RunProgram(Quoted(BinPath("Velo.exe")) + " --signal release --pid " +
                                   std::to_string(terminal.pid()));
    EXPECT_EQ(release.exitCode, 0u) << release.output;
    EXPECT_EQ(held.result(), S_OK);
    EXPECT_EQ(held.count(), 1);
    LONG count = 0;
    EXPECT_EQ(groups->get_Count(&count), S_OK);
    EXPECT_EQ(JournalCalls(journal, "Velo.Hang").size(), 1u);
}

TEST_F(VeloCom, QuittingLetsHeldCallsGoFirst) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--hang", "IGroups.get_Count"}));
    ComRef<IGroups> groups;
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    CountCall held(groups.get());
    ASSERT_TRUE(WaitForJournalCall(journal, "Velo.Hang"));
    EXPECT_EQ(terminal.quit(), std::optional<DWORD>(0));
    // Answered, or cut off by the server's exit: either way the call has returned.
    held.result();
    EXPECT_TRUE(held.answered());
}

TEST_F(VeloCom, UnregisteringRemovesTheClassAndTheInterfaces) {
    ASSERT_NO_FATAL_FAILURE(Register());
    auto keyExists = [](HKEY root, const char* path) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    };
    const char* userClass = "Software\\Classes\\CLSID\\{0339D2E2-CDDD-11DE-B311-005056C00008}\\LocalServer32";
    const char* anyClass = "CLSID\\{0339D2E2-CDDD-11DE-B311-005056C00008}\\LocalServer32";
    const char* applicationInterface = "Interface\\{EC0DF832-CDDC-11DE-B311-005056C00008}\\ProxyStubClsid32";
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, userClass));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, anyClass));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, applicationInterface));

    ASSERT_TRUE(UnregisterSimulator());
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, userClass));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, anyClass));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, applicationInterface));
    EXPECT_EQ(CreateApplication(app), REGDB_E_CLASSNOTREG);
    // Unregistering twice is not an error.
    EXPECT_TRUE(UnregisterSimulator());
}

TEST_F(VeloCom, HelpAndBadArguments) {
    RunResult help = RunProgram(Quoted(BinPath("Velo.exe")) + " --help");
    ASSERT_TRUE(help.finished);
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_THAT(help.output, HasSubstr("--fail CALL[:KEY][@N]=RESULT"));
    RunResult bad = RunProgram(Quoted(BinPath("Velo.exe")) + " --fail IWindows.Remove=1");
    ASSERT_TRUE(bad.finished);
    EXPECT_EQ(bad.exitCode, 2u);
    EXPECT_THAT(bad.output, HasSubstr("unknown call IWindows.Remove"));
    RunResult nobody = RunProgram(Quoted(BinPath("Velo.exe")) + " --signal closing");
    ASSERT_TRUE(nobody.finished);
    EXPECT_EQ(nobody.exitCode, 1u);
}

TEST_F(VeloCom, ConcurrentCallersEachGetWholeJournalLines) {
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--group", "T=Vista,Vista,Vista,Vista"}));
    constexpr int kThreads = 4;
    constexpr int kCalls = 50;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ComRef<IVistaWindow> vista;
            std::wstring key = L"G1W" + std::to_wstring(t + 1);
            if (Query(Window(L"G1", key.c_str()).get(), IID_IVistaWindow, vista) != S_OK) {
                ++failures;
                return;
            }
            for (int i = 0; i < kCalls; ++i) {
                Bstr value(L"thread" + std::to_wstring(t) + L"-call" + std::to_wstring(i) + L"-\tpadding");
                if (vista->Pilot(value.get()) != S_OK) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    auto pilots = JournalCalls(journal, "IVistaWindow.Pilot");
    ASSERT_EQ(pilots.size(), static_cast<std::size_t>(kThreads * kCalls));
    std::array<int, kThreads> next{};
    for (const auto& entry : pilots) {
        int t = entry.get("window").back() - '1';
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(entry.get("value"), "thread" + std::to_string(t) + "-call" + std::to_string(next[t]++) + "-\tpadding");
        EXPECT_EQ(entry.get("hr"), "0x00000000");
    }
}

// Figures for the record, not a pass condition.
TEST_F(VeloCom, MeasuresWhatACrossProcessCallCosts) {
    ASSERT_NO_FATAL_FAILURE(Register({"--journal", journal, "--group", "T=Vista"}));
    LARGE_INTEGER t0 = Now();
    ASSERT_EQ(CreateApplication(app), S_OK);
    double launch = Milliseconds(t0, Now());

    ComRef<IApplication> attached;
    t0 = Now();
    ASSERT_EQ(CreateApplication(attached), S_OK);
    double attach = Milliseconds(t0, Now());

    ComRef<IGroups> groups;
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    LONG count = 0;
    t0 = Now();
    ASSERT_EQ(groups->get_Count(&count), S_OK);
    double firstCall = Milliseconds(t0, Now());
    constexpr int kCalls = 500;
    t0 = Now();
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(groups->get_Count(&count), S_OK);
    double perCall = Milliseconds(t0, Now()) / kCalls;

    ComRef<IVistaWindow> vista;
    ASSERT_EQ(Query(Window(L"G1", L"G1W1").get(), IID_IVistaWindow, vista), S_OK);
    Bstr value(L"ISIN=FR0000120271");
    ASSERT_EQ(vista->Pilot(value.get()), S_OK);
    t0 = Now();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(vista->Pilot(value.get()), S_OK);
    double perPilot = Milliseconds(t0, Now()) / 100;

    auto sink = ComRef<TestSink>::adopt(new TestSink);
    DWORD cookie = 0;
    ASSERT_EQ(Advise(app.get(), sink.get(), cookie), S_OK);
    auto pids = TerminalPids();
    ASSERT_EQ(pids.size(), 1u);
    t0 = Now();
    ASSERT_TRUE(SignalTerminal(pids[0], "FrameClosing"));
    ASSERT_TRUE(WaitUntil([&] { return sink->calls(7) == 1; }, std::chrono::seconds(10), std::chrono::milliseconds(1)));
    double event = Milliseconds(t0, sink->closingAt);
    EXPECT_EQ(Unadvise(app.get(), cookie), S_OK);

    std::printf("[figures] COM launch %.1f ms, attach to running %.1f ms, first call on a new proxy %.2f ms, "
                "get_Count %.3f ms, Pilot with journal line %.3f ms, FrameClosing trigger to sink %.2f ms\n",
                launch, attach, firstCall, perCall, perPilot, event);
    RecordProperty("launch_ms", std::to_string(launch));
    RecordProperty("call_ms", std::to_string(perCall));
}

}  // namespace

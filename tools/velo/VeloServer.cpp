#include "tools/velo/VeloServer.h"

#include "tools/velo/VeloSettings.h"

#include <olectl.h>

#include <array>

namespace velo {

namespace {

// Reference counting and QueryInterface for an object implementing the interfaces Is.
template <class... Is>
class ComObject : public Is... {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = find(iid);
        if (*out == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    IFACEMETHODIMP_(ULONG) Release() override {
        ULONG count = --m_refs;
        if (count == 0) delete this;
        return count;
    }

protected:
    virtual ~ComObject() = default;
    virtual void* find(REFIID iid) = 0;

private:
    std::atomic<ULONG> m_refs{1};
};

// Hands the client the object of `identity`, made by `make` on first use (see HandedObjects).
template <class I, class Make>
HRESULT Hand(Terminal& t, const std::wstring& identity, REFIID iid, I** out, Make make) {
    return t.objects.handOut(identity, iid, reinterpret_cast<void**>(out),
                             [&]() -> IUnknown* { return static_cast<I*>(make()); });
}

HRESULT NewBstr(const std::wstring& text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

struct ListCell {
    std::wstring text;
    bool isNumber = false;
    long number = 0;
    std::optional<CellType> odd;  // --list-cell: no text at all
};
using ListRow = std::array<ListCell, 3>;

// Marks the cells that --list-cell empties in the rows of `list`.
void ApplyListCells(const VeloOptions& options, const char* list, std::vector<ListRow>& rows) {
    for (const ListCellRule& rule : options.listCells) {
        // Rows and columns were checked when parsed; a row past this list's end marks nothing.
        const auto row = static_cast<std::size_t>(rule.row);
        if (rule.list != list || row >= rows.size()) continue;
        rows[row][static_cast<std::size_t>(rule.column)].odd = rule.type;
    }
}

class SafeArrayOwner {
public:
    explicit SafeArrayOwner(SAFEARRAY* array) : m_array(array) {}
    ~SafeArrayOwner() {
        if (m_array) SafeArrayDestroy(m_array);
    }
    SafeArrayOwner(const SafeArrayOwner&) = delete;
    SafeArrayOwner& operator=(const SafeArrayOwner&) = delete;
    SAFEARRAY* get() const { return m_array; }
    SAFEARRAY* release() { return std::exchange(m_array, nullptr); }

private:
    SAFEARRAY* m_array;
};

// A 2-D array, index (row, column), of VARIANT (or of BSTR when the list is to be of the wrong type).
HRESULT BuildList(const std::vector<ListRow>& rows, bool asBstr, SAFEARRAY** out) {
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows.size()), 0}, {3, 0}};
    SafeArrayOwner array(SafeArrayCreate(asBstr ? VT_BSTR : VT_VARIANT, 2, bounds));
    if (array.get() == nullptr) return E_OUTOFMEMORY;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (LONG column = 0; column < 3; ++column) {
            const ListCell& cell = rows[row][static_cast<std::size_t>(column)];
            LONG index[2] = {static_cast<LONG>(row), column};
            std::wstring text = cell.isNumber ? std::to_wstring(cell.number) : cell.text;
            // The cell owns its BSTR until VariantClear; SafeArrayPutElement stores copies.
            VARIANT value;
            VariantInit(&value);
            if (cell.odd && !asBstr) {
                V_VT(&value) = *cell.odd == CellType::Empty ? VT_EMPTY : *cell.odd == CellType::Null ? VT_NULL : VT_I4;
                if (*cell.odd == CellType::Int) V_I4(&value) = 7;
            } else if (cell.isNumber && !asBstr) {
                V_VT(&value) = VT_I4;
                V_I4(&value) = cell.number;
            } else {
                V_VT(&value) = VT_BSTR;
                if (FAILED(NewBstr(text, &V_BSTR(&value)))) return E_OUTOFMEMORY;
            }
            HRESULT hr = asBstr ? SafeArrayPutElement(array.get(), index, V_BSTR(&value))
                                : SafeArrayPutElement(array.get(), index, &value);
            VariantClear(&value);
            if (FAILED(hr)) return hr;
        }
    }
    *out = array.release();
    return S_OK;
}

std::wstring Text(BSTR bstr) { return WideFromBstr(bstr); }

// ---- windows ----

IWindow* NewWindowObject(Terminal& t, const std::wstring& groupKey, const std::wstring& key, long kind);

template <class I>
class WindowObject : public ComObject<I> {
public:
    WindowObject(Terminal& t, std::wstring groupKey, std::wstring key, long kind, REFIID kindIid)
        : m_t(t), m_groupKey(std::move(groupKey)), m_key(std::move(key)), m_kind(kind), m_kindIid(kindIid) {}

    IFACEMETHODIMP get_Kind(LONG* kind) override {
        if (kind == nullptr) return E_POINTER;
        *kind = 0;
        if (auto hr = m_t.fault("IWindow.get_Kind", m_key)) return *hr;
        *kind = m_kind;
        return S_OK;
    }
    IFACEMETHODIMP get_Key(BSTR* key) override {
        if (key == nullptr) return E_POINTER;
        *key = nullptr;
        if (auto hr = m_t.fault("IWindow.get_Key", m_key)) return *hr;
        return NewBstr(m_key, key);
    }
    IFACEMETHODIMP get_GroupKey(BSTR* key) override {
        if (key == nullptr) return E_POINTER;
        *key = nullptr;
        if (auto hr = m_t.fault("IWindow.get_GroupKey", m_key)) return *hr;
        return NewBstr(m_groupKey, key);
    }
    IFACEMETHODIMP get_Caption(BSTR* caption) override {
        if (caption == nullptr) return E_POINTER;
        *caption = nullptr;
        if (auto hr = m_t.fault("IWindow.get_Caption", m_key)) return *hr;
        return NewBstr(WideFromUtf8(KindName(m_kind)) + L" " + m_key, caption);
    }
    IFACEMETHODIMP get_PilotCount(LONG* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        if (auto hr = m_t.fault("IWindow.get_PilotCount", m_key)) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        if (WindowState* w = m_t.model.window(m_key)) *count = w->pilotCount;
        return S_OK;
    }

protected:
    void* find(REFIID iid) override {
        IWindow* self = this;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWindow)) return self;
        if (!IsEqualIID(m_kindIid, IID_IWindow) && IsEqualIID(iid, m_kindIid) && !m_t.options.bareKinds.count(m_kind))
            return static_cast<I*>(this);
        return nullptr;
    }

    HRESULT pilot(const char* call, BSTR topic, bool hasTopic, BSTR value) {
        HRESULT result = m_t.fault(call, m_key).value_or(S_OK);
        JournalLine line(call);
        line.wide("group", m_groupKey).wide("window", m_key).number("kind", m_kind);
        if (hasTopic) line.wide("topic", Text(topic));
        line.wide("value", Text(value)).hr(result);
        if (SUCCEEDED(result)) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            if (WindowState* w = m_t.model.window(m_key)) {
                ++w->pilotCount;
                w->lastValue = Text(value);
            }
        }
        m_t.journal.write(line);
        return result;
    }

    Terminal& m_t;
    const std::wstring m_groupKey;
    const std::wstring m_key;
    const long m_kind;
    const IID m_kindIid;
};

class PlainWindow final : public WindowObject<IWindow> {
public:
    PlainWindow(Terminal& t, std::wstring g, std::wstring k, long kind)
        : WindowObject(t, std::move(g), std::move(k), kind, IID_IWindow) {}
};

#define VELO_SIMPLE_KIND(Class, Interface)                                                                  \
    class Class final : public WindowObject<Interface> {                                                    \
    public:                                                                                                 \
        Class(Terminal& t, std::wstring g, std::wstring k, long kind)                                       \
            : WindowObject(t, std::move(g), std::move(k), kind, IID_##Interface) {}                         \
        IFACEMETHODIMP Pilot(BSTR value) override { return pilot(#Interface ".Pilot", nullptr, false, value); } \
    };

VELO_SIMPLE_KIND(VistaWindow, IVistaWindow)
VELO_SIMPLE_KIND(FullQuoteWindow, IFullQuoteWindow)
VELO_SIMPLE_KIND(OrderBookWindow, IOrderBookWindow)
VELO_SIMPLE_KIND(ChartWindow, IChartWindow)
#undef VELO_SIMPLE_KIND

class TimeSalesWindow final : public WindowObject<ITimeSalesWindow> {
public:
    TimeSalesWindow(Terminal& t, std::wstring g, std::wstring k, long kind)
        : WindowObject(t, std::move(g), std::move(k), kind, IID_ITimeSalesWindow) {}
    IFACEMETHODIMP get_Value(BSTR* value) override {
        if (value == nullptr) return E_POINTER;
        *value = nullptr;
        if (auto hr = m_t.fault("ITimeSalesWindow.get_Value", m_key)) return *hr;
        std::wstring text;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            if (WindowState* w = m_t.model.window(m_key)) text = w->lastValue;
        }
        return NewBstr(text, value);
    }
    IFACEMETHODIMP get_Rows(LONG* rows) override {
        if (rows == nullptr) return E_POINTER;
        *rows = 0;
        if (auto hr = m_t.fault("ITimeSalesWindow.get_Rows", m_key)) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        if (WindowState* w = m_t.model.window(m_key)) *rows = w->pilotCount;
        return S_OK;
    }
    IFACEMETHODIMP Pilot(BSTR value) override { return pilot("ITimeSalesWindow.Pilot", nullptr, false, value); }
};

class NewsWindow final : public WindowObject<INewsWindow> {
public:
    NewsWindow(Terminal& t, std::wstring g, std::wstring k, long kind)
        : WindowObject(t, std::move(g), std::move(k), kind, IID_INewsWindow) {}
    IFACEMETHODIMP Pilot(BSTR topic, BSTR value) override { return pilot("INewsWindow.Pilot", topic, true, value); }
};

IWindow* NewWindowObject(Terminal& t, const std::wstring& groupKey, const std::wstring& key, long kind) {
    switch (kind) {
    case 1: return new VistaWindow(t, groupKey, key, kind);
    case 2: return new FullQuoteWindow(t, groupKey, key, kind);
    case 3: return new OrderBookWindow(t, groupKey, key, kind);
    case 4: return new TimeSalesWindow(t, groupKey, key, kind);
    case 5: return new NewsWindow(t, groupKey, key, kind);
    case 6: return new ChartWindow(t, groupKey, key, kind);
    default: return new PlainWindow(t, groupKey, key, kind);
    }
}

class WindowsObject final : public ComObject<IWindows> {
public:
    WindowsObject(Terminal& t, std::wstring groupKey) : m_t(t), m_groupKey(std::move(groupKey)) {}

    IFACEMETHODIMP get_Count(LONG* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        if (auto hr = m_t.fault("IWindows.get_Count", m_groupKey)) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        GroupState* group = m_t.model.group(m_groupKey);
        if (group == nullptr) return E_UNEXPECTED;
        *count = static_cast<LONG>(group->windows.size());
        return S_OK;
    }
    IFACEMETHODIMP get_GroupKey(BSTR* key) override {
        if (key == nullptr) return E_POINTER;
        *key = nullptr;
        if (auto hr = m_t.fault("IWindows.get_GroupKey", m_groupKey)) return *hr;
        return NewBstr(m_groupKey, key);
    }
    IFACEMETHODIMP get_List(SAFEARRAY** list) override {
        if (list == nullptr) return E_POINTER;
        *list = nullptr;
        if (auto hr = m_t.fault("IWindows.get_List", m_groupKey)) return *hr;
        std::vector<ListRow> rows;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            GroupState* group = m_t.model.group(m_groupKey);
            if (group == nullptr) return E_UNEXPECTED;
            for (const auto& w : group->windows) {
                ListRow row;
                row[0].text = WideFromUtf8(KindName(w.kind));
                row[1].isNumber = true;
                row[1].number = w.kind;
                row[2].text = w.key;
                rows.push_back(std::move(row));
            }
        }
        ApplyListCells(m_t.options, "IWindows", rows);
        return BuildList(rows, m_t.options.badLists.count("IWindows") != 0, list);
    }
    IFACEMETHODIMP get_Item(BSTR key, IWindow** window) override {
        if (window == nullptr) return E_POINTER;
        *window = nullptr;
        std::wstring wanted = Text(key);
        if (auto hr = m_t.fault("IWindows.get_Item", wanted)) return *hr;
        long kind = 0;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            GroupState* group = m_t.model.group(m_groupKey);
            if (group == nullptr) return E_UNEXPECTED;
            const WindowState* found = nullptr;
            for (const auto& w : group->windows)
                if (w.key == wanted) found = &w;
            if (found == nullptr) return E_INVALIDARG;
            kind = found->kind;
        }
        return Hand(m_t, L"window:" + wanted, IID_IWindow, window,
                    [&] { return NewWindowObject(m_t, m_groupKey, wanted, kind); });
    }
    IFACEMETHODIMP Add(LONG kind, SAFEARRAY* settings, IWindow** window) override {
        if (window == nullptr) return E_POINTER;
        *window = nullptr;
        std::string settingsText = EncodeSettings(settings);
        auto fault = m_t.fault("IWindows.Add", m_groupKey);
        std::wstring key;
        HRESULT result = fault.value_or(S_OK);
        if (!fault) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            WindowState* added = m_t.model.addWindow(m_groupKey, kind, settingsText);
            if (added == nullptr) result = E_UNEXPECTED;
            else key = added->key;
        }
        m_t.journal.write(JournalLine("IWindows.Add")
                              .wide("group", m_groupKey)
                              .number("kind", kind)
                              .raw("settings", JournalEscape(settingsText))
                              .wide("key", key)
                              .hr(result));
        if (key.empty()) return result;
        return Hand(m_t, L"window:" + key, IID_IWindow, window,
                    [&] { return NewWindowObject(m_t, m_groupKey, key, kind); });
    }

protected:
    void* find(REFIID iid) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWindows)) return static_cast<IWindows*>(this);
        return nullptr;
    }

private:
    Terminal& m_t;
    const std::wstring m_groupKey;
};

// ---- groups ----

class GroupObject final : public ComObject<IGroup> {
public:
    GroupObject(Terminal& t, std::wstring key) : m_t(t), m_key(std::move(key)) {}

    IFACEMETHODIMP get_Name(BSTR* name) override {
        if (name == nullptr) return E_POINTER;
        *name = nullptr;
        if (auto hr = m_t.fault("IGroup.get_Name", m_key)) return *hr;
        std::wstring text;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            GroupState* group = m_t.model.group(m_key);
            if (group == nullptr) return E_UNEXPECTED;
            text = group->name;
        }
        return NewBstr(text, name);
    }
    IFACEMETHODIMP get_Key(BSTR* key) override {
        if (key == nullptr) return E_POINTER;
        *key = nullptr;
        if (auto hr = m_t.fault("IGroup.get_Key", m_key)) return *hr;
        return NewBstr(m_key, key);
    }
    IFACEMETHODIMP get_IsActive(VARIANT_BOOL* active) override {
        if (active == nullptr) return E_POINTER;
        *active = VARIANT_FALSE;
        if (auto hr = m_t.fault("IGroup.get_IsActive", m_key)) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        *active = m_t.model.activeGroup == m_key ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    IFACEMETHODIMP get_Windows(IWindows** windows) override {
        if (windows == nullptr) return E_POINTER;
        *windows = nullptr;
        if (auto hr = m_t.fault("IGroup.get_Windows", m_key)) return *hr;
        return Hand(m_t, L"windows:" + m_key, IID_IWindows, windows, [&] { return new WindowsObject(m_t, m_key); });
    }
    IFACEMETHODIMP Activate() override {
        HRESULT result = m_t.fault("IGroup.Activate", m_key).value_or(S_OK);
        std::wstring name;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            if (GroupState* group = m_t.model.group(m_key)) name = group->name;
            if (SUCCEEDED(result)) m_t.model.activeGroup = m_key;
        }
        m_t.journal.write(JournalLine("IGroup.Activate").wide("group", m_key).wide("name", name).hr(result));
        return result;
    }

protected:
    void* find(REFIID iid) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IGroup)) return static_cast<IGroup*>(this);
        return nullptr;
    }

private:
    Terminal& m_t;
    const std::wstring m_key;
};

class GroupsObject final : public ComObject<IGroups> {
public:
    explicit GroupsObject(Terminal& t) : m_t(t) {}

    IFACEMETHODIMP get_Count(LONG* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        if (auto hr = m_t.fault("IGroups.get_Count")) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        *count = static_cast<LONG>(m_t.model.groups().size());
        return S_OK;
    }
    IFACEMETHODIMP get_ActiveKey(BSTR* key) override {
        if (key == nullptr) return E_POINTER;
        *key = nullptr;
        if (auto hr = m_t.fault("IGroups.get_ActiveKey")) return *hr;
        std::wstring text;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            text = m_t.model.activeGroup;
        }
        return NewBstr(text, key);
    }
    IFACEMETHODIMP get_List(SAFEARRAY** list) override {
        if (list == nullptr) return E_POINTER;
        *list = nullptr;
        if (auto hr = m_t.fault("IGroups.get_List")) return *hr;
        std::vector<ListRow> rows;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            for (const auto& g : m_t.model.groups()) {
                ListRow row;
                row[0].text = g.name;
                row[1].isNumber = true;
                row[1].number = static_cast<long>(g.windows.size());
                row[2].text = g.key;
                rows.push_back(std::move(row));
            }
        }
        ApplyListCells(m_t.options, "IGroups", rows);
        return BuildList(rows, m_t.options.badLists.count("IGroups") != 0, list);
    }
    IFACEMETHODIMP get_Item(BSTR key, IGroup** group) override {
        if (group == nullptr) return E_POINTER;
        *group = nullptr;
        std::wstring wanted = Text(key);
        if (auto hr = m_t.fault("IGroups.get_Item", wanted)) return *hr;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            if (m_t.model.group(wanted) == nullptr) return E_INVALIDARG;
        }
        return Hand(m_t, L"group:" + wanted, IID_IGroup, group, [&] { return new GroupObject(m_t, wanted); });
    }
    IFACEMETHODIMP Find(BSTR name, BSTR* key) override {
        if (key == nullptr) return E_POINTER;
        *key = nullptr;
        std::wstring wanted = Text(name);
        if (auto hr = m_t.fault("IGroups.Find", wanted)) return *hr;
        std::wstring found;
        {
            std::lock_guard<std::mutex> hold(m_t.lock);
            for (const auto& g : m_t.model.groups())
                if (g.name == wanted && found.empty()) found = g.key;
        }
        return NewBstr(found, key);
    }
    IFACEMETHODIMP Add(BSTR name, LONG flags, IGroup** group) override {
        if (group == nullptr) return E_POINTER;
        *group = nullptr;
        std::wstring text = Text(name);
        auto fault = m_t.fault("IGroups.Add", text);
        HRESULT result = fault.value_or(S_OK);
        std::wstring key;
        if (!fault) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            key = m_t.model.addGroup(text).key;
        }
        m_t.journal.write(
            JournalLine("IGroups.Add").wide("name", text).number("flags", flags).wide("key", key).hr(result));
        if (key.empty()) return result;
        return Hand(m_t, L"group:" + key, IID_IGroup, group, [&] { return new GroupObject(m_t, key); });
    }

protected:
    void* find(REFIID iid) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IGroups)) return static_cast<IGroups*>(this);
        return nullptr;
    }

private:
    Terminal& m_t;
};

// ---- connection ----

class ConnectionObject final : public ComObject<IConnection> {
public:
    explicit ConnectionObject(Terminal& t) : m_t(t) {}

    IFACEMETHODIMP Init(BSTR address, LONG port, BSTR user, BSTR password, BSTR options, VARIANT_BOOL* done) override {
        if (done == nullptr) return E_POINTER;
        *done = VARIANT_FALSE;
        HRESULT result = m_t.fault("IConnection.Init").value_or(S_OK);
        if (SUCCEEDED(result)) *done = VARIANT_TRUE;
        m_t.journal.write(JournalLine("IConnection.Init")
                              .wide("address", Text(address))
                              .number("port", port)
                              .wide("user", Text(user))
                              .wide("password", Text(password))
                              .wide("options", Text(options))
                              .hr(result));
        return result;
    }
    IFACEMETHODIMP get_Connected(VARIANT_BOOL* connected) override {
        if (connected == nullptr) return E_POINTER;
        *connected = VARIANT_FALSE;
        if (auto hr = m_t.fault("IConnection.get_Connected")) return *hr;
        *connected = m_t.options.notConnected ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }
    IFACEMETHODIMP get_Mode(LONG* mode) override {
        if (mode == nullptr) return E_POINTER;
        *mode = 0;
        if (auto hr = m_t.fault("IConnection.get_Mode")) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        *mode = m_t.mode;
        return S_OK;
    }
    IFACEMETHODIMP put_Mode(LONG mode) override {
        HRESULT result = m_t.fault("IConnection.put_Mode").value_or(S_OK);
        if (SUCCEEDED(result)) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            m_t.mode = mode;
        }
        m_t.journal.write(JournalLine("IConnection.put_Mode").number("mode", mode).hr(result));
        return result;
    }

protected:
    void* find(REFIID iid) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnection)) return static_cast<IConnection*>(this);
        return nullptr;
    }

private:
    Terminal& m_t;
};

// ---- application and its connection point ----

class ConnectionPointObject final : public ComObject<IConnectionPoint> {
public:
    ConnectionPointObject(Terminal& t, IConnectionPointContainer* container) : m_t(t) {
        container->AddRef();
        m_container = ComRef<IConnectionPointContainer>::adopt(container);
    }

    IFACEMETHODIMP GetConnectionInterface(IID* iid) override {
        if (iid == nullptr) return E_POINTER;
        *iid = IID_ITFrameWndEvents;
        return S_OK;
    }
    IFACEMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (container == nullptr) return E_POINTER;
        *container = m_container.get();
        m_container->AddRef();
        return S_OK;
    }
    IFACEMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (cookie == nullptr) return E_POINTER;
        *cookie = 0;
        HRESULT result = m_t.fault("IConnectionPoint.Advise").value_or(S_OK);
        if (result == S_OK && sink == nullptr) result = E_POINTER;
        ComRef<ITFrameWndEvents> events;
        if (result == S_OK && FAILED(sink->QueryInterface(IID_ITFrameWndEvents, reinterpret_cast<void**>(events.put()))))
            result = CONNECT_E_CANNOTCONNECT;
        if (result == S_OK && events) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            *cookie = m_t.nextCookie++;
            m_t.sinks.push_back({*cookie, std::move(events)});
        }
        m_t.journal.write(JournalLine("IConnectionPoint.Advise").number("cookie", *cookie).hr(result));
        return result;
    }
    IFACEMETHODIMP Unadvise(DWORD cookie) override {
        HRESULT result = m_t.fault("IConnectionPoint.Unadvise").value_or(S_OK);
        ComRef<ITFrameWndEvents> removed;  // released after the lock, since it calls out of the process
        if (result == S_OK) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            result = CONNECT_E_NOCONNECTION;
            for (auto it = m_t.sinks.begin(); it != m_t.sinks.end(); ++it) {
                if (it->cookie == cookie) {
                    removed = std::move(it->events);
                    m_t.sinks.erase(it);
                    result = S_OK;
                    break;
                }
            }
        }
        m_t.journal.write(JournalLine("IConnectionPoint.Unadvise").number("cookie", cookie).hr(result));
        return result;
    }
    IFACEMETHODIMP EnumConnections(IEnumConnections** connections) override {
        if (connections) *connections = nullptr;
        return E_NOTIMPL;
    }

protected:
    void* find(REFIID iid) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint))
            return static_cast<IConnectionPoint*>(this);
        return nullptr;
    }

private:
    Terminal& m_t;
    ComRef<IConnectionPointContainer> m_container;
};

class ApplicationObject final : public ComObject<IApplication, IConnectionPointContainer> {
public:
    explicit ApplicationObject(Terminal& t) : m_t(t) {}

    IFACEMETHODIMP get_Connection(IConnection** connection) override {
        if (connection == nullptr) return E_POINTER;
        *connection = nullptr;
        if (auto hr = m_t.fault("IApplication.get_Connection")) return *hr;
        return Hand(m_t, L"connection", IID_IConnection, connection, [&] { return new ConnectionObject(m_t); });
    }
    IFACEMETHODIMP get_Groups(IGroups** groups) override {
        if (groups == nullptr) return E_POINTER;
        *groups = nullptr;
        if (auto hr = m_t.fault("IApplication.get_Groups")) return *hr;
        return Hand(m_t, L"groups", IID_IGroups, groups, [&] { return new GroupsObject(m_t); });
    }
    IFACEMETHODIMP get_Active(VARIANT_BOOL* active) override {
        if (active == nullptr) return E_POINTER;
        *active = VARIANT_FALSE;
        if (auto hr = m_t.fault("IApplication.get_Active")) return *hr;
        std::lock_guard<std::mutex> hold(m_t.lock);
        *active = m_t.active;
        return S_OK;
    }
    IFACEMETHODIMP put_Active(VARIANT_BOOL active) override {
        HRESULT result = m_t.fault("IApplication.put_Active").value_or(S_OK);
        if (SUCCEEDED(result)) {
            std::lock_guard<std::mutex> hold(m_t.lock);
            m_t.active = active;
        }
        m_t.journal.write(JournalLine("IApplication.put_Active").number("active", active).hr(result));
        return result;
    }

    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (point == nullptr) return E_POINTER;
        *point = nullptr;
        if (auto hr = m_t.fault("IConnectionPointContainer.FindConnectionPoint")) return *hr;
        if (!IsEqualIID(iid, IID_ITFrameWndEvents)) return CONNECT_E_NOCONNECTION;
        return Hand(m_t, L"point", IID_IConnectionPoint, point, [&] { return new ConnectionPointObject(m_t, this); });
    }

protected:
    void* find(REFIID iid) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IApplication)) return static_cast<IApplication*>(this);
        if (IsEqualIID(iid, IID_IConnectionPointContainer)) return static_cast<IConnectionPointContainer*>(this);
        return nullptr;
    }

private:
    Terminal& m_t;
};

}  // namespace

Journal::~Journal() {
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
}

bool Journal::open(const std::string& path) {
    m_file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return m_file != INVALID_HANDLE_VALUE;
}

void Journal::write(const JournalLine& line) {
    std::string text = line.str();
    text += "\r\n";
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_file == INVALID_HANDLE_VALUE) return;
    // Other processes may append to the same file: lock, go to its end, write the whole line.
    OVERLAPPED whole{};
    bool locked = LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != FALSE;
    LARGE_INTEGER zero{};
    SetFilePointerEx(m_file, zero, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (locked) {
        OVERLAPPED again{};
        UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &again);
    }
}

std::string TriggerName(const char* what, DWORD pid) {
    return std::string("VeloSim_") + what + "_" + std::to_string(pid);
}

HRESULT HandedObjects::handOut(const std::wstring& identity, REFIID iid, void** out,
                               const std::function<IUnknown*()>& make) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_objects.find(identity);
    if (found == m_objects.end()) {
        ComRef<IUnknown> object = ComRef<IUnknown>::adopt(make());
        if (!object) return E_OUTOFMEMORY;
        // The strong external lock keeps the object's stubs whatever its clients release.
        HRESULT hr = CoLockObjectExternal(object.get(), TRUE, FALSE);
        if (FAILED(hr)) return hr;
        found = m_objects.emplace(identity, std::move(object)).first;
    }
    return found->second->QueryInterface(iid, out);
}

void HandedObjects::disconnectAll() {
    std::map<std::wstring, ComRef<IUnknown>> objects;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        objects.swap(m_objects);
    }
    // Disconnecting withdraws the stubs without waiting for calls on them, and drops the locks.
    for (const auto& [identity, object] : objects) CoDisconnectObject(object.get(), 0);
}

Terminal::Terminal(const VeloOptions& opts)
    : options(opts), faults(opts.faults), active(opts.inactive ? VARIANT_FALSE : VARIANT_TRUE),
      m_released(CreateEventA(nullptr, TRUE, FALSE, TriggerName("Release", GetCurrentProcessId()).c_str())) {
    for (const auto& layout : options.groups) {
        GroupState& group = model.addGroup(WideFromUtf8(layout.name));
        std::wstring key = group.key;
        for (long kind : layout.kinds) model.addWindow(key, kind, "");
    }
}

Terminal::~Terminal() {
    objects.disconnectAll();
    CloseHandle(m_started);
    if (m_released) CloseHandle(m_released);
}

std::optional<HRESULT> Terminal::fault(const char* call, const std::wstring& key) {
    const std::string keyText = Utf8FromWide(key);
    FaultTable::Pacing pacing = faults.pacing(call, keyText);
    if (pacing.hang && m_released && WaitForSingleObject(m_released, 0) == WAIT_TIMEOUT) {
        journal.write(JournalLine("Velo.Hang").text("call", call).text("key", keyText));
        WaitForSingleObject(m_released, INFINITE);
    }
    if (pacing.delayMs > 0) Sleep(pacing.delayMs);
    auto fired = faults.check(call, keyText);
    if (!fired) return std::nullopt;
    return fired->null ? S_OK : fired->hr;
}

void Terminal::fire(Event event) {
    std::vector<ComRef<ITFrameWndEvents>> targets;
    std::wstring groupKey;
    {
        std::lock_guard<std::mutex> hold(lock);
        for (const auto& sink : sinks) targets.push_back(sink.events);
        groupKey = model.activeGroup;
    }
    static const char* const names[] = {"FrameActivated", "FrameDeactivated", "FrameResized", "FrameMoved",
                                        "FrameClosing",   "GroupActivated",   "WindowPiloted"};
    long failed = 0;
    HRESULT first = S_OK;
    for (const auto& sink : targets) {
        HRESULT hr = E_UNEXPECTED;
        BSTR text = nullptr;
        switch (event) {
        case Event::Activated: hr = sink->FrameActivated(); break;
        case Event::Deactivated: hr = sink->FrameDeactivated(); break;
        case Event::Resized: hr = sink->FrameResized(1024, 768); break;
        case Event::Moved: hr = sink->FrameMoved(0, 0); break;
        case Event::Closing: hr = sink->FrameClosing(0); break;
        case Event::GroupActivated:
            text = SysAllocStringLen(groupKey.data(), static_cast<UINT>(groupKey.size()));
            hr = sink->GroupActivated(text);
            break;
        case Event::WindowPiloted:
            text = SysAllocString(L"");
            hr = sink->WindowPiloted(text);
            break;
        }
        SysFreeString(text);
        if (FAILED(hr)) {
            ++failed;
            if (first == S_OK) first = hr;
        }
    }
    JournalLine line(std::string("ITFrameWndEvents.") + names[static_cast<int>(event)]);
    if (event == Event::Closing) line.number("reason", 0);
    journal.write(line.number("sinks", static_cast<long long>(targets.size())).number("failed", failed).hr(first));
}

void Terminal::dropSinks() {
    std::vector<Sink> dropped;
    {
        std::lock_guard<std::mutex> hold(lock);
        dropped.swap(sinks);
    }
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    m_t.waitStarted();
    HRESULT result = m_t.fault("IClassFactory.CreateInstance").value_or(S_OK);
    if (result == S_OK && outer != nullptr) result = CLASS_E_NOAGGREGATION;
    if (result == S_OK) {
        // One application object, as the terminal has one.
        result = m_t.objects.handOut(L"app", iid, out, [&]() -> IUnknown* {
            return static_cast<IApplication*>(new ApplicationObject(m_t));
        });
    }
    m_t.journal.write(JournalLine("IClassFactory.CreateInstance").hr(result));
    return result;
}

}  // namespace velo

// An in-process event source for the sink templates: a source object that is its own connection point container,
// and one connection point. Test-owned (never self-deleting) so that tests can read their reference counts.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

// {6E5D1C40-3F1B-4C55-9D0A-7A1E2B3C4D01}
inline constexpr IID IID_IFakeEvents = {0x6e5d1c40, 0x3f1b, 0x4c55, {0x9d, 0x0a, 0x7a, 0x1e, 0x2b, 0x3c, 0x4d, 0x01}};
// {6E5D1C40-3F1B-4C55-9D0A-7A1E2B3C4D02}
inline constexpr IID IID_IFakeSource = {0x6e5d1c40, 0x3f1b, 0x4c55, {0x9d, 0x0a, 0x7a, 0x1e, 0x2b, 0x3c, 0x4d, 0x02}};

struct IFakeEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Ping(LONG value) = 0;
};

struct IFakeSource : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Fire(LONG value) = 0;
};

// Counts its references; never deletes itself.
class FakeCounted {
public:
    LONG refs() const { return m_refs.load(); }

protected:
    ULONG addRef() { return static_cast<ULONG>(++m_refs); }
    ULONG release() { return static_cast<ULONG>(--m_refs); }

private:
    std::atomic<LONG> m_refs{0};
};

class FakeConnectionPoint : public IConnectionPoint, public FakeCounted {
public:
    // Test switches.
    HRESULT adviseResult = S_OK;
    HRESULT unadviseResult = S_OK;
    bool holdsReference = true;  // a connection point keeps a reference to each advised sink
    bool touchOnUnadvise = false;  // takes and returns a reference to the sink while unadvising it

    // What it saw.
    int advises = 0;
    int unadvises = 0;
    std::vector<DWORD> unadvisedCookies;
    std::map<DWORD, IUnknown*> sinks;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
            *out = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        *iid = IID_IFakeEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        ++advises;
        if (FAILED(adviseResult)) {
            *cookie = 0;
            return adviseResult;
        }
        *cookie = m_nextCookie++;
        if (holdsReference) sink->AddRef();
        sinks[*cookie] = sink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        ++unadvises;
        unadvisedCookies.push_back(cookie);
        if (FAILED(unadviseResult)) return unadviseResult;
        auto found = sinks.find(cookie);
        if (found == sinks.end()) return CONNECT_E_NOCONNECTION;
        IUnknown* sink = found->second;
        sinks.erase(found);
        if (touchOnUnadvise) {
            sink->AddRef();
            sink->Release();
        }
        if (holdsReference) sink->Release();
        return S_OK;
    }

    // Fires Ping on every advised sink.
    void fire(LONG value) {
        for (auto& [cookie, sink] : sinks) {
            IFakeEvents* events = nullptr;
            if (SUCCEEDED(sink->QueryInterface(IID_IFakeEvents, reinterpret_cast<void**>(&events)))) {
                events->Ping(value);
                events->Release();
            }
        }
    }

private:
    DWORD m_nextCookie = 0x100;
};

class FakeSource : public IFakeSource, public IConnectionPointContainer, public FakeCounted {
public:
    explicit FakeSource(FakeConnectionPoint& point) : m_point(point) {}

    // Test switches.
    bool isContainer = true;             // answers QueryInterface for IConnectionPointContainer
    bool nullContainer = false;          // ... with S_OK and a null pointer
    HRESULT findResult = S_OK;           // FindConnectionPoint fails with this
    bool nullPoint = false;              // FindConnectionPoint answers S_OK with a null pointer

    std::vector<IID> pointsAskedFor;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IFakeSource)) {
            *out = static_cast<IFakeSource*>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(iid, IID_IConnectionPointContainer) && isContainer) {
            if (nullContainer) {
                *out = nullptr;
                return S_OK;
            }
            *out = static_cast<IConnectionPointContainer*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE Fire(LONG value) override {
        m_point.fire(value);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        pointsAskedFor.push_back(iid);
        *point = nullptr;
        if (FAILED(findResult)) return findResult;
        if (nullPoint) return S_OK;
        if (!IsEqualIID(iid, IID_IFakeEvents)) return CONNECT_E_NOCONNECTION;
        *point = &m_point;
        m_point.AddRef();
        return S_OK;
    }

private:
    FakeConnectionPoint& m_point;
};

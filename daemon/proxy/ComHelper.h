// Building blocks of the daemon's COM event sinks.
//
// A sink derives from CComEventHandler<Source, Event, EventIid> and implements Event's methods. It is one object
// pointer for both IUnknown and Event (single inheritance), counts its references atomically (the source calls it
// on any thread of the apartment), and unadvises itself if its last reference goes while it is still advised.
#pragma once

#include "daemon/proxy/ComError.h"
#include "daemon/proxy/ComPtr.h"

#include <windows.h>
#include <ocidl.h>

#include <atomic>

namespace ComHelper {

// Reference counting and QueryInterface for IUnknown and one interface.
template <class Interface, const IID& InterfaceIid>
class CUnknownImpl : public Interface {
public:
    CUnknownImpl(const CUnknownImpl&) = delete;
    CUnknownImpl& operator=(const CUnknownImpl&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceIid)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refCount); }

    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --m_refCount;
        if (count == 0) {
            // The destructor unadvises: references the connection point takes and returns meanwhile must not
            // bring the count to 0 a second time.
            m_refCount = kDestroying;
            // Every layer's clean-up runs through the virtual destructor.
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    LONG refCount() const noexcept { return m_refCount.load(); }

protected:
    CUnknownImpl() = default;
    virtual ~CUnknownImpl() = default;

private:
    static constexpr LONG kDestroying = 0x3FFFFFFF;
    std::atomic<LONG> m_refCount{0};
};

// The dispatch layer. The sinks here are reached through their vtable only, so no IDispatch is offered;
// the type information slot stays empty unless a derived sink fills it.
template <class Interface, const IID& InterfaceIid>
class CDispatchImpl : public CUnknownImpl<Interface, InterfaceIid> {
protected:
    CDispatchImpl() = default;
    ~CDispatchImpl() override = default;

    ComPtr<ITypeInfo> m_typeInfo;
};

// Connects the sink to, and disconnects it from, the connection point for Event of a source object.
template <class Source, class Event, const IID& EventIid>
class CComEventHandler : public CDispatchImpl<Event, EventIid> {
public:
    // Consumes the given reference. Advising again first ends the current connection. The source stays held
    // even when the connection point refuses the sink.
    HRESULT Advise(ComPtr<Source> source) {
        Unadvise();
        if (m_cookie != 0) return E_FAIL;
        if (!(m_source == source)) m_source = source;
        if (!m_source) throw ComError(E_POINTER, IID_IConnectionPointContainer);

        ComPtr<IConnectionPoint> point;
        HRESULT hr = FindConnectionPoint(point);
        if (FAILED(hr)) return hr;
        DWORD cookie = 0;
        hr = point->Advise(static_cast<IUnknown*>(static_cast<Event*>(this)), &cookie);
        // A refused advice leaves no cookie that a later Unadvise could hand back.
        if (SUCCEEDED(hr)) m_cookie = cookie;
        return hr;
    }

    // E_FAIL, changing nothing, when not advised. Otherwise the connection and the source are let go
    // whatever the connection point answers.
    HRESULT Unadvise() {
        if (m_cookie == 0) return E_FAIL;
        if (!m_source) throw ComError(E_POINTER, IID_IConnectionPointContainer);

        ComPtr<IConnectionPoint> point;
        HRESULT hr = FindConnectionPoint(point);
        if (SUCCEEDED(hr)) hr = point->Unadvise(m_cookie);
        m_cookie = 0;
        m_source = nullptr;
        return hr;
    }

    DWORD cookie() const noexcept { return m_cookie; }
    const ComPtr<Source>& source() const noexcept { return m_source; }

protected:
    CComEventHandler() = default;

    ~CComEventHandler() override {
        // Still advised when the last reference goes (the source dropped its own): end the connection here.
        try {
            Unadvise();
        } catch (...) {
            // A destructor must not throw; the source is released below all the same.
        }
    }

private:
    // The stored source's connection point for Event; a failing HRESULT is returned, a null answer raised.
    HRESULT FindConnectionPoint(ComPtr<IConnectionPoint>& point) {
        ComPtr<IConnectionPointContainer> container;
        HRESULT hr = m_source->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
        if (FAILED(hr)) return hr;
        if (!container) throw ComError(E_POINTER, IID_IConnectionPointContainer);
        hr = container->FindConnectionPoint(EventIid, point.put());
        if (FAILED(hr)) return hr;
        if (!point) throw ComError(E_POINTER, IID_IConnectionPointContainer);
        return hr;
    }

    ComPtr<Source> m_source;
    DWORD m_cookie = 0;
};

}  // namespace ComHelper

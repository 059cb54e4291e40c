// COM error text and the COM error raised by a failed call.
#include "daemon/proxy/ComError.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <optional>
#include <string>

using ComHelper::ComPtr;

namespace {

struct TextCase {
    HRESULT hr;
    std::optional<std::string> systemMessage;
    std::string expected;
};

TEST(ComErrorTextTest, SystemMessageTrimmedElseFallback) {
    const TextCase cases[] = {
        // The system's message, one final line end removed.
        {E_FAIL, "Unspecified error\r\n", "Unspecified error"},
        {E_FAIL, "Unspecified error\n", "Unspecified error"},
        {E_FAIL, "two lines\r\nend\r\n", "two lines\r\nend"},
        {E_FAIL, "twice\r\n\r\n", "twice\r\n"},
        {E_FAIL, "carriage return only\r", "carriage return only\r"},
        {E_FAIL, "no line end", "no line end"},
        {E_FAIL, "\r\n", ""},
        {E_FAIL, "", ""},
        // No system message: dispatch errors by number, from 0x80040201 to 0x8004FFFF.
        {static_cast<HRESULT>(0x80040205), std::nullopt, "IDispatch error #5"},
        {static_cast<HRESULT>(0x80040201), std::nullopt, "IDispatch error #1"},
        {static_cast<HRESULT>(0x8004FFFF), std::nullopt, "IDispatch error #65023"},
        // Everything else, 0x80040200 included, by its value.
        {static_cast<HRESULT>(0x80040200), std::nullopt, "Unknown error 0x80040200"},
        {static_cast<HRESULT>(0x80040000), std::nullopt, "Unknown error 0x80040000"},
        {static_cast<HRESULT>(0x80050000), std::nullopt, "Unknown error 0x80050000"},
        {static_cast<HRESULT>(0x800401FF), std::nullopt, "Unknown error 0x800401FF"},
        {static_cast<HRESULT>(0x00000001), std::nullopt, "Unknown error 0x1"},
        {static_cast<HRESULT>(0xFFFFFFFF), std::nullopt, "Unknown error 0xFFFFFFFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<unsigned long>(c.hr));
        EXPECT_EQ(ComErrorTextFrom(c.hr, c.systemMessage), c.expected);
    }
}

TEST(ComErrorTextTest, FallbackNeverExceeds31Characters) {
    for (unsigned long code : {0x80040201UL, 0x8004FFFFUL, 0x80040200UL, 0xFFFFFFFFUL, 0x0UL, 0x7FFFFFFFUL}) {
        EXPECT_LE(ComErrorFallbackText(static_cast<HRESULT>(code)).size(), 31u) << code;
    }
}

TEST(ComErrorTextTest, SystemTextsOfThisMachine) {
    // 0x80040205 has no system message: the dispatch fallback shows it.
    EXPECT_EQ(ComErrorText(static_cast<HRESULT>(0x80040205)), "IDispatch error #5");
    // Wine's message table ends its texts with a bare line feed; Windows' with CR LF. Neither reaches the log.
    for (HRESULT hr : {E_FAIL, E_OUTOFMEMORY, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)}) {
        const std::string text = ComErrorText(hr);
        SCOPED_TRACE(text);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), '\n');
        EXPECT_NE(text.back(), '\r');
        EXPECT_EQ(text.find("Unknown error"), std::string::npos);
    }
    // Some common COM results have a system message on Windows but not under Wine: either is fine, but it
    // is never empty and never a line end.
    for (HRESULT hr : {E_POINTER, E_NOINTERFACE, REGDB_E_CLASSNOTREG, RPC_E_DISCONNECTED}) {
        const std::string text = ComErrorText(hr);
        SCOPED_TRACE(text);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), '\n');
    }
}

// An object that declares rich error information for one interface only.
class ErrorInfoObject : public ISupportErrorInfo {
public:
    explicit ErrorInfoObject(const IID& supported) : m_supported(supported) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISupportErrorInfo)) {
            *out = static_cast<ISupportErrorInfo*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, m_supported) ? S_OK : S_FALSE;
    }

private:
    IID m_supported;
};

void SetThreadErrorInfo(const wchar_t* description, const wchar_t* source) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(description));
    create->SetSource(const_cast<LPOLESTR>(source));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, info.putVoid()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
}

TEST(ComErrorTest, CarriesTheResultTheInterfaceAndTheText) {
    try {
        CheckCom(E_NOINTERFACE, IID_IClassFactory);
        FAIL() << "no COM error";
    } catch (const ComError& error) {
        EXPECT_EQ(error.hr(), E_NOINTERFACE);
        EXPECT_TRUE(IsEqualIID(error.iid(), IID_IClassFactory));
        EXPECT_EQ(error.text(), ComErrorText(E_NOINTERFACE));
        EXPECT_STREQ(error.what(), error.text().c_str());
        EXPECT_TRUE(error.description().empty());
    }
    EXPECT_NO_THROW(CheckCom(S_OK, IID_IUnknown));
    EXPECT_NO_THROW(CheckCom(S_FALSE, IID_IUnknown));
}

TEST(ComErrorTest, NullInterfaceWithSuccessIsEPointer) {
    ComPtr<IUnknown> none;
    try {
        CheckComResult(S_OK, none, IID_IClassFactory);
        FAIL() << "no COM error";
    } catch (const ComError& error) {
        EXPECT_EQ(error.hr(), E_POINTER);
        EXPECT_TRUE(IsEqualIID(error.iid(), IID_IClassFactory));
    }
}

TEST(ComErrorTest, CapturesRichErrorInformationOnlyWhereTheObjectDeclaresIt) {
    ErrorInfoObject object(IID_IClassFactory);
    SetThreadErrorInfo(L"the server refused", L"Velo");
    try {
        CheckCom(DISP_E_EXCEPTION, IID_IClassFactory, &object);
        FAIL() << "no COM error";
    } catch (const ComError& error) {
        EXPECT_EQ(error.description(), L"the server refused");
        EXPECT_EQ(error.source(), L"Velo");
        // The log text stays the HRESULT's own.
        EXPECT_EQ(error.text(), ComErrorText(DISP_E_EXCEPTION));
    }

    SetThreadErrorInfo(L"not for this interface", L"Velo");
    try {
        CheckCom(E_FAIL, IID_IPersist, &object);
        FAIL() << "no COM error";
    } catch (const ComError& error) {
        EXPECT_TRUE(error.description().empty());
    }
    SetErrorInfo(0, nullptr);
}

}  // namespace

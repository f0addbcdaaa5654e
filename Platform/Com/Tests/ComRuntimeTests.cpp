// The COM runtime: strings, values and their conversions, error information per thread, and finding a class
// through the registry (whose values any process may have written).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "LumoTestSupport.h"
#include "PlatformCom.h"
#include "PlatformRegistry.h"

namespace {

PlatVariant I4(int32_t v)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_I4;
    out.lVal = v;
    return out;
}

PlatVariant Str(const std::string& text)
{
    PlatVariant out;
    PlatVariantInit(&out);
    out.vt = PLAT_VT_BSTR;
    out.bstrVal = PlatSysAllocUtf8(text);
    return out;
}

class ScratchMachine {
public:
    ScratchMachine()
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
    }
    ~ScratchMachine()
    {
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }

private:
    lumotest::TempDir m_Dir;
    std::string m_Old;
    bool m_Had = false;
};

void SetText(const std::string& key, const void* data, uint32_t size, uint32_t type = PLAT_REG_SZ)
{
    PlatHKEY h = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_CLASSES_ROOT, key.c_str(), 0, PLAT_KEY_ALL_ACCESS, &h, nullptr), 0);
    ASSERT_EQ(PlatRegSetValueEx(h, nullptr, type, data, size), 0);
    PlatRegCloseKey(h);
}

}  // namespace

TEST(ComRuntime, StringsKeepTheirLengthAndText)
{
    PlatBSTR s = PlatSysAllocUtf8("Größe \xF0\x9F\x93\xB7");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(PlatSysStringLen(s), 8u);  // the camera is a surrogate pair
    EXPECT_EQ(PlatBstrUtf8(s), "Größe \xF0\x9F\x93\xB7");
    PlatSysFreeString(s);
    const char16_t inner[] = {u'a', 0, u'b'};
    s = PlatSysAllocStringLen(inner, 3);
    EXPECT_EQ(PlatSysStringLen(s), 3u);
    PlatSysFreeString(s);
    EXPECT_EQ(PlatSysStringLen(nullptr), 0u);
    EXPECT_EQ(PlatBstrUtf8(nullptr), "");
    // Bytes that are not UTF-8 become replacement characters, never a read past the text.
    s = PlatSysAllocUtf8(std::string("\xC3", 1));
    EXPECT_EQ(PlatSysStringLen(s), 1u);
    EXPECT_EQ(s[0], u'\xFFFD');
    PlatSysFreeString(s);
}

TEST(ComRuntime, ValuesConvertOrSayWhyNot)
{
    struct Case {
        PlatVariant from;
        uint16_t vt;
        PlatHRESULT hr;
        int64_t value;  // for a successful numeric result
    };
    Case cases[] = {
        {Str("42"), PLAT_VT_I4, PLAT_S_OK, 42},
        {Str("0x1F"), PLAT_VT_UI1, PLAT_S_OK, 31},
        {Str("-1"), PLAT_VT_UI1, PLAT_DISP_E_OVERFLOW, 0},
        {Str("12abc"), PLAT_VT_I4, PLAT_DISP_E_TYPEMISMATCH, 0},
        {Str(""), PLAT_VT_I4, PLAT_DISP_E_TYPEMISMATCH, 0},
        {I4(256), PLAT_VT_UI1, PLAT_DISP_E_OVERFLOW, 0},
        {I4(-32768), PLAT_VT_I2, PLAT_S_OK, -32768},
        {I4(65535), PLAT_VT_UI2, PLAT_S_OK, 65535},
        {I4(7), PLAT_VT_BOOL, PLAT_S_OK, -1},
        {Str("2.5"), PLAT_VT_I4, PLAT_S_OK, 2},  // halves go to the even neighbour
        {Str("3.5"), PLAT_VT_I4, PLAT_S_OK, 4},
    };
    for (Case& c : cases) {
        PlatVariant to;
        PlatVariantInit(&to);
        EXPECT_EQ(PlatVariantChangeType(&to, &c.from, 0, c.vt), c.hr) << PlatBstrUtf8(c.from.vt == PLAT_VT_BSTR ? c.from.bstrVal : nullptr);
        if (c.hr == PLAT_S_OK) {
            EXPECT_EQ(to.vt, c.vt);
            const int64_t got = c.vt == PLAT_VT_UI1 ? to.bVal : c.vt == PLAT_VT_I2 || c.vt == PLAT_VT_BOOL ? to.iVal
                                : c.vt == PLAT_VT_UI2 ? to.uiVal : to.lVal;
            EXPECT_EQ(got, c.value);
        }
        PlatVariantClear(&to);
        PlatVariantClear(&c.from);
    }

    // Numbers to text, and a value through a reference.
    PlatVariant n = I4(-12), text;
    PlatVariantInit(&text);
    ASSERT_EQ(PlatVariantChangeType(&text, &n, 0, PLAT_VT_BSTR), PLAT_S_OK);
    EXPECT_EQ(PlatBstrUtf8(text.bstrVal), "-12");
    PlatVariant inner = Str("9"), ref, out;
    PlatVariantInit(&ref);
    PlatVariantInit(&out);
    ref.vt = PLAT_VT_BYREF | PLAT_VT_VARIANT;
    ref.byref = &inner;
    ASSERT_EQ(PlatVariantChangeType(&out, &ref, 0, PLAT_VT_I4), PLAT_S_OK);
    EXPECT_EQ(out.lVal, 9);
    PlatVariantClear(&ref);  // a reference owns nothing
    EXPECT_NE(inner.bstrVal, nullptr);
    PlatVariantClear(&inner);
    PlatVariantClear(&text);
}

TEST(ComRuntime, ErrorInformationBelongsToItsThread)
{
    PlatICreateErrorInfo* create = nullptr;
    ASSERT_EQ(PlatCreateErrorInfo(&create), PLAT_S_OK);
    create->SetDescription(u"It went wrong.");
    void* info = nullptr;
    ASSERT_EQ(create->QueryInterface(PLAT_IID_IErrorInfo, &info), PLAT_S_OK);
    create->Release();
    ASSERT_EQ(PlatSetErrorInfo(0, static_cast<PlatIErrorInfo*>(info)), PLAT_S_OK);
    static_cast<PlatIErrorInfo*>(info)->Release();

    PlatHRESULT other = PLAT_S_OK;
    std::thread([&] {
        PlatIErrorInfo* none = nullptr;
        other = PlatGetErrorInfo(0, &none);
    }).join();
    EXPECT_EQ(other, PLAT_S_FALSE);

    PlatIErrorInfo* got = nullptr;
    ASSERT_EQ(PlatGetErrorInfo(0, &got), PLAT_S_OK);
    PlatBSTR text = nullptr;
    ASSERT_EQ(got->GetDescription(&text), PLAT_S_OK);
    EXPECT_EQ(PlatBstrUtf8(text), "It went wrong.");
    PlatSysFreeString(text);
    got->Release();
    // Taken once.
    EXPECT_EQ(PlatGetErrorInfo(0, &got), PLAT_S_FALSE);
}

TEST(ComRuntime, ClassesAreFoundThroughTheRegistry)
{
    ScratchMachine machine;
    PlatGuid clsid{};
    EXPECT_EQ(PlatCLSIDFromProgID(u"Nobody.Here.1", &clsid), PLAT_CO_E_CLASSSTRING);
    EXPECT_EQ(PlatCLSIDFromProgID(u"{B5463437-6971-11D4-816D-0050DACEAA4B}", &clsid), PLAT_S_OK);
    EXPECT_EQ(clsid.data1, 0xB5463437u);

    const std::string text = "{12345678-1234-5678-9ABC-DEF012345678}";
    SetText("Good.Class.1\\CLSID", text.c_str(), static_cast<uint32_t>(text.size() + 1));
    ASSERT_EQ(PlatCLSIDFromProgID(u"good.class.1", &clsid), PLAT_S_OK);
    EXPECT_EQ(PlatGuidText(clsid), text);
    // What another process wrote is checked: a number, a text without its zero and a cut text are refused.
    const uint32_t number = 5;
    SetText("Bad.Type\\CLSID", &number, 4, PLAT_REG_DWORD);
    SetText("Bad.Short\\CLSID", text.c_str(), 20);
    SetText("Bad.Exact\\CLSID", text.c_str(), static_cast<uint32_t>(text.size()));
    EXPECT_EQ(PlatCLSIDFromProgID(u"Bad.Type", &clsid), PLAT_CO_E_CLASSSTRING);
    EXPECT_EQ(PlatCLSIDFromProgID(u"Bad.Short", &clsid), PLAT_CO_E_CLASSSTRING);
    EXPECT_EQ(PlatCLSIDFromProgID(u"Bad.Exact", &clsid), PLAT_S_OK);

    // No server registered, and one whose library is not there.
    void* object = nullptr;
    EXPECT_EQ(PlatCoCreateInstance(clsid, nullptr, PLAT_CLSCTX_INPROC_SERVER, PLAT_IID_IDispatch, &object),
              PLAT_REGDB_E_CLASSNOTREG);
    const std::string missing = "/nonexistent/libNothing.so";
    SetText("CLSID\\" + text + "\\InprocServer32", missing.c_str(), static_cast<uint32_t>(missing.size() + 1));
    EXPECT_EQ(PlatCoCreateInstance(clsid, nullptr, PLAT_CLSCTX_INPROC_SERVER, PLAT_IID_IDispatch, &object),
              PLAT_CO_E_DLLNOTFOUND);
    EXPECT_EQ(object, nullptr);
}

#include "TestProbe.h"

#include <cstdio>
#include <map>
#include <string>

#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "KUiObject.h"
#include "KUiObjectFactory.h"

namespace {

bool ParseColor(const std::string& text, KUiColor& out)
{
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#')
        return false;
    unsigned long v = 0;
    try {
        v = std::stoul(text.substr(1), nullptr, 16);
    } catch (...) {
        return false;
    }
    if (text.size() == 7)
        out = KUiColor(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 255);
    else
        out = KUiColor(uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
    return true;
}

class KTestProbe : public KUiObject {
public:
    KTestProbe()
    {
        m_pTypeKeyword = "TEST_PROBE";
        AddEvent(KWString("ON_PROBE"));
    }

    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override
    {
        KUiObject::InitUiObject(application, window, parent, node);
        auto key = [node](const char* a, const char* b, int def) {
            bool found = false;
            int v = node->GetInt(KWString(a), def, &found);
            return found ? v : node->GetInt(KWString(b), def);
        };
        const int minH = key("MinHSize", "_MinHSize", 5), minV = key("MinVSize", "_MinVSize", 5);
        const int hs = key("HStretch", "_HStretch", 0), vs = key("VStretch", "_VStretch", 0);
        m_HLayout.SetMinimumSize(minH);
        m_HLayout.SetSize(minH);
        m_HLayout.SetStretch(hs);
        m_HLayout.SetFixed(hs == 0);
        m_VLayout.SetMinimumSize(minV);
        m_VLayout.SetSize(minV);
        m_VLayout.SetStretch(vs);
        m_VLayout.SetFixed(vs == 0);
        node->GetRect(m_FixedRect, KWString("Rect"), KRect(), &m_HasFixedRect);
        if (m_HasFixedRect)
            m_Rect = m_FixedRect;
        m_LogInput = node->GetBool(KWString("LogInput"), false);
        m_TakeFocus = node->GetBool(KWString("TakeFocus"), false);
        m_CopyText = node->GetString(KWString("CopyText"), KWString(), &m_HasCopyText);
        m_DragPayload = node->GetString(KWString("DragPayload"), KWString(), &m_DragSource);
        m_AcceptDrop = node->GetBool(KWString("AcceptDrop"), false);
        m_LogTick = node->GetBool(KWString("LogTick"), false);
        bool found = false;
        const KWString color = node->GetString(KWString("Color"), KWString(), &found);
        m_HasColor = found && ParseColor(WideToUtf8(color), m_Color);
        // "MSG:k,MSG:k"
        std::string kinds = WideToUtf8(node->GetString(KWString("Kinds"), KWString()));
        size_t start = 0;
        while (start < kinds.size()) {
            size_t end = kinds.find(',', start);
            if (end == std::string::npos)
                end = kinds.size();
            const std::string item = kinds.substr(start, end - start);
            const size_t colon = item.rfind(':');
            if (colon != std::string::npos)
                m_Kinds[item.substr(0, colon)] = item.substr(colon + 1);
            start = end + 1;
        }
        return true;
    }

    bool UiRelayMessage(const KWString& message, void* data) override
    {
        const std::string name = WideToUtf8(message);
        std::string text;
        auto it = m_Kinds.find(name);
        if (data && it != m_Kinds.end())
            text = priFormat(it->second, data);
        std::printf("%s %s%s%s\n", WideToUtf8(m_Path).c_str(), name.c_str(), text.empty() ? "" : " ", text.c_str());
        std::fflush(stdout);
        if (message == "Post Creation Initialization" && m_TakeFocus && m_pWindow)
            m_pWindow->SetKeyboardFocus(this, true);
        const KWString* colour = message == "SetColor" ? UiRelayData<KWString>(data) : nullptr;
        if (colour) {
            KUiColor c;
            if (ParseColor(WideToUtf8(*colour), c)) {
                m_Color = c;
                m_HasColor = true;
                if (m_pWindow)
                    m_pWindow->Invalidate(&m_Rect);
            }
        }
        return true;
    }

    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override
    {
        if (!m_HasColor)
            return;
        KRect r = m_Rect;
        r.Offset(dx, dy);
        KRect c(std::max(r.left, clip.left), std::max(r.top, clip.top), std::min(r.right, clip.right),
                std::min(r.bottom, clip.bottom));
        if (c.Width() > 0 && c.Height() > 0)
            surface->FillRect(c, m_Color);
    }

    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override
    {
        // A probe placed by "Rect" stays there.
        if (m_HasFixedRect) {
            m_Rect = m_FixedRect;
            return true;
        }
        return KUiObject::SetRect(x, y, width, height);
    }

    KIUiObject* HitTest(int32_t x, int32_t y) override
    {
        return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
    }

    void Tick(int32_t elapsedMs) override
    {
        if (m_LogTick)
            priLog("Tick " + std::to_string(elapsedMs));
    }

    void MouseEnter(int32_t x, int32_t y) override { priLogInput("MouseEnter", x, y); }
    void MouseLeave(int32_t x, int32_t y) override { priLogInput("MouseLeave", x, y); }
    void MouseMove(int32_t x, int32_t y) override { priLogInput("MouseMove", x, y); }

    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override
    {
        priLogInput("MouseDown", x, y, ctrl, shift);
        if (m_TakeFocus && m_pWindow)
            m_pWindow->SetKeyboardFocus(this, true);
        return true;
    }

    void MouseUp(int32_t x, int32_t y, bool ctrl, bool shift) override
    {
        priLogInput("MouseUp", x, y, ctrl, shift);
        // The event may close the probe's window: nothing of the probe is used after it.
        FindEvent(KWString("ON_PROBE"))->Fire(nullptr);
    }

    void DoubleClick(int32_t x, int32_t y, bool ctrl, bool shift) override
    {
        priLogInput("DoubleClick", x, y, ctrl, shift);
    }

    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override
    {
        if (m_LogInput)
            priLog("MouseWheel " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(a) + " " +
                   std::to_string(b));
    }

    void KeyDown(int code, bool ctrl, bool shift) override
    {
        if (m_LogInput)
            priLog("KeyDown " + std::to_string(code) + " " + (ctrl ? "1" : "0") + " " + (shift ? "1" : "0"));
    }

    void Copy(KWString& out) override
    {
        if (m_LogInput)
            priLog("Copy");
        if (m_HasCopyText)
            out = m_CopyText;
    }

    void Cut(KWString& out) override
    {
        if (m_LogInput)
            priLog("Cut");
        if (m_HasCopyText)
            out = m_CopyText;
    }

    void Paste(const KWString& text) override
    {
        if (m_LogInput)
            priLog("Paste " + WideToUtf8(text));
    }

    void LoseFocus() override
    {
        if (m_LogInput)
            priLog("LoseFocus");
    }

    bool BeginDrag(int32_t x, int32_t y, bool, bool, KWString& payload) override
    {
        if (!m_DragSource)
            return false;
        if (m_LogInput)
            priLog("BeginDrag " + std::to_string(x) + " " + std::to_string(y));
        payload = m_DragPayload;
        return true;
    }

    bool CanAcceptDrop(int32_t, int32_t) override { return m_AcceptDrop; }

    bool Drop(int32_t x, int32_t y, bool, bool, const KWString& payload) override
    {
        if (m_LogInput)
            priLog("Drop " + std::to_string(x) + " " + std::to_string(y) + " " + WideToUtf8(payload));
        return m_AcceptDrop;
    }

private:
    void priLog(const std::string& text)
    {
        std::printf("%s %s\n", WideToUtf8(m_Path).c_str(), text.c_str());
        std::fflush(stdout);
    }

    void priLogInput(const char* what, int32_t x, int32_t y)
    {
        if (m_LogInput)
            priLog(std::string(what) + " " + std::to_string(x) + " " + std::to_string(y));
    }

    void priLogInput(const char* what, int32_t x, int32_t y, bool ctrl, bool shift)
    {
        if (m_LogInput)
            priLog(std::string(what) + " " + std::to_string(x) + " " + std::to_string(y) + " " + (ctrl ? "1" : "0") +
                   " " + (shift ? "1" : "0"));
    }

    // The data read as the kind says; nothing when it is of another type.
    std::string priFormat(const std::string& kind, void* data)
    {
        char buffer[128];
        if (kind == "s") {
            const KWString* s = UiRelayData<KWString>(data);
            return s ? WideToUtf8(*s) : std::string();
        }
        if (kind == "ss") {
            const KWString* s = UiRelayData<KWString>(data, 2);
            return s ? WideToUtf8(s[0]) + "|" + WideToUtf8(s[1]) : std::string();
        }
        if (kind == "b") {
            const bool* b = UiRelayData<bool>(data);
            return b ? (*b ? "1" : "0") : "";
        }
        if (kind == "i" || kind == "ii" || kind == "iii") {
            const int32_t* v = UiRelayData<int32_t>(data, kind.size());
            if (!v)
                return std::string();
            std::string out;
            for (size_t i = 0; i < kind.size(); ++i)
                out += (i ? "," : "") + std::to_string(v[i]);
            return out;
        }
        if (kind == "d" || kind == "ddd") {
            const double* v = UiRelayData<double>(data, kind == "d" ? 1u : 3u);
            if (!v)
                return std::string();
            std::string out;
            for (size_t i = 0; i < (kind == "d" ? 1u : 3u); ++i) {
                std::snprintf(buffer, sizeof buffer, "%g", v[i]);
                out += (i ? "," : "") + std::string(buffer);
            }
            return out;
        }
        if (kind == "w") {
            KIGenericUiWindow* window = UiRelayObject<KIGenericUiWindow>(data);
            if (!window)
                return std::string();
            KWString path;
            window->GetPath(path);
            return WideToUtf8(path);
        }
        return std::string();
    }

    bool m_HasFixedRect = false;
    KRect m_FixedRect;
    bool m_LogInput = false;
    bool m_TakeFocus = false;
    bool m_HasCopyText = false;
    KWString m_CopyText;
    bool m_DragSource = false;
    KWString m_DragPayload;
    bool m_AcceptDrop = false;
    bool m_LogTick = false;
    bool m_HasColor = false;
    KUiColor m_Color;
    std::map<std::string, std::string> m_Kinds;
};

class KTestProbeCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override { return new KTestProbe; }
};

}  // namespace

bool RegisterTestProbe(KIUiObjectFactory* factory)
{
    static const KWString keyword("TEST_PROBE");
    auto* creator = new KTestProbeCreator;
    if (factory->Register(&keyword, creator))
        return true;
    delete creator;
    return false;
}

#include "KUiRelayData.h"

#include "KWString.h"

namespace {

// The innermost delivery of this thread that stated its data; each scope links to the one it is nested in.
thread_local const KUiRelayDataScope* t_pInnermost = nullptr;

}  // namespace

KUiRelayDataScope::KUiRelayDataScope(const void* data, const std::type_info& type, size_t count, bool writable)
    : m_pData(data), m_pType(&type), m_Count(count), m_Writable(writable), m_pOuter(t_pInnermost)
{
    t_pInnermost = this;
}

KUiRelayDataScope::~KUiRelayDataScope()
{
    t_pInnermost = m_pOuter;
}

bool KUiRelayDataScope::Accepts(const void* data, const std::type_info& type, size_t count, bool write)
{
    if (!data)
        return false;
    for (const KUiRelayDataScope* s = t_pInnermost; s; s = s->m_pOuter)
        if (s->m_pData == data)
            return *s->m_pType == type &&
                   (s->m_Count == count || (type == typeid(KWString) && s->m_Count > count)) &&
                   (s->m_Writable || !write);
    return true;
}

bool UiRelayFlag(const void* data, bool& value)
{
    // Read as the byte it is: a bool holds 0 or 1, a byte any value.
    const unsigned char* byte = nullptr;
    if (const bool* b = UiRelayData<bool>(data))
        byte = reinterpret_cast<const unsigned char*>(b);
    else
        byte = UiRelayData<unsigned char>(data);
    if (!byte)
        return false;
    value = *byte != 0;
    return true;
}

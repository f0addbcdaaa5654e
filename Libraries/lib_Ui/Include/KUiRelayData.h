#pragma once
// The type of a relay message's data. A script may wire any event to any command, so whoever delivers data
// states what the pointer points to for the length of the delivery (KUiRelayDataScope; RelayEvent::Fire does
// it for every event), and receivers read it only through UiRelayData, UiRelayResult or UiRelayFlag, which
// answer null (false) when the data is of another type: the command then acts as it does without data.
//
// A pointer that no delivery stated (a direct C++ call of UiRelayMessage) is taken as the type the receiver
// asks for: only code that names the command and builds its argument makes such a call, as with any typed
// C++ call; nothing a script wires is delivered unstated.
#include <cstddef>
#include <type_traits>
#include <typeinfo>

// What a sender's data points to: a typed pointer's object, an array's elements, or nothing for null.
struct KUiRelayDataStatement {
    void* data;
    const std::type_info* type;
    size_t count;
    bool writable;
};

template <class P>
KUiRelayDataStatement UiRelayStatement(P&& data)
{
    using D = std::remove_reference_t<P>;
    if constexpr (std::is_null_pointer_v<std::remove_cv_t<D>>) {
        return {nullptr, &typeid(void), 0, false};
    } else if constexpr (std::is_array_v<D>) {
        using E = std::remove_extent_t<D>;
        return {const_cast<void*>(static_cast<const void*>(data)), &typeid(E), std::extent_v<D>, !std::is_const_v<E>};
    } else {
        static_assert(std::is_pointer_v<std::decay_t<P>>, "relay data is a pointer or an array");
        using E = std::remove_pointer_t<std::decay_t<P>>;
        static_assert(!std::is_void_v<std::remove_cv_t<E>>, "relay data states its type");
        return {const_cast<void*>(static_cast<const void*>(data)), &typeid(E), 1, !std::is_const_v<E>};
    }
}

class KUiRelayDataScope {
public:
    // data points to count objects of type T (read only when T is const) until the scope ends.
    template <class T>
    explicit KUiRelayDataScope(T* data, size_t count = 1)
        : KUiRelayDataScope(static_cast<const void*>(data), typeid(T), count, !std::is_const_v<T>)
    {
        static_assert(!std::is_void_v<T>, "relay data states its type");
    }
    KUiRelayDataScope(const void* data, const std::type_info& type, size_t count, bool writable);
    explicit KUiRelayDataScope(const KUiRelayDataStatement& s) : KUiRelayDataScope(s.data, *s.type, s.count, s.writable)
    {
    }
    ~KUiRelayDataScope();
    KUiRelayDataScope(const KUiRelayDataScope&) = delete;
    KUiRelayDataScope& operator=(const KUiRelayDataScope&) = delete;

    // True when data may be read as count objects of type (and written when write is set): data is not
    // null, and the innermost scope of this thread that states data states that type, that count (for
    // texts at least that count: a relay's Data string comes with its Data2 after it) and, for write, a
    // writable pointer; or no scope states data.
    static bool Accepts(const void* data, const std::type_info& type, size_t count, bool write);

private:
    const void* m_pData;
    const std::type_info* m_pType;
    size_t m_Count;
    bool m_Writable;
    const KUiRelayDataScope* m_pOuter;
};

// data as count objects of type T to read, or null when it is null or of another type.
template <class T>
const T* UiRelayData(const void* data, size_t count = 1)
{
    return KUiRelayDataScope::Accepts(data, typeid(T), count, false) ? static_cast<const T*>(data) : nullptr;
}

// data as a T that a query command fills in, or null when it is null, of another type or read only.
template <class T>
T* UiRelayResult(void* data)
{
    return KUiRelayDataScope::Accepts(data, typeid(T), 1, true) ? static_cast<T*>(data) : nullptr;
}

// data as an object of type T handed over to be used during the call (an interface: the sender states the
// interface type), or null when it is null or of another type.
template <class T>
T* UiRelayObject(void* data)
{
    return KUiRelayDataScope::Accepts(data, typeid(T), 1, false) ? static_cast<T*>(data) : nullptr;
}

// A flag argument: a bool, or a byte such as "StateQuery" answers, true when not zero. False, value
// untouched, without one.
bool UiRelayFlag(const void* data, bool& value);

#pragma once
// A vector whose element access checks the index and throws KArrayException "Index out of range.".
#include <utility>
#include <vector>

#include "KException.h"

template <class T>
class KArray {
public:
    size_t GetCount() const { return m_Items.size(); }
    bool IsEmpty() const { return m_Items.empty(); }
    void Add(const T& item) { m_Items.push_back(item); }
    void Add(T&& item) { m_Items.push_back(std::move(item)); }
    void Clear() { m_Items.clear(); }
    void RemoveAt(size_t index)
    {
        priCheck(index);
        m_Items.erase(m_Items.begin() + static_cast<std::ptrdiff_t>(index));
    }

    T& operator[](size_t index)
    {
        priCheck(index);
        return m_Items[index];
    }
    const T& operator[](size_t index) const
    {
        priCheck(index);
        return m_Items[index];
    }
    T& GetAt(size_t index) { return (*this)[index]; }
    const T& GetAt(size_t index) const { return (*this)[index]; }

    typename std::vector<T>::iterator begin() { return m_Items.begin(); }
    typename std::vector<T>::iterator end() { return m_Items.end(); }
    typename std::vector<T>::const_iterator begin() const { return m_Items.begin(); }
    typename std::vector<T>::const_iterator end() const { return m_Items.end(); }

private:
    void priCheck(size_t index) const
    {
        if (index >= m_Items.size())
            throw KArrayException("Index out of range.");
    }

    std::vector<T> m_Items;
};

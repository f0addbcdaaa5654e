#pragma once
// Data matrices: named two-dimensional tables of doubles, signed 32-bit or signed 16-bit integers that carry
// tables and scalar parameters to the processing engine. Element (r, c) is at index r + c x rows (columns are
// contiguous). A matrix frees its elements on destruction only while it owns them.
#include <cstdint>

#include "KWString.h"

struct FloatClass {
    using Element = double;
    static constexpr int32_t kElementType = 0;
};
struct Int32Class {
    using Element = int32_t;
    static constexpr int32_t kElementType = 1;
};
struct Int16Class {
    using Element = int16_t;
    static constexpr int32_t kElementType = 2;
};

class KIDataMatrix {
public:
    KIDataMatrix(const KIDataMatrix&) = delete;
    KIDataMatrix& operator=(const KIDataMatrix&) = delete;
    virtual ~KIDataMatrix();

    int32_t GetElementType() const { return m_ElementType; }
    int32_t GetRows() const { return m_Rows; }
    int32_t GetColumns() const { return m_Columns; }
    int64_t GetElementCount() const { return static_cast<int64_t>(m_Rows) * m_Columns; }
    const KWString& GetName() const { return m_Name; }
    void SetName(const KWString& name) { m_Name = name; }
    void* GetData() const { return m_pData; }
    bool OwnsData() const { return m_OwnsData; }
    // Data taken over (owned) must come from std::malloc or std::calloc.
    void SetOwnsData(bool owns) { m_OwnsData = owns; }

protected:
    // Owned, zeroed elements of elementBytes each; throws KException for negative sizes or when the memory
    // cannot be had.
    KIDataMatrix(int32_t elementType, int32_t rows, int32_t columns, const KWString& name, int elementBytes);
    // Over the caller's elements, not owned.
    KIDataMatrix(int32_t elementType, int32_t rows, int32_t columns, void* data, const KWString& name);

private:
    int32_t m_ElementType;
    int32_t m_Rows;
    int32_t m_Columns;
    KWString m_Name;
    void* m_pData;
    bool m_OwnsData;
};

template <class ElementClass>
class KDataMatrixTemplate : public KIDataMatrix {
public:
    using Element = typename ElementClass::Element;

    KDataMatrixTemplate(int32_t rows, int32_t columns, const KWString& name = KWString())
        : KIDataMatrix(ElementClass::kElementType, rows, columns, name, static_cast<int>(sizeof(Element)))
    {
    }
    KDataMatrixTemplate(int32_t rows, int32_t columns, Element* data, const KWString& name = KWString())
        : KIDataMatrix(ElementClass::kElementType, rows, columns, data, name)
    {
    }

    Element* Elements() const { return static_cast<Element*>(GetData()); }
    Element& At(int32_t row, int32_t column) const
    {
        return Elements()[row + static_cast<int64_t>(column) * GetRows()];
    }
};

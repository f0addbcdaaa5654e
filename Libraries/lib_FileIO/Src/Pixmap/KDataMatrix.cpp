#include "KDataMatrix.h"

#include <cstdlib>

#include "KException.h"
#include "KNarrowString.h"

KIDataMatrix::KIDataMatrix(int32_t elementType, int32_t rows, int32_t columns, const KWString& name,
                           int elementBytes)
    : m_ElementType(elementType), m_Rows(rows), m_Columns(columns), m_Name(name), m_pData(nullptr),
      m_OwnsData(true)
{
    if (rows < 0 || columns < 0)
        throw KException(KNarrowString("KDataMatrix: bad size %d x %d.", rows, columns).CStr());
    const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(columns);
    if (count != 0) {
        m_pData = std::calloc(count, static_cast<size_t>(elementBytes));
        if (m_pData == nullptr)
            throw KException(KNarrowString("KDataMatrix: cannot allocate %d x %d elements.", rows, columns).CStr());
    }
}

KIDataMatrix::KIDataMatrix(int32_t elementType, int32_t rows, int32_t columns, void* data, const KWString& name)
    : m_ElementType(elementType), m_Rows(rows), m_Columns(columns), m_Name(name), m_pData(data), m_OwnsData(false)
{
}

KIDataMatrix::~KIDataMatrix()
{
    if (m_OwnsData)
        std::free(m_pData);
}

#pragma once
// The common frame of the engine's stage drivers: each named parameter is looked up with the typed look-up of
// its kind; a missing one (absent, or of another value type) goes on the missing list, one whose concrete
// class is wrong (pixel type, element type, too few elements) on the type-error list. Outcome() then tells
// the driver how to end: with the missing list when it is not empty, else with the type-error list.
//
//   KStageParams p(request, "KIPEngine2::priProcessRotate");
//   KPixmap* in = p.Pixmap(u"INIMAGE");
//   auto* angle = p.Matrix<FloatClass>(u"ROTATION", 1);
//   if (!p.Ok())
//       return p.Outcome();
#include <string>

#include "KDataMatrix.h"
#include "KEngineOutcome.h"
#include "KIPEngineRequest.h"
#include "KPixmap.h"

class KCamdata;

// Whether a matrix has at least rows x columns in its shape.
inline bool HasShape(const KIDataMatrix& matrix, KInt32 rows, KInt32 columns)
{
    return matrix.GetRows() >= rows && matrix.GetColumns() >= columns;
}

class KStageParams {
public:
    // driver: the name that starts every message ("KIPEngine2::priProcessStage1").
    KStageParams(const KIPEngineRequest& request, const char* driver);

    // A pixmap of any pixel type, or (pixelType != 0) of that type.
    KPixmap* Pixmap(const KWChar* name, int pixelType = 0);
    // A pixmap whose concrete class is KPixmapTemplate<PixelClass>.
    template <class PixelClass>
    KPixmapTemplate<PixelClass>* PixmapOf(const KWChar* name)
    {
        KPixmap* pixmap = Pixmap(name);
        if (!pixmap)
            return nullptr;
        auto* typed = dynamic_cast<KPixmapTemplate<PixelClass>*>(pixmap);
        if (!typed)
            priTypeError(name);
        return typed;
    }
    KCamdata* Camdata(const KWChar* name);
    const KWChar* Text(const KWChar* name);
    // A matrix of the element class holding at least minElements elements.
    template <class ElementClass>
    KDataMatrixTemplate<ElementClass>* Matrix(const KWChar* name, KInt64 minElements = 0)
    {
        KIDataMatrix* matrix = priMatrix(name);
        if (!matrix)
            return nullptr;
        auto* typed = dynamic_cast<KDataMatrixTemplate<ElementClass>*>(matrix);
        if (!typed || typed->GetElementCount() < minElements) {
            priTypeError(name);
            return nullptr;
        }
        return typed;
    }
    // A matrix of the element class with at least rows x columns in its shape.
    template <class ElementClass>
    KDataMatrixTemplate<ElementClass>* MatrixOfShape(const KWChar* name, KInt32 rows, KInt32 columns)
    {
        KDataMatrixTemplate<ElementClass>* matrix = Matrix<ElementClass>(name);
        if (matrix && !HasShape(*matrix, rows, columns)) {
            priTypeError(name);
            return nullptr;
        }
        return matrix;
    }

    // Nothing missing and nothing mistyped.
    bool Ok() const { return m_Missing.empty() && m_TypeErrors.empty(); }
    // State 4, error 2: "<driver> missing parameters:" and the missing names, each followed by a space, or
    // else "<driver> parameter type errors:" and the mistyped names. Done when Ok().
    KEngineOutcome Outcome() const;
    // State 4, error 2, "<driver> <text>": a check of the driver's own (sizes, tables) failed.
    KEngineOutcome Fail(const char* text) const;

private:
    KIDataMatrix* priMatrix(const KWChar* name);
    void priMissing(const KWChar* name);
    void priTypeError(const KWChar* name);

    const KIPEngineRequest& m_Request;
    std::string m_Driver;
    std::u16string m_Missing;
    std::u16string m_TypeErrors;
};

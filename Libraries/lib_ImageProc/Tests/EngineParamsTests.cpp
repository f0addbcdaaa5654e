#include <gtest/gtest.h>

#include "KDataMatrix.h"
#include "KIPEngineRequest.h"
#include "KImage.h"
#include "KPixmap.h"
#include "Engine/KStageParams.h"

namespace {
// Never dereferenced: only the pointer travels.
KCamdata* FakeCamdata()
{
    static int storage;
    return reinterpret_cast<KCamdata*>(&storage);
}
}  // namespace

TEST(KIPEngineRequest, LookUpFindsTheFirstOfANameAndOnlyOfItsType)
{
    KImage* image = new KImage(2, 2, kPixelType48SRGB, 4);
    KIPEngineRequest request;
    request.AddPixmap(u"OUTIMAGE", image->GetPixmap());
    request.AddMatrix(u"ROTATION", new KDataMatrixTemplate<FloatClass>(1, 1));
    request.AddMatrix(u"ROTATION", new KDataMatrixTemplate<Int32Class>(1, 1));
    request.AddCamdata(u"CAMBDATA", FakeCamdata());
    request.AddText(u"WB_DESC", u"Auto");

    EXPECT_EQ(request.GetPixmapParam(u"OUTIMAGE"), image->GetPixmap());
    EXPECT_EQ(request.GetMatrixParam(u"OUTIMAGE"), nullptr);
    EXPECT_EQ(request.GetMatrixParam(u"ROTATION")->GetElementType(), FloatClass::kElementType);
    EXPECT_EQ(request.GetCamdataParam(u"CAMBDATA"), FakeCamdata());
    EXPECT_EQ(request.GetPixmapParam(u"CAMBDATA"), nullptr);
    EXPECT_EQ(KWString(request.GetTextParam(u"WB_DESC")), "Auto");
    EXPECT_EQ(request.GetTextParam(u"wb_desc"), nullptr);  // names match exactly
    EXPECT_EQ(request.FindParam(u"MISSING"), nullptr);

    // Freeing deletes the matrices (the leak checker sees to it) but not the pixmap.
    request.FreeParams();
    EXPECT_EQ(request.m_pParams, nullptr);
    EXPECT_EQ(image->GetPixmap()->GetWidth(), 2);
    image->Release();
}

TEST(KIPEngineRequest, NewRequestHasAClearedStatusAndResumeBlock)
{
    KIPEngineRequest request;
    EXPECT_EQ(request.m_Async.GetProgress(), 0.0);
    EXPECT_EQ(request.m_Async.GetState(), kInitialized);
    for (KUInt32 word : request.m_Resume)
        EXPECT_EQ(word, 0u);
    EXPECT_EQ(request.m_pParams, nullptr);
}

TEST(KStageParams, MissingNamesComeFirstThenTypeErrors)
{
    KImage* rgb16 = new KImage(2, 2, kPixelType48RGB, 4);
    KIPEngineRequest request;
    request.AddPixmap(u"RAWIMAGE", rgb16->GetPixmap());
    request.AddPixmap(u"OUTIMAGE", rgb16->GetPixmap());  // wrong pixel type
    request.AddMatrix(u"TONELUT", new KDataMatrixTemplate<FloatClass>(4, 3));  // wrong element type
    request.AddMatrix(u"CAMBDATA", new KDataMatrixTemplate<FloatClass>(1, 1));  // wrong value type: missing

    {
        KStageParams p(request, "KIPEngine2::priProcessStage9");
        EXPECT_NE(p.Pixmap(u"RAWIMAGE", kPixelType48RGB), nullptr);
        EXPECT_EQ(p.Pixmap(u"OUTIMAGE", kPixelType48SRGB), nullptr);
        EXPECT_EQ(p.Matrix<Int16Class>(u"TONELUT"), nullptr);
        EXPECT_EQ(p.Camdata(u"CAMBDATA"), nullptr);
        EXPECT_EQ(p.Text(u"WB_DESC"), nullptr);
        EXPECT_FALSE(p.Ok());
        KEngineOutcome o = p.Outcome();
        EXPECT_EQ(o.m_State, kFailed);
        EXPECT_EQ(o.m_Error, kIpErrBadArgument);
        EXPECT_EQ(o.m_Message, "KIPEngine2::priProcessStage9 missing parameters:CAMBDATA WB_DESC ");
    }
    {
        KStageParams p(request, "KIPEngine2::priProcessStage9");
        p.Pixmap(u"OUTIMAGE", kPixelType48SRGB);
        p.Matrix<Int16Class>(u"TONELUT");
        p.Pixmap(u"RAWIMAGE");
        EXPECT_EQ(p.Outcome().m_Message, "KIPEngine2::priProcessStage9 parameter type errors:OUTIMAGE TONELUT ");
    }
    {
        KStageParams p(request, "KIPEngine2::priProcessStage9");
        EXPECT_NE(p.Matrix<FloatClass>(u"TONELUT", 12), nullptr);
        EXPECT_EQ(p.Matrix<FloatClass>(u"TONELUT", 13), nullptr);  // too few elements to read
        EXPECT_EQ(p.Outcome().m_Message, "KIPEngine2::priProcessStage9 parameter type errors:TONELUT ");
    }
    {
        KStageParams p(request, "KIPEngine2::priProcessStage9");
        EXPECT_NE(p.Pixmap(u"RAWIMAGE"), nullptr);
        EXPECT_TRUE(p.Ok());
        EXPECT_EQ(p.Outcome().m_State, kDone);
        KEngineOutcome fail = p.Fail("output image of wrong size");
        EXPECT_EQ(fail.m_State, kFailed);
        EXPECT_EQ(fail.m_Error, kIpErrBadArgument);
        EXPECT_EQ(fail.m_Message, "KIPEngine2::priProcessStage9 output image of wrong size");
    }
    rgb16->Release();
}

TEST(KStageParams, ShapeChecksCountRowsAndColumns)
{
    KDataMatrixTemplate<Int16Class> lut(65536, 3);
    EXPECT_TRUE(HasShape(lut, 65536, 3));
    EXPECT_FALSE(HasShape(lut, 65537, 3));
    EXPECT_FALSE(HasShape(lut, 65536, 4));
    KDataMatrixTemplate<FloatClass> adjustments(3, 1);
    EXPECT_FALSE(HasShape(adjustments, 4, 1));
}

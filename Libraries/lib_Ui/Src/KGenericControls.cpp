#include "KUiBlink.h"
#include "KUiButton.h"
#include "KUiCheckbox.h"
#include "KUiClock.h"
#include "KUiDynaString.h"
#include "KUiEdit.h"
#include "KUiFilmStrip.h"
#include "KUiFrame.h"
#include "KUiHVBox.h"
#include "KUiHVLine.h"
#include "KUiImage.h"
#include "KUiImageFrame.h"
#include "KUiMultiText.h"
#include "KUiObjectFactory.h"
#include "KUiProgressBar.h"
#include "KUiPullDownList.h"
#include "KUiRect.h"
#include "KUiReplyRequest.h"
#include "KUiScrollList.h"
#include "KUiScrollbar.h"
#include "KUiScrolledFrame.h"
#include "KUiSlider.h"
#include "KUiSpacer.h"
#include "KUiText.h"
#include "KUiTextArray.h"
#include "KUiTextBox.h"
#include "KUiTextList.h"
#include "KUiTimer.h"
#include "KUiToggle.h"
#include "KUiTree.h"

bool RegisterGenericControls(KIUiObjectFactory* factory)
{
    // The one order of the generic controls; each class takes its place in it.
    bool ok = true;
    ok = KUiHVBox::RegisterCreator(factory) && ok;    // HBOX, VBOX
    ok = KUiSpacer::RegisterCreator(factory) && ok;   // SPACER
    ok = KUiImage::RegisterCreator(factory) && ok;         // IMAGE
    ok = KUiResizedImage::RegisterCreator(factory) && ok;  // RESIZED_IMAGE
    ok = KUiText::RegisterCreator(factory) && ok;          // TEXT
    ok = KUiButton::RegisterCreator(factory) && ok;        // BUTTON
    ok = KUiTextList::RegisterCreator(factory) && ok;  // TEXTLIST
    ok = KUiBlink::RegisterCreator(factory) && ok;    // BLINK
    ok = KUiToggle::RegisterCreator(factory) && ok;        // TOGGLE
    ok = KUiFrame::RegisterCreator(factory) && ok;    // FRAME
    ok = KUiRect::RegisterCreator(factory) && ok;     // RECT
    ok = KUiEdit::RegisterCreator(factory) && ok;     // EDIT_BOX
    ok = KUiSlider::RegisterCreator(factory) && ok;   // SLIDER
    ok = KUiProgressBar::RegisterCreator(factory) && ok;  // PROGRESSBAR
    ok = KUiClock::RegisterCreator(factory) && ok;    // CLOCK
    ok = KUiTree::RegisterCreator(factory) && ok;     // DIRTREE
    ok = KUiScrollbar::RegisterCreator(factory) && ok;    // SCROLLBAR, HSCROLLBAR, VSCROLLBAR
    ok = KUiScrollList::RegisterCreator(factory) && ok;   // SCROLLLIST
    ok = KUiCheckbox::RegisterCreator(factory) && ok;      // CHECKBOX, RADIO_BUTTON
    ok = KUiTextBox::RegisterCreator(factory) && ok;  // TEXT_BOX, DYNA_TEXT
    ok = KUiFilmStrip::RegisterCreator(factory) && ok;    // FILMSTRIP
    ok = KUiScrolledFrame::RegisterCreator(factory) && ok;    // SCROLLED_FRAME
    ok = KUiTimer::RegisterCreator(factory) && ok;    // TIMER
    ok = KUiHVLine::RegisterCreator(factory) && ok;   // HLINE, VLINE
    ok = KUiImageFrame::RegisterCreator(factory) && ok;    // IMAGE_FRAME
    ok = KUiPullDownList::RegisterCreator(factory) && ok;  // PULLDOWN
    ok = KUiTextArray::RegisterCreator(factory) && ok;     // TEXTARRAY
    ok = KUiReplyRequest::RegisterCreator(factory) && ok;  // REPLY_REQUEST
    ok = KUiDynaString::RegisterCreator(factory) && ok;    // DYNA_STRING
    ok = KUiMultiText::RegisterCreator(factory) && ok;    // MULTITEXT
    return ok;
}

// The exception of UI script building.
#include <gtest/gtest.h>

#include "KExceptionUiScript.h"

TEST(UiObject, ScriptErrorsAreExceptionsOfTheFamily)
{
    try {
        throw KExceptionUiScript("failed trying to initalize a window with a non-window tag!");
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetDescription(), "User Interface Script Error");
        EXPECT_STREQ(e.GetMessage(), "failed trying to initalize a window with a non-window tag!");
    }
}

#pragma once
// Thrown when a UI script cannot be built into objects.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionUiScript, KException, "User Interface Script Error");

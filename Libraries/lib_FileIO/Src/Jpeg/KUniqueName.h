#pragma once
// Names unique to this process and call: ".~<process token>-<counter>.<what>".
#include "KNarrowString.h"

KNarrowString KUniqueSuffix(const char* what);

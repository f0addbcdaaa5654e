#pragma once
// "TEST_PROBE": a UI object for tests only (registered by uirun, never by the product). It takes the layout
// keys, fills its rectangle with "Color" when one is given ("SetColor" changes it) and prints every relay
// message it receives as "<path> <message> <data>" on stdout, the data printed by the kind "Kinds" gives the
// message ("MSG:k,..." with k one of s, ss, b, i, ii, iii, d, ddd, w).
class KIUiObjectFactory;

bool RegisterTestProbe(KIUiObjectFactory* factory);

#pragma once
// "TEST_PROBE": a UI object for tests only (registered by uirun, never by the product). It takes the layout
// keys, fills its rectangle with "Color" when one is given ("SetColor" changes it) and prints every relay
// message it receives as "<path> <message> <data>" on stdout, the data printed by the kind "Kinds" gives the
// message ("MSG:k,..." with k one of s, ss, b, i, ii, iii, d, ddd, w).
// Input: it answers HitTest inside its rectangle ("Rect" fixes the rectangle, "l, t, r, b" inclusive) and takes
// every press. "LogInput" prints the mouse, key, focus, clipboard and drop calls it gets; "TakeFocus" takes the
// keyboard focus after creation and at a press; "CopyText" is what Copy and Cut give; "DragPayload" makes it a
// drag source with that payload; "AcceptDrop" accepts drops; "LogTick" prints its ticks. Its event ON_PROBE
// fires at each mouse release.
class KIUiObjectFactory;

bool RegisterTestProbe(KIUiObjectFactory* factory);

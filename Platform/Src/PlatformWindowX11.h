#pragma once
// The X11 side of the window seam (PlatformWindowX11.cpp, the only file that includes an X11 header). The seam
// (PlatformWindow.cpp) keeps the window records, the queue and the timers; this side makes one X window per
// record, shows what is blitted into it and turns the server's events into the seam's messages.
#include <cstdint>
#include <string>

#include "PlatformWindow.h"

namespace platx11 {

// Opens the display named by DISPLAY; false with a reason when there is none.
bool Start(std::string& error);

bool CreateWindow(PlatHWND window, const PlatWindowDesc& desc);
void DestroyWindow(PlatHWND window);
// Applies the record's geometry (client corner and size, as the flags allow) to the X window.
void Configure(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
void Show(PlatHWND window, bool show);
void Focus(PlatHWND window);
void Raise(PlatHWND window);
void SetTitle(PlatHWND window, const std::u16string& title);
void Blit(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height, const uint8_t* source,
          int32_t sourceRowBytes, int32_t sourceX, int32_t sourceY);
void Fill(PlatHWND window, const PlatRect& rect, uint8_t r, uint8_t g, uint8_t b);
// Reads the window's pixels back from the server (B, G, R, 255), width x 4 bytes a row.
bool ReadPixels(PlatHWND window, int32_t width, int32_t height, uint8_t* out);
// Shows the menu bar's pixels (the seam's copy: client width x bar height) and keeps them for exposures.
void SetMenuBar(PlatHWND window, const uint8_t* pixels, int32_t width, int32_t rowBytes);
bool ReadMenuBarPixels(PlatHWND window, int32_t width, int32_t height, uint8_t* out);
void ScreenSize(int32_t& width, int32_t& height);

// Reads what the server has sent and turns it into messages; true when it read anything.
bool Pump();
// Waits up to timeoutMs (negative: no limit) for the server or Wake.
void Wait(int timeoutMs);
// Ends a Wait from any thread.
void Wake();

void SetCapture(PlatHWND window);
void ReleaseCapture();
// Cursor of the window: masks (32 x 32, 4 bytes a row, AND and XOR as the system makes them), null for the
// arrow; hidden shows a blank cursor whatever the shape.
void SetCursor(PlatHWND window, const uint8_t* andMask, const uint8_t* xorMask, int32_t hotX, int32_t hotY);
void ShowCursor(PlatHWND window, bool show);
void GetCursorPos(int32_t& x, int32_t& y);
void SetCursorPos(int32_t x, int32_t y);
PlatHWND WindowFromPoint(int32_t x, int32_t y);
// Whether the key (a virtual-key code) is down now, from the keyboard's state.
bool KeyDown(uint32_t virtualKey);

bool SetClipboardText(const std::u16string& text);
bool GetClipboardText(std::u16string& out);

void MessageBox(PlatHWND owner, const std::u16string& text, const std::u16string& caption);

}  // namespace platx11

// Called by the X11 side: the server moved or sized a window (client corner on the screen, client size), or
// gave or took the keyboard focus.
void PlatBackendConfigured(PlatHWND window, int32_t x, int32_t y, int32_t width, int32_t height);
void PlatBackendFocus(PlatHWND window, bool in);

// UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string PlatWindowUtf8(const std::u16string& text);

// The setup window as a native window, built from the control table.
#pragma once

#include "platform/win32/handles.h"
#include "platform/win32/runtime_win32.h"
#include "platform/window.h"

#include <exception>
#include <vector>

namespace vk::win32 {

class Win32Window final : public Window {
public:
  // Creates the window and its controls, hidden.
  Win32Window(HINSTANCE instance, const WindowSpec& layout, Win32Runtime& runtime);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  Text text(ControlId control) const override;
  void setText(ControlId control, const Text& text) override;
  bool visible(ControlId control) const override;
  void setVisible(ControlId control, bool visible) override;
  bool enabled(ControlId control) const override;
  void setEnabled(ControlId control, bool enabled) override;
  ControlId focus() const override;
  void run(WindowEvents& events) override;

  HWND hwnd() const noexcept { return window_.get(); }

  // Child window identifiers: the control's place in the table plus this.
  static constexpr int kFirstControlId = 100;

private:
  struct Control {
    const ControlSpec* layout;
    HWND hwnd = nullptr; // null for the controls drawn on the surface
    Text text;           // the drawn controls' caption
    bool visible = true; // the drawn controls' visibility
    bool enabled = true; // the drawn controls' state
  };

  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam, HWND hwnd);

  void createControls();
  // A message field shows a vertical scroll bar when, and only when, its
  // text does not fit: the last line of a long failure list stays in reach.
  void fitScrollBar(HWND field);
  void paint(HDC dc);
  RECT bounds(const ControlSpec& layout) const;
  int pixels(int twips) const { return ::MulDiv(twips, dpi_, 1440); }
  const Control* controlOf(HWND child) const;
  bool canFocus(const Control& control) const;
  // Moves the focus to the next (or previous) control in tab-index order.
  void tabTo(bool backwards);
  bool holdsFocus(HWND control) const;
  void passFocusOn(HWND control);
  // Gives the focus to the first control in tab order.
  void focusFirst();
  void click(ControlId id);
  void remember(HWND focus);
  // What the message loop does itself with a message of the window (the
  // keys a dialog would take otherwise); true when nothing is left to do.
  bool handledHere(MSG& msg);
  // One turn of the run-time's DoEvents while a handler runs.
  void doEvents();

  HINSTANCE instance_;
  const WindowSpec& spec_;
  Win32Runtime& runtime_;
  int dpi_ = 96;
  unique_window_class class_;
  unique_hwnd window_;
  unique_hfont defaultFont_;
  std::vector<unique_hfont> ownFonts_;
  std::vector<unique_hbrush> brushes_; // per control: its own background, or none
  unique_hpen outlinePen_;
  std::vector<Control> controls_;
  HWND lastFocus_ = nullptr;
  WindowEvents* events_ = nullptr;
  bool busy_ = false;          // a handler is running (others may run in its waits)
  bool running_ = false;       // run()'s message loop is on
  std::exception_ptr pending_; // what a handler threw, for run() to rethrow
};

} // namespace vk::win32

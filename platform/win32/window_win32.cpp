#include "platform/win32/window_win32.h"

#include "platform/win32/errors_win32.h"

#include <algorithm>

namespace vk::win32 {

namespace {

constexpr wchar_t kClassName[] = L"VorlanKurForm";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr int kIconResource = 1;

// The window's default font: the classic dialog face at 8.25 pt.
constexpr wchar_t kDefaultFace[] = L"MS Sans Serif";
constexpr int kDefaultPointsTimes100 = 825;

HFONT makeFont(int dpi, const wchar_t* face, int pointsTimes100, int weight, int charset) {
  return ::CreateFontW(-::MulDiv(pointsTimes100, dpi, 7200), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       static_cast<DWORD>(charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
}

COLORREF colourOf(const Colour& c, int fallbackSystemColour) {
  switch (c.kind) {
  case Colour::Kind::System:
    return ::GetSysColor(static_cast<int>(c.value));
  case Colour::Kind::Rgb:
    return static_cast<COLORREF>(c.value);
  case Colour::Kind::Default:
    break;
  }
  return ::GetSysColor(fallbackSystemColour);
}

} // namespace

Win32Window::Win32Window(HINSTANCE instance, const WindowSpec& layout, Win32Runtime& runtime)
    : instance_(instance), spec_(layout), runtime_(runtime) {
  {
    const unique_screen_dc screen(::GetDC(nullptr));
    if (screen) dpi_ = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
  }

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32Window::procedure;
  wc.hInstance = instance_;
  // Shared icons from the resources: the system frees them.
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON),
                                             ::GetSystemMetrics(SM_CYICON), LR_SHARED));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource),
                                               IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kClassName;
  if (::RegisterClassExW(&wc)) {
    class_ = unique_window_class(instance_, kClassName);
  } else if (::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throwLastError(err::InvalidCall);
  }

  defaultFont_.reset(
      makeFont(dpi_, kDefaultFace, kDefaultPointsTimes100, FW_NORMAL, DEFAULT_CHARSET));
  outlinePen_.reset(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_WINDOWTEXT)));

  // The client area is given; the frame comes around it.
  RECT frame{0, 0, pixels(spec_.clientWidth), pixels(spec_.clientHeight)};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const Text caption(spec_.caption);
  HWND hwnd = ::CreateWindowExW(0, kClassName, wide(caption), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, instance_, this);
  if (!hwnd) throwLastError(err::InvalidCall);
  window_.reset(hwnd);
  runtime_.setOwner(hwnd);
  runtime_.setEventPump([this] { doEvents(); });
  createControls();
}

Win32Window::~Win32Window() {
  runtime_.setEventPump({});
  window_.reset(); // destroys the children too
}

void Win32Window::createControls() {
  controls_.reserve(spec_.controls.size());
  brushes_.resize(spec_.controls.size());
  for (std::size_t i = 0; i < spec_.controls.size(); ++i) {
    const ControlSpec& s = spec_.controls[i];
    Control c{&s, nullptr, Text(s.text), s.visible};
    if (s.background.kind == Colour::Kind::Rgb)
      brushes_[i].reset(::CreateSolidBrush(static_cast<COLORREF>(s.background.value)));

    const wchar_t* windowClass = nullptr;
    DWORD style = WS_CHILD | (s.visible ? WS_VISIBLE : 0);
    DWORD exStyle = 0;
    switch (s.kind) {
    case ControlKind::TextBox:
      windowClass = L"EDIT";
      exStyle = WS_EX_CLIENTEDGE;
      style |= s.multiLine ? (ES_MULTILINE | ES_AUTOVSCROLL) : ES_AUTOHSCROLL;
      if (s.readOnly) style |= ES_READONLY;
      if (s.tabStop) style |= WS_TABSTOP;
      break;
    case ControlKind::Button:
      // A plain push button: no default, so Enter and Escape press nothing.
      windowClass = L"BUTTON";
      style |= BS_PUSHBUTTON;
      if (s.tabStop) style |= WS_TABSTOP;
      break;
    case ControlKind::Label:
    case ControlKind::Shape:
      break; // drawn on the window's surface
    }
    if (windowClass) {
      const RECT r = bounds(s);
      c.hwnd = ::CreateWindowExW(exStyle, windowClass, wide(c.text), style, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, window_.get(),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)),
                                 instance_, nullptr);
      if (!c.hwnd) throwLastError(err::InvalidCall);
      HFONT font = defaultFont_.get();
      if (s.font) {
        const Text face(s.font->face);
        ownFonts_.emplace_back(
            makeFont(dpi_, wide(face), s.font->pointsTimes100, s.font->weight, s.font->charset));
        if (ownFonts_.back()) font = ownFonts_.back().get();
      }
      ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    controls_.push_back(std::move(c));
  }

  // Stacking order of the windowed controls, front to back as the table says.
  std::vector<const Control*> windowed;
  for (const Control& c : controls_)
    if (c.hwnd) windowed.push_back(&c);
  std::stable_sort(windowed.begin(), windowed.end(), [](const Control* a, const Control* b) {
    return a->layout->zOrder < b->layout->zOrder;
  });
  HWND after = HWND_TOP;
  for (const Control* c : windowed) {
    ::SetWindowPos(c->hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = c->hwnd;
  }
}

RECT Win32Window::bounds(const ControlSpec& s) const {
  return RECT{pixels(s.left), pixels(s.top), pixels(s.left + s.width), pixels(s.top + s.height)};
}

const Win32Window::Control* Win32Window::controlOf(HWND child) const {
  if (!child) return nullptr;
  for (const Control& c : controls_)
    if (c.hwnd == child) return &c;
  return nullptr;
}

Text Win32Window::text(ControlId id) const {
  const Control& c = controls_.at(id);
  if (!c.hwnd) return c.text;
  const int length = ::GetWindowTextLengthW(c.hwnd);
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(c.hwnd, buffer.data(), length + 1);
  return fromWide(buffer.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

void Win32Window::setText(ControlId id, const Text& text) {
  Control& c = controls_.at(id);
  if (c.hwnd) {
    ::SetWindowTextW(c.hwnd, wide(text));
    if (c.layout->multiLine) fitScrollBar(c.hwnd);
    return;
  }
  c.text = text;
  const RECT r = bounds(*c.layout);
  if (window_) ::InvalidateRect(window_.get(), &r, TRUE);
}

void Win32Window::fitScrollBar(HWND field) {
  // Lines the field shows whole, in its own font.
  RECT area{};
  ::SendMessageW(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
  TEXTMETRICW metrics{};
  {
    const unique_screen_dc screen(::GetDC(nullptr));
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(field, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = ::SelectObject(screen.get(), font);
    ::GetTextMetricsW(screen.get(), &metrics);
    ::SelectObject(screen.get(), previous);
  }
  const LONG shown = metrics.tmHeight > 0 ? (area.bottom - area.top) / metrics.tmHeight : 0;
  const auto overflows = [&] { return ::SendMessageW(field, EM_GETLINECOUNT, 0, 0) > shown; };
  // Measured without the bar: with it the text wraps narrower and so
  // overflows still.
  ::ShowScrollBar(field, SB_VERT, FALSE);
  if (overflows()) ::ShowScrollBar(field, SB_VERT, TRUE);
}

bool Win32Window::visible(ControlId id) const {
  const Control& c = controls_.at(id);
  if (!c.hwnd) return c.visible;
  return (::GetWindowLongPtrW(c.hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32Window::setVisible(ControlId id, bool show) {
  Control& c = controls_.at(id);
  if (!c.hwnd) {
    c.visible = show;
    const RECT r = bounds(*c.layout);
    if (window_) ::InvalidateRect(window_.get(), &r, TRUE);
    return;
  }
  const bool hadFocus = holdsFocus(c.hwnd);
  ::ShowWindow(c.hwnd, show ? SW_SHOWNA : SW_HIDE);
  if (!show && hadFocus) passFocusOn(c.hwnd);
}

bool Win32Window::enabled(ControlId id) const {
  const Control& c = controls_.at(id);
  return c.hwnd ? ::IsWindowEnabled(c.hwnd) != FALSE : c.enabled;
}

void Win32Window::setEnabled(ControlId id, bool enable) {
  Control& c = controls_.at(id);
  if (!c.hwnd) {
    c.enabled = enable;
    return;
  }
  const bool hadFocus = holdsFocus(c.hwnd);
  ::EnableWindow(c.hwnd, enable ? TRUE : FALSE);
  if (!enable && hadFocus) passFocusOn(c.hwnd); // a disabled control takes no keys
}

bool Win32Window::holdsFocus(HWND control) const {
  return ::GetFocus() == control || lastFocus_ == control;
}

// A control hidden or disabled gives the focus on to the next one in tab
// order.
void Win32Window::passFocusOn(HWND control) {
  lastFocus_ = control;
  tabTo(false);
}

bool Win32Window::canFocus(const Control& c) const {
  if (!c.hwnd || !c.layout->tabStop || c.layout->tabIndex == kNoTabIndex) return false;
  const LONG_PTR style = ::GetWindowLongPtrW(c.hwnd, GWL_STYLE);
  return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

ControlId Win32Window::focus() const {
  const Control* c = controlOf(::GetFocus());
  if (!c) c = controlOf(lastFocus_);
  // Not yet focused: the control the window starts with.
  if (!c) return nextInTabOrder(spec_, [this](ControlId id) { return canFocus(controls_[id]); });
  return static_cast<ControlId>(c - controls_.data());
}

void Win32Window::remember(HWND focus) {
  if (controlOf(focus)) lastFocus_ = focus;
}

void Win32Window::tabTo(bool backwards) {
  HWND current = ::GetFocus();
  if (!controlOf(current)) current = lastFocus_;
  std::optional<ControlId> from;
  if (const Control* c = controlOf(current)) from = static_cast<ControlId>(c - controls_.data());
  const ControlId to = nextInTabOrder(
      spec_, [this](ControlId id) { return canFocus(controls_[id]); }, from, backwards);
  if (to == controls_.size()) return;
  const Control* target = &controls_[to];
  lastFocus_ = target->hwnd;
  // While a message box is up the window is not active; it takes the focus
  // back from lastFocus_ when it is.
  if (window_ && ::GetActiveWindow() == window_.get()) ::SetFocus(target->hwnd);
}

void Win32Window::focusFirst() {
  const ControlId id =
      nextInTabOrder(spec_, [this](ControlId k) { return canFocus(controls_[k]); });
  if (id == controls_.size()) return;
  const Control* first = &controls_[id];
  lastFocus_ = first->hwnd;
  if (window_ && ::GetActiveWindow() == window_.get()) ::SetFocus(first->hwnd);
}

void Win32Window::click(ControlId id) {
  // None after a handler has ended the program. While one runs, another
  // runs only from its waits (DoEvents), for a button that can be pressed
  // then; a message box's own loop, its owner disabled, runs none.
  if (!events_ || pending_) return;
  if (busy_) {
    const HWND button = controls_.at(id).hwnd;
    if (!window_ || !::IsWindowEnabled(window_.get()) || !button || !::IsWindowEnabled(button) ||
        !::IsWindowVisible(button))
      return;
  }
  const bool outer = !std::exchange(busy_, true);
  try {
    events_->click(id);
  } catch (...) {
    // Nothing may unwind through the window procedure: run(), or the wait
    // the handler was called from, rethrows it.
    pending_ = std::current_exception();
  }
  if (outer) busy_ = false;
  // Destroyed in place, not reset: the messages of its going still see the
  // handle, and WM_NCDESTROY lets go of it.
  if (pending_ && window_) ::DestroyWindow(window_.get());
}

bool Win32Window::handledHere(MSG& msg) {
  HWND w = window_.get();
  const bool ours = w && (msg.hwnd == w || ::IsChild(w, msg.hwnd));
  if (ours && msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
    // Tab follows the tab indexes, not the stacking order of the children.
    tabTo(::GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  // Escape does nothing: the form has no Cancel button, yet the dialog
  // manager would send IDCANCEL and a multi-line edit would post WM_CLOSE
  // to its parent, ending the program.
  if (ours && (msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_ESCAPE)
    return true;
  return w && ::IsDialogMessageW(w, &msg);
}

// The messages waiting are handled as run() handles them: painting, the
// keyboard, a press of a button that can be pressed, the close box. With
// none waiting it sleeps until one comes, a little while at most, so a wait
// around it takes no processor. The close box, or a handler that ended the
// program, ends it here, unwinding the handler that waits.
void Win32Window::doEvents() {
  MSG msg;
  bool any = false;
  while (window_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    any = true;
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam)); // run() ends on it
      throw ProgramEnd{};
    }
    if (!handledHere(msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
  }
  if (!window_) throw ProgramEnd{}; // closed: the close box ends the program
  if (!any)
    ::MsgWaitForMultipleObjectsEx(0, nullptr, kDoEventsWaitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32Window::paint(HDC dc) {
  // The labels and shapes, back to front, so each outline lies over its panel.
  std::vector<const Control*> drawn;
  for (const Control& c : controls_)
    if (!c.hwnd && c.visible) drawn.push_back(&c);
  std::stable_sort(drawn.begin(), drawn.end(), [](const Control* a, const Control* b) {
    return a->layout->zOrder > b->layout->zOrder;
  });

  const HGDIOBJ oldFont = ::SelectObject(dc, defaultFont_.get());
  const HGDIOBJ oldPen = ::SelectObject(dc, outlinePen_.get());
  const HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
  // The device context leaves as it came, whatever happens below.
  const auto restore = scope_exit([&]() noexcept {
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldFont);
  });
  for (const Control* c : drawn) {
    RECT r = bounds(*c->layout);
    if (c->layout->kind == ControlKind::Shape) {
      ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
      continue;
    }
    const std::size_t index = static_cast<std::size_t>(c - controls_.data());
    HBRUSH fill = brushes_[index] ? brushes_[index].get()
                  : c->layout->background.kind == Colour::Kind::System
                      ? ::GetSysColorBrush(static_cast<int>(c->layout->background.value))
                      : ::GetSysColorBrush(COLOR_BTNFACE);
    ::FillRect(dc, &r, fill);
    if (!c->text.empty()) {
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      ::DrawTextW(dc, wide(c->text), static_cast<int>(c->text.size()), &r,
                  DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    }
  }
}

LRESULT CALLBACK Win32Window::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Win32 gives the procedure only the HWND: the object rides in its user data.
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    (void)self->window_.release(); // already gone
    self->runtime_.setOwner(nullptr);
    for (Control& c : self->controls_)
      c.hwnd = nullptr;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->handle(message, wParam, lParam, hwnd);
}

LRESULT Win32Window::handle(UINT message, WPARAM wParam, LPARAM lParam, HWND hwnd) {
  switch (message) {
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    const auto end = scope_exit([&]() noexcept { ::EndPaint(hwnd, &ps); });
    paint(dc);
    return 0;
  }
  case WM_CTLCOLORSTATIC: // read-only edits ask with this one
  case WM_CTLCOLOREDIT: {
    const Control* c = controlOf(reinterpret_cast<HWND>(lParam));
    if (!c || c->layout->kind != ControlKind::TextBox) break;
    const auto dc = reinterpret_cast<HDC>(wParam);
    const std::size_t index = static_cast<std::size_t>(c - controls_.data());
    HBRUSH brush = brushes_[index] ? brushes_[index].get()
                   : c->layout->background.kind == Colour::Kind::System
                       ? ::GetSysColorBrush(static_cast<int>(c->layout->background.value))
                       : ::GetSysColorBrush(COLOR_WINDOW);
    ::SetBkColor(dc, colourOf(c->layout->background, COLOR_WINDOW));
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(brush);
  }
  case WM_COMMAND: {
    if (HIWORD(wParam) != BN_CLICKED) break;
    if (LOWORD(wParam) == IDOK) {
      // Enter: a focused button is pressed; there is no default button.
      const Control* focused = controlOf(::GetFocus());
      if (focused && focused->layout->kind == ControlKind::Button && canFocus(*focused))
        click(static_cast<ControlId>(focused - controls_.data()));
      return 0;
    }
    const Control* c = controlOf(reinterpret_cast<HWND>(lParam));
    if (c && c->layout->kind == ControlKind::Button &&
        LOWORD(wParam) == kFirstControlId + (c - controls_.data()))
      click(static_cast<ControlId>(c - controls_.data()));
    return 0;
  }
  case WM_ACTIVATE:
    // As a dialog does: the focus leaves with the window and comes back to
    // the same control.
    if (LOWORD(wParam) == WA_INACTIVE) {
      remember(::GetFocus());
    } else if (!HIWORD(wParam)) {
      const Control* c = controlOf(lastFocus_);
      if (c && canFocus(*c))
        ::SetFocus(lastFocus_);
      else if (c)
        tabTo(false);
      else
        focusFirst();
      return 0;
    }
    break;
  case WM_DESTROY:
    if (running_) ::PostQuitMessage(0);
    return 0;
  default:
    break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32Window::run(WindowEvents& events) {
  const auto detach = scope_exit([this]() noexcept {
    events_ = nullptr;
    running_ = false;
  });
  events_ = &events;
  // The load event runs before the window is ever shown; what it throws
  // leaves from here with the window unseen.
  events.load();

  HWND hwnd = window_.get();
  running_ = true;
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  ::UpdateWindow(hwnd);
  focusFirst(); // the first control in tab order: "Devam"

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (handledHere(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

} // namespace vk::win32

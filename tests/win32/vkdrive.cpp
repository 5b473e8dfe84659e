// Drives VorlanKur under Wine the way a person would: finds windows by their
// titles, reads control texts with WM_GETTEXT, presses buttons with BM_CLICK
// and answers message boxes. Also adds the test's certificate authority to
// the machine's trusted roots.
//
//   vkdrive wait TITLE [SECONDS]          waits for a top-level window
//   vkdrive gone TITLE [SECONDS]          waits until no such window is left
//   vkdrive texts TITLE                   one line per child control:
//                                           id, visible, focused, class, text,
//                                           enabled, vertical scroll bar shown
//   vkdrive scrollend TITLE ID            scrolls a field to its end and prints
//                                           its first and last lines in view
//   vkdrive responsive TITLE SECONDS      asks the window once a second whether
//                                           it answers (WM_NULL within 200 ms)
//                                           and whether Windows takes it for hung
//   vkdrive click TITLE CAPTION           presses the button with that caption
//   vkdrive close TITLE                   the close box
//   vkdrive box TITLE ANSWER [SECONDS]    waits for a message box with that
//                                           title, prints its text and buttons,
//                                           presses ok / yes / no
//   vkdrive rects TITLE                   the client area's size, then one line
//                                           per child: id, left, top, width, height
//   vkdrive resize TITLE WIDTH HEIGHT     resizes the window (its frame)
//   vkdrive key TITLE KEY                 posts a key to the focused control:
//                                           tab, escape, or char:X
//   vkdrive addroot FILE.der              trusts a certificate authority
//
// Texts are printed as UTF-8 with CR and LF written as \r and \n. Arguments
// are ASCII: captions with Turkish letters are written as \uXXXX.
#include "platform/win32/handles.h"

#include <wincrypt.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

using namespace vk::win32;
using vk::unique_any;

namespace {

std::wstring unescape(const wchar_t* arg) {
  std::wstring out;
  for (const wchar_t* p = arg; *p; ++p) {
    if (p[0] == L'\\' && p[1] == L'u' && p[2] && p[3] && p[4] && p[5]) {
      out += static_cast<wchar_t>(std::wcstoul(std::wstring(p + 2, 4).c_str(), nullptr, 16));
      p += 5;
    } else {
      out += *p;
    }
  }
  return out;
}

std::wstring escape(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    if (c == L'\r')
      escaped += L"\\r";
    else if (c == L'\n')
      escaped += L"\\n";
    else if (c == L'\t')
      escaped += L"\\t";
    else
      escaped += c;
  }
  return escaped;
}

void print(const std::wstring& escaped) {
  const int size = ::WideCharToMultiByte(
      CP_UTF8, 0, escaped.data(), static_cast<int>(escaped.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, escaped.data(), static_cast<int>(escaped.size()), utf8.data(),
                        size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void println(const std::wstring& text) {
  print(text);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::wstring textOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return L"<no answer>";
  std::wstring buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
  buffer.resize(copied);
  return buffer;
}

std::wstring classOf(HWND hwnd) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  return name;
}

struct Search {
  std::wstring title;
  bool dialogOnly;
  HWND found = nullptr;
};

BOOL CALLBACK findTopLevel(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (!::IsWindowVisible(hwnd)) return TRUE;
  if (search->dialogOnly && classOf(hwnd) != L"#32770") return TRUE;
  wchar_t title[512] = {};
  ::GetWindowTextW(hwnd, title, 512);
  if (search->title == title) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND find(const std::wstring& title, bool dialogOnly = false) {
  Search search{title, dialogOnly};
  ::EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND waitFor(const std::wstring& title, double seconds, bool dialogOnly = false) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (HWND hwnd = find(title, dialogOnly)) return hwnd;
    if (::GetTickCount64() > end) return nullptr;
    ::Sleep(100);
  }
}

std::vector<HWND> children(HWND parent) {
  std::vector<HWND> list;
  for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
    list.push_back(c);
  return list;
}

HWND focusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

int fail(const std::wstring& why) {
  print(L"vkdrive: " + why);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  return 2;
}

int texts(const std::wstring& title) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  const HWND focus = focusOf(window);
  for (HWND c : children(window)) {
    const LONG_PTR style = ::GetWindowLongPtrW(c, GWL_STYLE);
    println(std::to_wstring(::GetDlgCtrlID(c)) + L"\t" + ((style & WS_VISIBLE) ? L"1" : L"0") +
            L"\t" + (c == focus ? L"1" : L"0") + L"\t" + classOf(c) + L"\t" + escape(textOf(c)) +
            L"\t" + (::IsWindowEnabled(c) ? L"1" : L"0") + L"\t" +
            ((style & WS_VSCROLL) ? L"1" : L"0"));
  }
  return 0;
}

// Scrolls a field to its end as its scroll bar would, then prints the
// lines in view, first and last, counted from 0 among all its lines.
int scrollEnd(const std::wstring& title, int id) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  HWND field = ::GetDlgItem(window, id);
  if (!field) return fail(L"no such control");
  ::SendMessageW(field, WM_VSCROLL, SB_BOTTOM, 0);
  const LRESULT first = ::SendMessageW(field, EM_GETFIRSTVISIBLELINE, 0, 0);
  RECT area{};
  ::SendMessageW(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
  const LRESULT bottom =
      ::SendMessageW(field, EM_CHARFROMPOS, 0, MAKELPARAM(area.left + 1, area.bottom - 2));
  const LRESULT lines = ::SendMessageW(field, EM_GETLINECOUNT, 0, 0);
  println(std::to_wstring(first) + L"\t" + std::to_wstring(HIWORD(bottom)) + L"\t" +
          std::to_wstring(lines));
  return 0;
}

HWND buttonWithCaption(HWND window, const std::wstring& caption) {
  for (HWND c : children(window)) {
    if (_wcsicmp(classOf(c).c_str(), L"Button") == 0 && textOf(c) == caption) return c;
  }
  return nullptr;
}

// Posted, not sent: the click runs the program's handler, which may show
// boxes this tool has to answer next.
void press(HWND button) {
  ::PostMessageW(button, BM_CLICK, 0, 0);
}

int click(const std::wstring& title, const std::wstring& caption) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  HWND button = buttonWithCaption(window, caption);
  if (!button) return fail(L"no button \"" + caption + L"\"");
  if (!::IsWindowVisible(button)) return fail(L"button \"" + caption + L"\" is hidden");
  press(button);
  return 0;
}

int box(const std::wstring& title, const std::wstring& answer, double seconds) {
  HWND dialog = waitFor(title, seconds, true);
  if (!dialog) return fail(L"no message box \"" + title + L"\"");
  ::Sleep(200); // let it finish laying out
  HWND prompt = ::GetDlgItem(dialog, 0xFFFF);
  println(L"text\t" + (prompt ? escape(textOf(prompt)) : std::wstring(L"<none>")));
  int wanted = 0;
  if (answer == L"ok")
    wanted = IDOK;
  else if (answer == L"yes")
    wanted = IDYES;
  else if (answer == L"no")
    wanted = IDNO;
  else
    return fail(L"answer must be ok, yes or no");
  std::wstring captions;
  HWND target = nullptr;
  for (HWND c : children(dialog)) {
    if (_wcsicmp(classOf(c).c_str(), L"Button") != 0 || !::IsWindowVisible(c)) continue;
    const LONG_PTR style = ::GetWindowLongPtrW(c, GWL_STYLE);
    captions += (captions.empty() ? L"" : L"|") + escape(textOf(c)) +
                ((style & 0xF) == BS_DEFPUSHBUTTON ? L"*" : L"");
    if (::GetDlgCtrlID(c) == wanted) target = c;
  }
  // The icon is the static with an image: its id tells the kind.
  println(L"buttons\t" + captions);
  if (!target) return fail(L"the box has no such button");
  println(L"pressed\t" + escape(textOf(target)));
  press(target);
  const ULONGLONG end = ::GetTickCount64() + 10000;
  while (::IsWindow(dialog) && ::GetTickCount64() < end)
    ::Sleep(50);
  return ::IsWindow(dialog) ? fail(L"the box stayed open") : 0;
}

// Prints "answered N of M, hung K": of M looks a second apart, how many
// times the window answered at once and how many Windows took it for hung.
int responsive(const std::wstring& title, int seconds) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  int answered = 0;
  int hung = 0;
  for (int k = 0; k < seconds; ++k) {
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 200, &result))
      ++answered;
    if (::IsHungAppWindow(window)) ++hung;
    ::Sleep(1000);
  }
  println(L"answered " + std::to_wstring(answered) + L" of " + std::to_wstring(seconds) +
          L", hung " + std::to_wstring(hung));
  return 0;
}

int rects(const std::wstring& title) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  RECT client{};
  ::GetClientRect(window, &client);
  println(L"client\t" + std::to_wstring(client.right) + L"\t" + std::to_wstring(client.bottom));
  for (HWND c : children(window)) {
    RECT r{};
    ::GetWindowRect(c, &r);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    println(std::to_wstring(::GetDlgCtrlID(c)) + L"\t" + std::to_wstring(r.left) + L"\t" +
            std::to_wstring(r.top) + L"\t" + std::to_wstring(r.right - r.left) + L"\t" +
            std::to_wstring(r.bottom - r.top));
  }
  return 0;
}

int resize(const std::wstring& title, int width, int height) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  return ::SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER)
             ? 0
             : fail(L"cannot resize");
}

// Posted to the focused control, as the keyboard would deliver it.
int key(const std::wstring& title, const std::wstring& name) {
  HWND window = find(title);
  if (!window) return fail(L"no window \"" + title + L"\"");
  HWND focus = focusOf(window);
  if (!focus) return fail(L"nothing has the focus");
  if (name == L"tab" || name == L"escape") {
    const WPARAM vk = name == L"tab" ? VK_TAB : VK_ESCAPE;
    ::PostMessageW(focus, WM_KEYDOWN, vk, 1);
    ::PostMessageW(focus, WM_KEYUP, vk, 0xC0000001);
  } else if (name.rfind(L"char:", 0) == 0 && name.size() == 6) {
    ::PostMessageW(focus, WM_CHAR, name[5], 1);
  } else {
    return fail(L"unknown key");
  }
  ::Sleep(300); // let the window take it
  return 0;
}

void closeStore(HCERTSTORE store) noexcept {
  ::CertCloseStore(store, 0);
}

int addRoot(const wchar_t* path) {
  const unique_hfile file(
      ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return fail(L"cannot read the certificate");
  std::vector<BYTE> der(::GetFileSize(file.get(), nullptr));
  DWORD read = 0;
  if (!::ReadFile(file.get(), der.data(), static_cast<DWORD>(der.size()), &read, nullptr))
    return fail(L"cannot read the certificate");
  const unique_any<HCERTSTORE, closeStore> store(
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
  if (!store) return fail(L"cannot open the ROOT store");
  const BOOL added = ::CertAddEncodedCertificateToStore(
      store.get(), X509_ASN_ENCODING, der.data(), read, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  return added ? 0 : fail(L"the store refused the certificate");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 3) return fail(L"usage: vkdrive COMMAND ARGUMENTS");
  const std::wstring command = argv[1];
  const std::wstring arg = unescape(argv[2]);
  const double seconds = argc > 3 && (command == L"wait" || command == L"gone")
                             ? std::wcstod(argv[3], nullptr)
                         : argc > 4 ? std::wcstod(argv[4], nullptr)
                                    : 20;
  if (command == L"wait") return waitFor(arg, seconds) ? 0 : fail(L"no window \"" + arg + L"\"");
  if (command == L"gone") {
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (find(arg) && ::GetTickCount64() < end)
      ::Sleep(100);
    return find(arg) ? fail(L"\"" + arg + L"\" is still open") : 0;
  }
  if (command == L"texts") return texts(arg);
  if (command == L"click" && argc > 3) return click(arg, unescape(argv[3]));
  if (command == L"close") {
    HWND window = find(arg);
    if (!window) return fail(L"no window \"" + arg + L"\"");
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == L"box" && argc > 3) return box(arg, argv[3], seconds);
  if (command == L"rects") return rects(arg);
  if (command == L"responsive" && argc > 3)
    return responsive(arg, std::wcstol(argv[3], nullptr, 10));
  if (command == L"resize" && argc > 4)
    return resize(arg, std::wcstol(argv[3], nullptr, 10), std::wcstol(argv[4], nullptr, 10));
  if (command == L"key" && argc > 3) return key(arg, argv[3]);
  if (command == L"scrollend" && argc > 3)
    return scrollEnd(arg, static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
  if (command == L"addroot") return addRoot(argv[2]);
  return fail(L"unknown command");
}

#include "platform/win32/runtime_win32.h"

#include "platform/win32/dispatch.h"
#include "platform/win32/errors_win32.h"

#include <vector>

namespace vk::win32 {

bool matchesMask(DWORD attributes, int mask) {
  // An entry is listed when every hidden, system or folder bit it carries is
  // asked for; read-only and archive never exclude it.
  const DWORD selective = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
  return (attributes & selective & ~static_cast<DWORD>(mask)) == 0;
}

namespace {

bool isDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

} // namespace

Text Win32Runtime::rtcDir(const Text& pathname, int attributes) {
  listing_.reset();
  pending_ = false;
  started_ = true;
  mask_ = attributes;
  // A folder path ending in "\" lists the folder's entries.
  Text pattern = pathname;
  if (!pattern.empty() && (pattern.back() == u'\\' || pattern.back() == u'/')) pattern += u'*';
  if (pattern.empty()) return Text();

  HANDLE h = ::FindFirstFileW(wide(pattern), &found_);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    switch (code) {
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
      throwWin32(code, err::BadFileName);
    default:
      return Text(); // nothing matches
    }
  }
  listing_.reset(h);
  pending_ = true;
  return nextMatch();
}

Text Win32Runtime::rtcDir() {
  // A continuation with no listing begun is an invalid call.
  if (!started_) throw RuntimeError(err::InvalidCall);
  return nextMatch();
}

Text Win32Runtime::nextMatch() {
  while (listing_) {
    if (!pending_) {
      if (!::FindNextFileW(listing_.get(), &found_)) {
        listing_.reset();
        break;
      }
    }
    pending_ = false;
    if (isDotEntry(found_.cFileName)) continue;
    if (matchesMask(found_.dwFileAttributes, mask_)) return fromWide(found_.cFileName);
  }
  return Text();
}

void Win32Runtime::rtcMakeDir(const Text& path) {
  if (!::CreateDirectoryW(wide(path), nullptr)) throwLastError(err::PathFileAccess);
}

void Win32Runtime::rtcFileCopy(const Text& source, const Text& destination) {
  if (!::CopyFileW(wide(source), wide(destination), FALSE)) throwLastError(err::PathFileAccess);
}

double Win32Runtime::rtcShell(const Text& commandLine, int windowStyle) {
  WORD show = SW_SHOWNORMAL;
  switch (windowStyle) {
  case 0:
    show = SW_HIDE;
    break;
  case 1:
    show = SW_SHOWNORMAL;
    break;
  case 2:
    show = SW_SHOWMINIMIZED;
    break;
  case 3:
    show = SW_SHOWMAXIMIZED;
    break;
  case 4:
    show = SW_SHOWNOACTIVATE;
    break;
  case 6:
    show = SW_SHOWMINNOACTIVE;
    break;
  default:
    throw RuntimeError(err::InvalidCall);
  }
  // CreateProcessW may write into the command line it is given.
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    throwLastError(err::InvalidCall);
  // Never waits: the handles go at once, the id is what the caller gets.
  const unique_handle process(info.hProcess);
  const unique_handle thread(info.hThread);
  return static_cast<double>(info.dwProcessId);
}

int Win32Runtime::rtcMsgBox(const Text& prompt, int buttons, const std::optional<Text>& title) {
  const Text& caption = title ? *title : title_;
  const int result = ::MessageBoxW(owner_, wide(prompt), wide(caption), static_cast<UINT>(buttons));
  if (result == 0) throwLastError(err::InvalidCall);
  return result;
}

void Win32Runtime::vbaEnd() {
  throw ProgramEnd{};
}

void Win32Runtime::rtcDoEvents() {
  if (pump_) return pump_();
  MSG msg;
  bool any = false;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    any = true;
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam)); // for whoever loops outside
      throw ProgramEnd{};
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (!any)
    ::MsgWaitForMultipleObjectsEx(0, nullptr, kDoEventsWaitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

ObjectRef Win32Runtime::rtcCreateObject2(const Text& progId) {
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(wide(progId), &clsid))) throw RuntimeError(err::CannotCreateObject);
  com_ptr<IDispatch> dispatch;
  if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, dispatch.put_void())))
    throw RuntimeError(err::CannotCreateObject);
  return wrapDispatch(std::move(dispatch));
}

ObjectRef Win32Runtime::createObject(const Text& classId, const Text& interfaceId) {
  CLSID clsid{};
  IID iid{};
  if (FAILED(::CLSIDFromString(const_cast<LPOLESTR>(wide(classId)), &clsid)) ||
      FAILED(::IIDFromString(const_cast<LPOLESTR>(wide(interfaceId)), &iid)))
    throw RuntimeError(err::CannotCreateObject);
  // Kept as the interface asked for and called late through it: a dual
  // interface derives from IDispatch and its dispatch identifiers are its
  // own, where QueryInterface(IID_IDispatch) would reach the class's default
  // interface. That query only checks the object can be called late at all.
  com_ptr<IDispatch> object;
  const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, iid, object.put_void());
  if (hr == E_NOINTERFACE) throw RuntimeError(err::NoAutomationInterface);
  if (FAILED(hr)) throw RuntimeError(err::CannotCreateObject);
  HRESULT qi = S_OK;
  com_ptr<IDispatch> dispatch = object.query<IDispatch>(&qi);
  if (!dispatch) throwHresult(qi);
  // IUnknown itself has no Invoke: asked for it, the default interface it is.
  return wrapDispatch(::IsEqualIID(iid, IID_IUnknown) ? std::move(dispatch) : std::move(object));
}

Text Win32Runtime::appPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throwLastError(err::InvalidCall);
    if (length < buffer.size()) {
      Text path = fromWide(buffer.data(), length);
      const std::size_t slash = path.find_last_of(u'\\');
      if (slash == Text::npos) return path;
      path.resize(slash);
      // A drive root keeps its "\".
      if (path.size() == 2 && path[1] == u':') path += u'\\';
      return path;
    }
    buffer.resize(buffer.size() * 2);
  }
}

} // namespace vk::win32

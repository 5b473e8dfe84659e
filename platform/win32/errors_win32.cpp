#include "platform/win32/errors_win32.h"

#include "platform/win32/handles.h"

namespace vk::win32 {

err::Code runtimeNumber(DWORD code, err::Code fallback) {
  return err::fromWin32(code).value_or(fallback);
}

void throwWin32(DWORD code, err::Code fallback) {
  throw RuntimeError(runtimeNumber(code, fallback));
}

void throwLastError(err::Code fallback) {
  throwWin32(::GetLastError(), fallback);
}

std::int32_t hresultNumber(HRESULT hr) {
  // The run-time's own numbers travel as FACILITY_CONTROL codes.
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) return HRESULT_CODE(hr);
  switch (hr) {
  case DISP_E_UNKNOWNNAME:
  case DISP_E_MEMBERNOTFOUND:
    return err::NoSuchMember;
  case DISP_E_BADPARAMCOUNT:
    return err::WrongArgumentCount;
  case DISP_E_TYPEMISMATCH:
  case DISP_E_BADVARTYPE:
    return err::TypeMismatch;
  case DISP_E_OVERFLOW:
    return err::Overflow;
  case DISP_E_PARAMNOTOPTIONAL:
    return err::ArgumentNotOptional;
  case DISP_E_NONAMEDARGS:
    return err::NoNamedArguments;
  case E_OUTOFMEMORY:
    return err::OutOfMemory;
  case E_INVALIDARG:
    return err::InvalidCall;
  default:
    return static_cast<std::int32_t>(hr);
  }
}

void throwHresult(HRESULT hr) {
  throwHresult(hr, Text());
}

void throwHresult(HRESULT hr, const Text& description) {
  const std::int32_t number = hresultNumber(hr);
  if (!description.empty()) throw RuntimeError(number, description);
  if (number != static_cast<std::int32_t>(hr)) throw RuntimeError(number, describeError(number));
  Text text = systemMessage(static_cast<DWORD>(hr));
  if (text.empty()) text = describeError(number);
  throw RuntimeError(number, text);
}

Text systemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const unique_hlocal owner(buffer);
  if (!buffer) return Text();
  Text text = fromWide(buffer, length);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
    text.pop_back();
  return text;
}

} // namespace vk::win32

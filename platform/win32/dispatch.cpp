#include "platform/win32/dispatch.h"

#include "platform/win32/errors_win32.h"

#include <cstring>
#include <vector>

namespace vk::win32 {

namespace {

unique_variant bytesVariant(const Bytes& bytes) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) throwHresult(E_OUTOFMEMORY);
  unique_variant v;
  v->vt = VT_ARRAY | VT_UI1;
  v->parray = array; // the variant owns it from here
  if (!bytes.empty()) {
    void* data = nullptr;
    const HRESULT hr = ::SafeArrayAccessData(array, &data);
    if (FAILED(hr)) throwHresult(hr);
    const auto unaccess = scope_exit([array]() noexcept { ::SafeArrayUnaccessData(array); });
    std::memcpy(data, bytes.data(), bytes.size());
  }
  return v;
}

Bytes bytesOf(SAFEARRAY* array) {
  if (!array) return {};
  if (::SafeArrayGetDim(array) != 1) throw RuntimeError(err::TypeMismatch);
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  const LONG count = upper - lower + 1;
  if (count <= 0) return {};
  void* data = nullptr;
  const HRESULT hr = ::SafeArrayAccessData(array, &data);
  if (FAILED(hr)) throwHresult(hr);
  // Unlocked even when the copy runs out of memory.
  const auto unaccess = scope_exit([array]() noexcept { ::SafeArrayUnaccessData(array); });
  const auto* first = static_cast<const std::uint8_t*>(data);
  return Bytes(first, first + count);
}

// An object reference from an interface of a result: its IDispatch, or
// Nothing when there is none.
Variant objectOf(IUnknown* unknown) {
  if (!unknown) return Variant(ObjectRef());
  com_ptr<IDispatch> dispatch;
  const HRESULT hr = unknown->QueryInterface(IID_IDispatch, dispatch.put_void());
  if (FAILED(hr)) throwHresult(hr);
  return Variant(wrapDispatch(std::move(dispatch)));
}

// Calls the deferred fill-in, then takes the number and text the server
// reported, freeing the strings it allocated.
[[noreturn]] void throwException(EXCEPINFO& info) {
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  const unique_bstr source(info.bstrSource);
  const unique_bstr description(info.bstrDescription);
  const unique_bstr helpFile(info.bstrHelpFile);
  Text text = description ? fromWide(description.get(), ::SysStringLen(description.get())) : Text();
  if (info.scode != 0) throwHresult(info.scode, text);
  // A bare wCode is the run-time's own error number.
  const std::int32_t number = info.wCode;
  if (text.empty()) text = describeError(number);
  throw RuntimeError(number, text);
}

} // namespace

unique_variant toVariant(const Variant& value) {
  unique_variant v;
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, Empty>) {
          v->vt = VT_EMPTY;
        } else if constexpr (std::is_same_v<T, bool>) {
          v->vt = VT_BOOL;
          v->boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
        } else if constexpr (std::is_same_v<T, std::int16_t>) {
          v->vt = VT_I2;
          v->iVal = x;
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          v->vt = VT_I4;
          v->lVal = x;
        } else if constexpr (std::is_same_v<T, double>) {
          v->vt = VT_R8;
          v->dblVal = x;
        } else if constexpr (std::is_same_v<T, Text>) {
          BSTR s = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(x.data()),
                                       static_cast<UINT>(x.size()));
          if (!s) throwHresult(E_OUTOFMEMORY);
          v->vt = VT_BSTR;
          v->bstrVal = s;
        } else if constexpr (std::is_same_v<T, SharedBytes>) {
          if (!x) throw RuntimeError(err::TypeMismatch);
          v = bytesVariant(*x);
        } else if constexpr (std::is_same_v<T, ObjectRef>) {
          v->vt = VT_DISPATCH;
          v->pdispVal = nullptr; // Nothing
          if (x) {
            auto* object = dynamic_cast<DispatchObject*>(x.get());
            if (!object) throw RuntimeError(err::TypeMismatch);
            v->pdispVal = object->dispatch();
            v->pdispVal->AddRef();
          }
        }
      },
      value.value());
  return v;
}

Variant fromVariant(const VARIANT& value) {
  if (value.vt & VT_BYREF) {
    unique_variant direct;
    const HRESULT hr = ::VariantCopyInd(direct.get(), const_cast<VARIANT*>(&value));
    if (FAILED(hr)) throwHresult(hr);
    return fromVariant(*direct.get());
  }
  switch (value.vt) {
  case VT_EMPTY:
  case VT_NULL:
  case VT_ERROR: // a missing value
    return Variant();
  case VT_BSTR:
    return Variant(value.bstrVal ? fromWide(value.bstrVal, ::SysStringLen(value.bstrVal)) : Text());
  case VT_BOOL:
    return Variant(value.boolVal != VARIANT_FALSE);
  case VT_I1:
    return Variant(static_cast<std::int16_t>(value.cVal));
  case VT_UI1:
    return Variant(static_cast<std::int16_t>(value.bVal));
  case VT_I2:
    return Variant(static_cast<std::int16_t>(value.iVal));
  case VT_UI2:
    return Variant(static_cast<std::int32_t>(value.uiVal));
  case VT_I4:
    return Variant(static_cast<std::int32_t>(value.lVal));
  case VT_INT:
    return Variant(static_cast<std::int32_t>(value.intVal));
  case VT_UI4:
  case VT_UINT:
  case VT_I8:
  case VT_UI8:
  case VT_R4:
  case VT_R8:
  case VT_CY:
  case VT_DECIMAL:
  case VT_DATE: {
    unique_variant number;
    const HRESULT hr = ::VariantChangeType(number.get(), const_cast<VARIANT*>(&value), 0, VT_R8);
    if (FAILED(hr)) throwHresult(hr);
    const double d = number->dblVal;
    if (value.vt != VT_R4 && value.vt != VT_R8 && value.vt != VT_DATE && d >= -2147483648.0 &&
        d <= 2147483647.0 && static_cast<double>(static_cast<std::int32_t>(d)) == d)
      return Variant(static_cast<std::int32_t>(d));
    return Variant(d);
  }
  case VT_DISPATCH:
    return objectOf(value.pdispVal);
  case VT_UNKNOWN:
    return objectOf(value.punkVal);
  case VT_ARRAY | VT_UI1:
  case VT_ARRAY | VT_I1:
    return Variant(bytesOf(value.parray));
  default:
    throw RuntimeError(err::TypeMismatch);
  }
}

namespace {

// invoke, with the result as the server gave it.
unique_variant invokeRaw(IDispatch& target, DISPID member, WORD flags, const Args& args) {
  // DISPPARAMS take the arguments last first.
  std::vector<unique_variant> owned;
  owned.reserve(args.size());
  for (auto it = args.rbegin(); it != args.rend(); ++it)
    owned.push_back(toVariant(*it));
  std::vector<VARIANT> raw;
  raw.reserve(owned.size());
  for (auto& v : owned)
    raw.push_back(*v.get()); // shallow: owned keeps the contents

  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = raw.empty() ? nullptr : raw.data();
  params.cArgs = static_cast<UINT>(raw.size());
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }

  unique_variant result;
  EXCEPINFO info{};
  UINT badArgument = 0;
  const HRESULT hr =
      target.Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                    (flags & DISPATCH_PROPERTYPUT) ? nullptr : result.get(), &info, &badArgument);
  if (hr == DISP_E_EXCEPTION) throwException(info);
  if (FAILED(hr)) throwHresult(hr);
  return result;
}

} // namespace

Variant invoke(IDispatch& target, DISPID member, WORD flags, const Args& args) {
  return fromVariant(*invokeRaw(target, member, flags, args).get());
}

ObjectRef wrapDispatch(com_ptr<IDispatch> dispatch) {
  if (!dispatch) return ObjectRef();
  return std::make_shared<DispatchObject>(std::move(dispatch));
}

DISPID DispatchObject::idOf(TextView member) const {
  const Text name(member);
  auto* names = const_cast<LPOLESTR>(wide(name));
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) throwHresult(hr);
  return id;
}

Variant DispatchObject::call(TextView member, const Args& args) {
  // A method call or a property read: the run-time lets the object decide.
  return invoke(*dispatch_, idOf(member), DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

void DispatchObject::put(TextView member, const Variant& value) {
  invoke(*dispatch_, idOf(member), DISPATCH_PROPERTYPUT, {value});
}

void DispatchObject::callId(std::int32_t dispId, const Args& args) {
  // A result of a type outside the conversions must not fail a call whose
  // result nobody reads: it is only cleared.
  invokeRaw(*dispatch_, static_cast<DISPID>(dispId), DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

} // namespace vk::win32

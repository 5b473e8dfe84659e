// An in-process automation server for dispatch_check.exe: one class with two
// dual interfaces, each answering late calls itself (no type library). The
// default one, which QueryInterface(IID_IDispatch) gives, is not the one the
// check creates the object for, and the same dispatch identifiers do
// different things on each: every call is written down with the name of the
// interface it reached, and the log is read back by the member "TakeLog".
#include <windows.h>

#include <oleauto.h>

#include <new>
#include <string>

namespace {

// {5DEA9058-721E-4DA9-95A2-B95F66BE3298}
constexpr CLSID kClass = {
    0x5DEA9058, 0x721E, 0x4DA9, {0x95, 0xA2, 0xB9, 0x5F, 0x66, 0xBE, 0x32, 0x98}};
// {46032F8C-536E-425B-8F39-3549D824F47A}: the interface the check asks for.
constexpr IID kAskedFor = {
    0x46032F8C, 0x536E, 0x425B, {0x8F, 0x39, 0x35, 0x49, 0xD8, 0x24, 0xF4, 0x7A}};
// {CFE083CD-0A6C-429F-BFCA-6E07DAAD12A0}: the class's default interface.
constexpr IID kDefault = {
    0xCFE083CD, 0x0A6C, 0x429F, {0xBF, 0xCA, 0x6E, 0x07, 0xDA, 0xAD, 0x12, 0xA0}};

constexpr DISPID kTakeLog = 1;
constexpr DISPID kArray = 2;   // answers with a type late calls do not convert
constexpr DISPID kFirst = 12;  // as the browser library's session start
constexpr DISPID kSecond = 32; // as its address opening

std::wstring calls; // what was called, through which interface
LONG objects = 0;

HRESULT bstrResult(VARIANT* result, const std::wstring& text) {
  if (!result) return S_OK;
  result->vt = VT_BSTR;
  result->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

// An array of variants: none of the conversions of the late calls takes it.
HRESULT arrayResult(VARIANT* result) {
  if (!result) return S_OK;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) return E_OUTOFMEMORY;
  result->vt = VT_ARRAY | VT_VARIANT;
  result->parray = array;
  return S_OK;
}

class Server;

// One of the two dual interfaces: IDispatch's members and nothing more.
class Face final : public IDispatch {
public:
  Face(Server& owner, const wchar_t* name) : owner_(owner), name_(name) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    if (::lstrcmpiW(names[0], L"TakeLog") == 0) {
      ids[0] = kTakeLog;
    } else if (::lstrcmpiW(names[0], L"Array") == 0) {
      ids[0] = kArray;
    } else {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    switch (member) {
    case kTakeLog: {
      const std::wstring log = calls;
      calls.clear();
      return bstrResult(result, log);
    }
    case kArray:
      return arrayResult(result);
    case kFirst:
    case kSecond: {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      const VARIANT& arg = params->rgvarg[0];
      if (arg.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
      const std::wstring call = std::wstring(name_) + L" " + std::to_wstring(member) + L" " +
                                std::wstring(arg.bstrVal, ::SysStringLen(arg.bstrVal));
      calls += (calls.empty() ? L"" : L"; ") + call;
      // The asked-for interface answers its second member with an array.
      if (member == kSecond && this != defaultFace()) return arrayResult(result);
      return bstrResult(result, call);
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
    }
  }

private:
  const Face* defaultFace() const;
  Server& owner_;
  const wchar_t* name_;
};

class Server {
public:
  Server() { ::InterlockedIncrement(&objects); }
  ~Server() { ::InterlockedDecrement(&objects); }

  HRESULT query(REFIID iid, void** out) {
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDispatch) ||
        ::IsEqualIID(iid, kDefault)) {
      *out = static_cast<IDispatch*>(&default_);
    } else if (::IsEqualIID(iid, kAskedFor)) {
      *out = static_cast<IDispatch*>(&askedFor_);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    addRef();
    return S_OK;
  }
  ULONG addRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
  ULONG release() {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  const Face* defaultFace() const { return &default_; }

private:
  LONG references_ = 0;
  Face default_{*this, L"default"};
  Face askedFor_{*this, L"asked-for"};
};

HRESULT Face::QueryInterface(REFIID iid, void** out) {
  return owner_.query(iid, out);
}
ULONG Face::AddRef() {
  return owner_.addRef();
}
ULONG Face::Release() {
  return owner_.release();
}
const Face* Face::defaultFace() const {
  return owner_.defaultFace();
}

class Factory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // a static object
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* server = new (std::nothrow) Server;
    if (!server) return E_OUTOFMEMORY;
    server->addRef();
    const HRESULT hr = server->query(iid, out);
    server->release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!::IsEqualCLSID(clsid, kClass)) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return objects == 0 ? S_OK : S_FALSE;
}

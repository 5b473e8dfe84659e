// Automation objects over IDispatch, called late the way the language
// run-time calls them.
#pragma once

#include "platform/automation.h"
#include "platform/win32/handles.h"

namespace vk::win32 {

// A vk::Variant as a VARIANT argument, and a VARIANT result back.
unique_variant toVariant(const Variant& value);
Variant fromVariant(const VARIANT& value);

class DispatchObject final : public Object {
public:
  explicit DispatchObject(com_ptr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  Variant call(TextView member, const Args& args) override;
  void put(TextView member, const Variant& value) override;
  void callId(std::int32_t dispId, const Args& args) override;

  IDispatch* dispatch() const noexcept { return dispatch_.get(); }

private:
  DISPID idOf(TextView member) const;
  com_ptr<IDispatch> dispatch_;
};

// Wraps an interface pointer as an object; Nothing for a null pointer.
ObjectRef wrapDispatch(com_ptr<IDispatch> dispatch);

// The one way this platform calls a dispatch member: arguments in the
// caller's order (reversed into DISPPARAMS here), the property-put form
// naming DISPID_PROPERTYPUT, failures raised as the run-time's errors.
Variant invoke(IDispatch& target, DISPID member, WORD flags, const Args& args);

} // namespace vk::win32

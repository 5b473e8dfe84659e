// Automation objects, called late by member name (or by dispatch identifier),
// the way the language run-time calls COM objects.
#pragma once

#include "platform/errors.h"
#include "platform/text.h"

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

namespace vk {

class Object;
using ObjectRef = std::shared_ptr<Object>; // an empty ref is Nothing
using Bytes = std::vector<std::uint8_t>;
// Byte arrays are shared, never changed once made: a multi-megabyte download
// passes through several calls without being copied at each.
using SharedBytes = std::shared_ptr<const Bytes>;

struct Empty {};

// The values that cross a late-bound call: the subset of VARIANT this program
// uses. Integers keep their width, since callers pass 16-bit constants.
class Variant {
public:
  using Value =
      std::variant<Empty, bool, std::int16_t, std::int32_t, double, Text, SharedBytes, ObjectRef>;

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(std::int16_t v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(const char16_t* v) : value_(Text(v)) {}
  Variant(Text v) : value_(std::move(v)) {}
  Variant(Bytes v) : value_(std::make_shared<const Bytes>(std::move(v))) {}
  Variant(SharedBytes v) : value_(std::move(v)) {}
  Variant(ObjectRef v) : value_(std::move(v)) {}

  const Value& value() const noexcept { return value_; }
  bool isEmpty() const noexcept { return std::holds_alternative<Empty>(value_); }
  bool isText() const noexcept { return std::holds_alternative<Text>(value_); }
  bool isObject() const noexcept { return std::holds_alternative<ObjectRef>(value_); }
  bool isBytes() const noexcept { return std::holds_alternative<SharedBytes>(value_); }
  bool isNumber() const noexcept;

  // Conversions as the run-time makes them; failures are RuntimeErrors.
  Text toText() const;             // 13 for bytes and objects
  std::int32_t toInt32() const;    // 13 for what is not a number
  double toDouble() const;         // 13 for what is not a number
  bool toBool() const;             // 13 for what is not a number or boolean
  const Bytes& toBytes() const;    // 13 for what is not bytes
  SharedBytes sharedBytes() const; // 13 for what is not bytes
  ObjectRef toObject() const;      // 91 for Nothing or Empty, 13 for others

private:
  Value value_;
};

// Exact comparison: texts by character, numbers by value. A text and a
// number compare as texts, Empty as "" or 0.
bool vbaVarTstEq(const Variant& a, const Variant& b);

using Args = std::vector<Variant>;

class Object {
public:
  virtual ~Object() = default;
  // A method call or a property read (the run-time asks for either).
  virtual Variant call(TextView member, const Args& args) = 0;
  // A property assignment.
  virtual void put(TextView member, const Variant& value) = 0;
  // A call by dispatch identifier, made as a statement: what the member
  // returns is dropped unconverted. Objects without such members refuse it.
  virtual void callId(std::int32_t dispId, const Args& args);

  Variant get(TextView member) { return call(member, {}); }
};

// Calls on a reference that holds Nothing fail as the run-time fails them.
Object& deref(const ObjectRef& ref);

// Helpers for objects that check their own arguments.
void expectArgs(const Args& args, std::size_t min, std::size_t max);
[[noreturn]] void noSuchMember(TextView member);

} // namespace vk

#include "platform/automation.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace vk {

bool Variant::isNumber() const noexcept {
  return std::holds_alternative<std::int16_t>(value_) ||
         std::holds_alternative<std::int32_t>(value_) || std::holds_alternative<double>(value_) ||
         std::holds_alternative<bool>(value_);
}

Text Variant::toText() const {
  if (auto* t = std::get_if<Text>(&value_)) return *t;
  if (isEmpty()) return Text();
  if (auto* b = std::get_if<bool>(&value_)) return *b ? u"True" : u"False";
  if (auto* i = std::get_if<std::int16_t>(&value_)) return vbaStrI4(*i);
  if (auto* i = std::get_if<std::int32_t>(&value_)) return vbaStrI4(*i);
  if (auto* d = std::get_if<double>(&value_)) {
    // As the run-time writes a Double: 15 significant digits, no trailing
    // zeros, an exponent of at least two digits ("1E+15", "1E-05"), and no
    // negative zero.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15G", *d == 0 ? 0.0 : *d);
    return Text(buffer, buffer + std::strlen(buffer));
  }
  throw RuntimeError(err::TypeMismatch);
}

double Variant::toDouble() const {
  if (isEmpty()) return 0;
  if (auto* b = std::get_if<bool>(&value_)) return *b ? -1 : 0;
  if (auto* i = std::get_if<std::int16_t>(&value_)) return *i;
  if (auto* i = std::get_if<std::int32_t>(&value_)) return *i;
  if (auto* d = std::get_if<double>(&value_)) return *d;
  if (auto* t = std::get_if<Text>(&value_)) {
    const std::string s = toUtf8(*t);
    std::size_t used = 0;
    try {
      const double v = std::stod(s, &used);
      if (used == s.size()) return v;
    } catch (const std::exception&) {
    }
  }
  throw RuntimeError(err::TypeMismatch);
}

std::int32_t Variant::toInt32() const {
  const double d = std::nearbyint(toDouble());
  if (d < -2147483648.0 || d > 2147483647.0) throw RuntimeError(err::Overflow);
  return static_cast<std::int32_t>(d);
}

bool Variant::toBool() const {
  return toDouble() != 0;
}

const Bytes& Variant::toBytes() const {
  return *sharedBytes();
}

SharedBytes Variant::sharedBytes() const {
  if (auto* b = std::get_if<SharedBytes>(&value_); b && *b) return *b;
  throw RuntimeError(err::TypeMismatch);
}

ObjectRef Variant::toObject() const {
  if (isEmpty()) throw RuntimeError(err::ObjectNotSet);
  if (auto* o = std::get_if<ObjectRef>(&value_)) {
    if (!*o) throw RuntimeError(err::ObjectNotSet);
    return *o;
  }
  throw RuntimeError(err::TypeMismatch);
}

bool vbaVarTstEq(const Variant& a, const Variant& b) {
  if (a.isText() || b.isText()) return a.toText() == b.toText();
  if (a.isNumber() || b.isNumber() || a.isEmpty() || b.isEmpty())
    return a.toDouble() == b.toDouble();
  throw RuntimeError(err::TypeMismatch);
}

void Object::callId(std::int32_t, const Args&) {
  throw RuntimeError(err::NoSuchMember);
}

Object& deref(const ObjectRef& ref) {
  if (!ref) throw RuntimeError(err::ObjectNotSet);
  return *ref;
}

void expectArgs(const Args& args, std::size_t min, std::size_t max) {
  if (args.size() < min || args.size() > max) throw RuntimeError(err::WrongArgumentCount);
}

void noSuchMember(TextView) {
  throw RuntimeError(err::NoSuchMember);
}

} // namespace vk

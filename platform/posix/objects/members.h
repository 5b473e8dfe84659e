// An automation object's members as a table: one row per member with its
// name, its kind, how many arguments it takes and the member function that
// answers it, the way the window's controls are a table. call() and put()
// look the name up here, so every object answers unknown names, wrong
// argument counts and read-only properties the same way:
//
//   no row of the name (or of the kind asked for)    438, no such member
//   a row, with too few or too many arguments        450
//   an assignment to a property marked read-only     450
//
// Names match without regard to case, as late binding matches them.
#pragma once

#include "platform/automation.h"
#include "platform/posix/host/stop_signals.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <type_traits>

namespace vk::posix {

// A method and a property read are asked for alike (the run-time lets the
// object decide), so those two kinds only say what the member is; an
// assignment finds only Let rows.
enum class MemberKind { Method, Get, Let };

inline constexpr std::size_t kAnyArgs = std::numeric_limits<std::size_t>::max();
inline constexpr std::int32_t kNoDispId = -1; // DISPID_UNKNOWN

template <class Self> struct Member {
  const char16_t* name = nullptr; // none: called by dispatch identifier only
  MemberKind kind = MemberKind::Method;
  std::size_t minArgs = 0;
  std::size_t maxArgs = 0;
  Variant (*invoke)(Self&, const Args&) = nullptr; // Method, Get
  void (*assign)(Self&, const Variant&) = nullptr; // Let
  std::int32_t dispId = kNoDispId;
  bool readOnly = false; // Get: an assignment is refused with 450 rather than 438
};

namespace member_detail {

template <class T> struct ClassOf;
template <class C, class M> struct ClassOf<M C::*> { using type = C; };
template <auto Fn> using SelfOf = typename ClassOf<decltype(Fn)>::type;

// Calls Fn with what it takes: the arguments as given, none, or the first as
// text. What it returns becomes a Variant; nothing becomes Empty.
template <auto Fn> Variant invoke(SelfOf<Fn>& self, const Args& args) {
  using F = decltype(Fn);
  using Self = SelfOf<Fn>;
  const auto run = [&]() -> decltype(auto) {
    if constexpr (std::is_invocable_v<F, Self&, const Args&>)
      return std::invoke(Fn, self, args);
    else if constexpr (std::is_invocable_v<F, Self&>)
      return std::invoke(Fn, self);
    else
      return std::invoke(Fn, self, args[0].toText());
  };
  if constexpr (std::is_void_v<decltype(run())>) {
    run();
    return Variant();
  } else {
    return Variant(run());
  }
}

// Calls Fn with the value assigned, or with it as text.
template <auto Fn> void assign(SelfOf<Fn>& self, const Variant& value) {
  if constexpr (std::is_invocable_v<decltype(Fn), SelfOf<Fn>&, const Variant&>)
    std::invoke(Fn, self, value);
  else
    std::invoke(Fn, self, value.toText());
}

template <class Self>
const Member<Self>* find(const Member<Self>* first, std::size_t count, TextView name, bool let) {
  for (const Member<Self>* row = first; row != first + count; ++row)
    if (row->name && (row->kind == MemberKind::Let) == let && equalsIgnoreCase(row->name, name))
      return row;
  return nullptr;
}

} // namespace member_detail

// The rows. A handler taking text (rather than the arguments or the Variant)
// gets the first argument, or the value, as text.
template <auto Fn>
constexpr Member<member_detail::SelfOf<Fn>> method(const char16_t* name, std::size_t minArgs,
                                                   std::size_t maxArgs) {
  return {
      .name = name, .minArgs = minArgs, .maxArgs = maxArgs, .invoke = &member_detail::invoke<Fn>};
}
template <auto Fn>
constexpr Member<member_detail::SelfOf<Fn>> methodId(std::int32_t dispId, std::size_t minArgs,
                                                     std::size_t maxArgs) {
  return {.minArgs = minArgs,
          .maxArgs = maxArgs,
          .invoke = &member_detail::invoke<Fn>,
          .dispId = dispId};
}
template <auto Fn> constexpr Member<member_detail::SelfOf<Fn>> propertyGet(const char16_t* name) {
  return {.name = name, .kind = MemberKind::Get, .invoke = &member_detail::invoke<Fn>};
}
// A property read whose assignment the object refuses with 450, as ActiveX
// objects do; a property without a Let row otherwise answers 438.
template <auto Fn>
constexpr Member<member_detail::SelfOf<Fn>> readOnlyProperty(const char16_t* name) {
  return {.name = name,
          .kind = MemberKind::Get,
          .invoke = &member_detail::invoke<Fn>,
          .readOnly = true};
}
template <auto Fn> constexpr Member<member_detail::SelfOf<Fn>> propertyLet(const char16_t* name) {
  return {.name = name,
          .kind = MemberKind::Let,
          .minArgs = 1,
          .maxArgs = 1,
          .assign = &member_detail::assign<Fn>};
}

// A method call or property read by name.
template <class Self, std::size_t N>
Variant callMember(Self& self, const Member<Self> (&table)[N], TextView name, const Args& args) {
  const Member<Self>* row = member_detail::find(table, N, name, false);
  if (!row) noSuchMember(name);
  expectArgs(args, row->minArgs, row->maxArgs);
  return row->invoke(self, args);
}

// A property assignment by name.
template <class Self, std::size_t N>
void putMember(Self& self, const Member<Self> (&table)[N], TextView name, const Variant& value) {
  if (const Member<Self>* row = member_detail::find(table, N, name, true))
    return row->assign(self, value);
  const Member<Self>* read = member_detail::find(table, N, name, false);
  if (read && read->readOnly) throw RuntimeError(err::WrongArgumentCount);
  noSuchMember(name);
}

// A call by dispatch identifier.
template <class Self, std::size_t N>
Variant callMemberId(Self& self, const Member<Self> (&table)[N], std::int32_t dispId,
                     const Args& args) {
  for (const Member<Self>& row : table) {
    if (row.dispId == kNoDispId || row.dispId != dispId || row.kind == MemberKind::Let) continue;
    expectArgs(args, row.minArgs, row.maxArgs);
    return row.invoke(self, args);
  }
  throw RuntimeError(err::NoSuchMember);
}

// An object that answers from its table, Self::kMembers (public, after the
// member functions it names). A stop asked for ends the program at the next
// call, so that a long loop of calls (the check of a large archive's
// thousands of items) answers it at once, as every wait does.
template <class Self> class TableObject : public Object {
public:
  Variant call(TextView member, const Args& args) override {
    endIfStopRequested();
    return callMember(static_cast<Self&>(*this), Self::kMembers, member, args);
  }
  void put(TextView member, const Variant& value) override {
    endIfStopRequested();
    putMember(static_cast<Self&>(*this), Self::kMembers, member, value);
  }
};

// An object's own errors are a table of rows, {number, text}, as the
// run-time's are; each is raised this one way, a detail after the text.
template <std::size_t N>
[[noreturn]] void raiseFrom(const err::Row (&rows)[N], std::int32_t number,
                            const Text& detail = {}) {
  Text text(err::kUnknownText);
  for (const err::Row& row : rows)
    if (row.number == number) text = Text(row.text);
  throw RuntimeError(number, detail.empty() ? text : text + u": " + detail);
}

} // namespace vk::posix

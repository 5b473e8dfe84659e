// Late calls by dispatch identifier through the Windows layer, against
// dispatch_server.dll of this folder (registered by dispatch_wine.sh): the
// calls must reach the interface the object was created for, not the class's
// default one, and a result nobody reads must not be converted.
// Prints "dispatch: N passed, M failed" last.
#include "platform/win32/runtime_win32.h"

#include <cstdio>
#include <functional>
#include <optional>

using namespace vk;

namespace {

constexpr char16_t kClass[] = u"{5DEA9058-721E-4DA9-95A2-B95F66BE3298}";
constexpr char16_t kAskedFor[] = u"{46032F8C-536E-425B-8F39-3549D824F47A}";
constexpr char16_t kDefault[] = u"{CFE083CD-0A6C-429F-BFCA-6E07DAAD12A0}";
constexpr char16_t kAddress[] = u"https://www.google.com";

int passed = 0;
int failed = 0;

// Runs one check; what it throws is its failure.
void check(const char* what, const std::function<Text()>& got, const Text& want) {
  Text result;
  try {
    result = got();
  } catch (const RuntimeError& e) {
    result = u"error " + fromUtf8(std::to_string(e.number())) + u": " + e.description();
  }
  if (result == want) {
    ++passed;
    std::printf("  ok    %s\n", what);
  } else {
    ++failed;
    std::printf("  FAIL  %s: got [%s], want [%s]\n", what, toUtf8(result).c_str(),
                toUtf8(want).c_str());
  }
}

Text takeLog(Object& object) {
  return object.get(u"TakeLog").toText();
}

} // namespace

int wmain() {
  const win32::com_apartment com;
  if (FAILED(com.result())) {
    std::printf("dispatch: 0 passed, 1 failed\n");
    return 1;
  }
  {
    win32::Win32Runtime runtime(u"dispatch");
    ObjectRef asked;
    check(
        "the object is made for the interface asked for",
        [&] {
          asked = runtime.createObject(kClass, kAskedFor);
          return Text(u"made");
        },
        u"made");
    if (asked) {
      check(
          "dispatch id 12 reaches the interface asked for",
          [&] {
            asked->callId(12, {u"Chrome"});
            return takeLog(*asked);
          },
          u"asked-for 12 Chrome");
      check(
          "dispatch id 32 reaches it too, its unread array result dropped",
          [&] {
            asked->callId(32, {Text(kAddress)});
            return takeLog(*asked);
          },
          u"asked-for 32 " + Text(kAddress));
      check(
          "a result that is read is still converted", [&] { return asked->get(u"Array").toText(); },
          u"error 13: " + RuntimeError(err::TypeMismatch).description());
    }
    // The server's own check: the default interface answers otherwise.
    check(
        "the default interface answers the same id otherwise",
        [&] {
          const ObjectRef other = runtime.createObject(kClass, kDefault);
          takeLog(*other); // what the checks above left
          other->callId(12, {u"Chrome"});
          return takeLog(*other);
        },
        u"default 12 Chrome");
  }
  std::printf("dispatch: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

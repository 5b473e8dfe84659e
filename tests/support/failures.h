// The run-time errors a statement fails with.
#pragma once

#include "platform/errors.h"

#include <gtest/gtest.h>

#include <optional>

namespace vk::test {

// The run-time error f fails with; nothing when it succeeds.
template <class F> std::optional<RuntimeError> errorOf(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    // Every error the run-time raises comes with its text.
    EXPECT_FALSE(e.description().empty()) << e.number();
    return e;
  }
  return std::nullopt;
}

// The number of the run-time error f fails with; 0 when it succeeds.
template <class F> int errorNumber(F&& f) {
  const auto e = errorOf(std::forward<F>(f));
  return e ? e->number() : 0;
}

// The run-time error f fails with; a failure of the test when it succeeds.
template <class F> RuntimeError failure(F&& f) {
  if (auto e = errorOf(std::forward<F>(f))) return *e;
  ADD_FAILURE() << "no error";
  return RuntimeError(0, u"");
}

} // namespace vk::test

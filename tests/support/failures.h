// The run-time errors a statement fails with.
#pragma once

#include "platform/errors.h"

#include <gtest/gtest.h>

namespace vk::test {

// The number of the run-time error f fails with; 0 when it succeeds.
template <class F> int errorNumber(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

// The run-time error f fails with; a failure of the test when it succeeds.
template <class F> RuntimeError failure(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return RuntimeError(0, u"");
}

} // namespace vk::test

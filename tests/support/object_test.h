// A fixture for the automation objects on a simulated machine.
#pragma once

#include "platform/posix/machine/machine.h"
#include "platform/posix/objects/objects.h"
#include "support/fake_runtime_posix.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <memory>

namespace vk::test {

class ObjectTest : public ::testing::Test {
protected:
  TestMachine tm;

  // An object made on a fresh machine object, which reads the hives as
  // they are now.
  ObjectRef create(const Text& progId) {
    machine_ = std::make_unique<posix::Machine>(tm.root());
    runtime_ = std::make_unique<FakeRuntime>(*machine_);
    return posix::createObjectByProgId(runtime_->context(), progId);
  }

private:
  std::unique_ptr<posix::Machine> machine_;
  std::unique_ptr<FakeRuntime> runtime_;
};

} // namespace vk::test

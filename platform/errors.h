// The run-time's error regime.
//
// A failure is a RuntimeError carrying the run-time's error number and text.
// With no error mode set it simply propagates to the caller. Handler mode is a
// try/catch in the procedure. Resume-next mode is an ErrorMode whose
// statements swallow RuntimeError. The end of the program is ProgramEnd, which
// is deliberately not a RuntimeError, so no resume-next ever swallows it.
#pragma once

#include "platform/text.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace vk {

// The run-time's usual error numbers.
namespace err {
inline constexpr std::int32_t InvalidCall = 5;
inline constexpr std::int32_t TypeMismatch = 13;
inline constexpr std::int32_t BadFileName = 52;
inline constexpr std::int32_t FileNotFound = 53;
inline constexpr std::int32_t PermissionDenied = 70;
inline constexpr std::int32_t PathFileAccess = 75;
inline constexpr std::int32_t PathNotFound = 76;
inline constexpr std::int32_t ObjectNotSet = 91;
inline constexpr std::int32_t CannotCreateObject = 429;
inline constexpr std::int32_t NoSuchMember = 438;
inline constexpr std::int32_t WrongArgumentCount = 450;
} // namespace err

class RuntimeError : public std::exception {
public:
  RuntimeError(std::int32_t number, Text description);
  // The run-time's own description for its numbers.
  explicit RuntimeError(std::int32_t number);

  std::int32_t number() const noexcept { return number_; }
  const Text& description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

private:
  std::int32_t number_;
  Text description_;
  std::string what_;
};

// The Turkish description the run-time gives a number it knows.
Text describeError(std::int32_t number);

// Thrown by vbaEnd: unwinds every procedure and closes the window.
struct ProgramEnd {};

// One procedure's error mode. Statements run through it; in resume-next mode
// a failing statement is abandoned and the next one runs. error() keeps the
// first abandoned statement's error (the cause, where later ones follow from
// it) until takeError(), for callers that report what failed.
class ErrorMode {
public:
  void onErrorResumeNext() noexcept { resumeNext_ = true; }
  bool resumeNext() const noexcept { return resumeNext_; }

  // Runs one statement; returns false when it failed and was abandoned.
  template <class F> bool operator()(F&& statement) {
    if (!resumeNext_) {
      std::forward<F>(statement)();
      return true;
    }
    try {
      std::forward<F>(statement)();
      return true;
    } catch (const RuntimeError& e) {
      if (!error_) error_ = e;
      return false;
    }
  }

  const std::optional<RuntimeError>& error() const noexcept { return error_; }
  std::optional<RuntimeError> takeError() noexcept { return std::exchange(error_, {}); }

private:
  bool resumeNext_ = false;
  std::optional<RuntimeError> error_;
};

} // namespace vk

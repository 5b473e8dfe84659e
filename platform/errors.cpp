#include "platform/errors.h"

namespace vk {

Text describeError(std::int32_t number) {
  for (const err::Row& row : err::kRows)
    if (row.number == number) return Text(row.text);
  return Text(err::kUnknownText);
}

RuntimeError::RuntimeError(std::int32_t number, Text description)
    : number_(number), description_(std::move(description)),
      what_(std::to_string(number) + ": " + toUtf8(description_)) {}

RuntimeError::RuntimeError(err::Code number) : RuntimeError(number, describeError(number)) {}

} // namespace vk

// A body that arrives in pieces, gathered without a second copy of it.
#pragma once

#include "platform/automation.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vk::posix {

// Bytes that arrive in pieces, up to a total not known in advance, kept so
// that at no time much more than the bytes themselves is held. A growing
// array would hold the old and the new copy at once; here a first block,
// sized from what the sender announces but only up to a cap (the
// announcement may lie), takes what it can and becomes the array itself
// when it is enough; the rest goes to blocks of their own, joined with the
// first into one array at the end and given back to the system piece by
// piece as they are copied.
class IncomingBytes {
public:
  IncomingBytes() = default;
  ~IncomingBytes();
  IncomingBytes(const IncomingBytes&) = delete;
  IncomingBytes& operator=(const IncomingBytes&) = delete;

  // Room for what the sender announces, up to the first block's cap; only
  // before the first piece.
  void expect(std::size_t announced);
  // False when there is no memory for it.
  bool append(const void* data, std::size_t size);
  std::size_t size() const { return size_; }
  // All of it as one array; the object is empty after. Throws
  // std::bad_alloc when the array cannot be made.
  Bytes take();
  // What has come so far, the object unchanged.
  Bytes copy() const;
  void clear();

private:
  // Mapped directly rather than allocated, so that each part is given back
  // to the system as soon as it is copied, not kept by the allocator.
  struct Block {
    std::uint8_t* at = nullptr;
    std::size_t used = 0;
  };

  Bytes first_;
  std::vector<Block> more_;
  std::size_t size_ = 0;
};

} // namespace vk::posix

#include "platform/posix/host/incoming_bytes.h"

#include "platform/posix/host/files.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace vk::posix {

namespace {

// Small enough to be the extra a body may cost, large enough that a body of
// hundreds of megabytes takes few blocks. The blocks are mapped directly
// rather than allocated, so that each is given back to the system when
// freed, not kept by the allocator for later.
constexpr std::size_t kFirstBlock = 8u << 20;
constexpr std::size_t kBlock = 8u << 20;

} // namespace

void IncomingBytes::Unmap::operator()(std::uint8_t* at) const {
  ::munmap(at, kBlock);
}

void IncomingBytes::expect(std::size_t announced) {
  if (size_ == 0) reserveAndPrefault(first_, std::min(announced, kFirstBlock));
}

bool IncomingBytes::append(const void* data, std::size_t size) {
  const auto* from = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    std::size_t n = 0;
    if (more_.empty() && first_.size() < kFirstBlock) {
      n = std::min(size, kFirstBlock - first_.size());
      try {
        first_.insert(first_.end(), from, from + n);
      } catch (const std::bad_alloc&) {
        return false;
      }
    } else {
      if (more_.empty() || more_.back().used == kBlock) {
        void* at = ::mmap(nullptr, kBlock, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (at == MAP_FAILED) return false;
        Block block{std::unique_ptr<std::uint8_t, Unmap>(static_cast<std::uint8_t*>(at)), 0};
        try {
          more_.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
          return false;
        }
      }
      Block& last = more_.back();
      n = std::min(size, kBlock - last.used);
      std::memcpy(last.bytes.get() + last.used, from, n);
      last.used += n;
    }
    from += n;
    size -= n;
    size_ += n;
  }
  return true;
}

Bytes IncomingBytes::take() {
  Bytes all;
  if (more_.empty()) {
    all.swap(first_);
  } else {
    // Only the room is taken here; its pages come as the blocks are copied
    // in and given back.
    all.reserve(size_);
    all.insert(all.end(), first_.begin(), first_.end());
    Bytes().swap(first_);
    for (Block& block : more_) {
      all.insert(all.end(), block.bytes.get(), block.bytes.get() + block.used);
      block.bytes.reset();
    }
    more_.clear();
  }
  size_ = 0;
  return all;
}

void IncomingBytes::clear() {
  Bytes().swap(first_);
  more_.clear();
  size_ = 0;
}

} // namespace vk::posix

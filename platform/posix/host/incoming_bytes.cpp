#include "platform/posix/host/incoming_bytes.h"

#include "platform/posix/host/files.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace vk::posix {

namespace {

// A driver archive fits the first block, which then becomes the array
// without a copy; what a lying length can reserve stays small.
constexpr std::size_t kFirstBlock = 16u << 20;
// Few blocks for a body of hundreds of megabytes; their pages are only
// used as the bytes arrive.
constexpr std::size_t kBlock = 8u << 20;
// What is copied into the array before it is given back.
constexpr std::size_t kPiece = 1u << 20;

} // namespace

IncomingBytes::~IncomingBytes() {
  clear();
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
        try {
          more_.reserve(more_.size() + 1);
        } catch (const std::bad_alloc&) {
          return false;
        }
        void* at =
            ::mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (at == MAP_FAILED) return false;
        more_.push_back({static_cast<std::uint8_t*>(at), 0});
      }
      Block& last = more_.back();
      n = std::min(size, kBlock - last.used);
      std::memcpy(last.at + last.used, from, n);
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
    size_ = 0;
    return all;
  }
  // Only the room is taken here; its pages come as the bytes are copied in.
  all.reserve(size_);
  // The first block's whole pages are given back as they are copied too:
  // nothing reads them again, and the allocator keeps its own records
  // outside them (the range is rounded inwards to whole pages).
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(first_.data());
  std::uintptr_t released = (start + page - 1) & ~(page - 1);
  for (std::size_t done = 0; done < first_.size();) {
    const std::size_t piece = std::min(kPiece, first_.size() - done);
    all.insert(all.end(), first_.data() + done, first_.data() + done + piece);
    done += piece;
    const std::uintptr_t copied = (start + done) & ~(page - 1);
    if (copied > released) {
      (void)::madvise(reinterpret_cast<void*>(released), copied - released, MADV_DONTNEED);
      released = copied;
    }
  }
  Bytes().swap(first_);
  for (Block& block : more_) {
    // Each piece copied is unmapped at once (kPiece is a multiple of the
    // page size, so the rest of the block stays mapped).
    std::size_t done = 0;
    while (done < kBlock) {
      const std::size_t piece = std::min(kPiece, kBlock - done);
      if (done < block.used)
        all.insert(all.end(), block.at + done, block.at + std::min(block.used, done + piece));
      ::munmap(block.at + done, piece);
      done += piece;
    }
    block.at = nullptr;
  }
  more_.clear();
  size_ = 0;
  return all;
}

Bytes IncomingBytes::copy() const {
  Bytes all;
  all.reserve(size_);
  all.insert(all.end(), first_.begin(), first_.end());
  for (const Block& block : more_)
    all.insert(all.end(), block.at, block.at + block.used);
  return all;
}

void IncomingBytes::clear() {
  Bytes().swap(first_);
  for (const Block& block : more_)
    if (block.at) ::munmap(block.at, kBlock);
  more_.clear();
  size_ = 0;
}

} // namespace vk::posix

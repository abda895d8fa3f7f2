#pragma once
// MD5 as defined in RFC 1321, carried by the library itself so that it
// depends on nothing beyond the language's runtime. The usual three steps:
// start a context, add bytes in any number of pieces, finish into 16 bytes.

#include <cstddef>
#include <cstdint>

namespace tavsn::fingerprint {

inline constexpr std::size_t kMd5DigestBytes = 16;

struct Md5Context {
  std::uint32_t state[4];
  std::uint64_t total_bytes;  // all bytes added so far
  std::uint8_t pending[64];   // the start of a block not yet complete
};

void md5_start(Md5Context& context) noexcept;
void md5_add(Md5Context& context, const void* bytes, std::size_t length) noexcept;
// Leaves the context spent; start it again before reuse.
void md5_finish(Md5Context& context, std::uint8_t (&digest)[kMd5DigestBytes]) noexcept;

// The three steps over one piece of `length` bytes.
void md5_digest(const void* bytes, std::size_t length, std::uint8_t (&digest)[kMd5DigestBytes]) noexcept;

}  // namespace tavsn::fingerprint

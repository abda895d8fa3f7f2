#include "fingerprint/md5.h"

#include <cstring>

namespace tavsn::fingerprint {
namespace {

constexpr std::uint32_t kInitialState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// RFC 1321's T[i] = floor(2^32 * abs(sin(i + 1))), kept as a table so the
// result never depends on the floating-point library.
constexpr std::uint32_t kSineTable[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::uint8_t kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr std::uint32_t RotateLeft(std::uint32_t value, unsigned count) {
  return (value << count) | (value >> (32 - count));
}

std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

void StoreLittleEndian32(std::uint32_t value, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void TransformBlock(std::uint32_t (&state)[4], const std::uint8_t* block) {
  std::uint32_t words[16];
  for (int i = 0; i < 16; ++i) words[i] = LoadLittleEndian32(block + 4 * i);

  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (unsigned step = 0; step < 64; ++step) {
    const unsigned round = step / 16;
    std::uint32_t mixed;
    unsigned word;
    switch (round) {
      case 0:
        mixed = (b & c) | (~b & d);
        word = step;
        break;
      case 1:
        mixed = (b & d) | (c & ~d);
        word = (5 * step + 1) % 16;
        break;
      case 2:
        mixed = b ^ c ^ d;
        word = (3 * step + 5) % 16;
        break;
      default:
        mixed = c ^ (b | ~d);
        word = (7 * step) % 16;
        break;
    }
    const std::uint32_t rotated = RotateLeft(a + mixed + kSineTable[step] + words[word], kShifts[round][step % 4]);
    a = d;
    d = c;
    c = b;
    b = b + rotated;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void md5_start(Md5Context& context) noexcept {
  std::memcpy(context.state, kInitialState, sizeof context.state);
  context.total_bytes = 0;
  std::memset(context.pending, 0, sizeof context.pending);
}

void md5_add(Md5Context& context, const void* bytes, std::size_t length) noexcept {
  if (length == 0) return;  // also spares memcpy a possibly null source
  auto input = static_cast<const std::uint8_t*>(bytes);
  std::size_t pending_bytes = static_cast<std::size_t>(context.total_bytes % 64);
  context.total_bytes += length;

  if (pending_bytes != 0) {
    const std::size_t room = 64 - pending_bytes;
    const std::size_t taken = length < room ? length : room;
    std::memcpy(context.pending + pending_bytes, input, taken);
    input += taken;
    length -= taken;
    if (pending_bytes + taken < 64) return;
    TransformBlock(context.state, context.pending);
  }
  for (; length >= 64; input += 64, length -= 64) TransformBlock(context.state, input);
  if (length != 0) std::memcpy(context.pending, input, length);
}

void md5_finish(Md5Context& context, std::uint8_t (&digest)[kMd5DigestBytes]) noexcept {
  // The message length in bits, taken before the padding is added.
  const std::uint64_t bit_length = context.total_bytes * 8;
  std::uint8_t padding[72] = {0x80};
  const std::size_t pending_bytes = static_cast<std::size_t>(context.total_bytes % 64);
  const std::size_t padding_bytes = (pending_bytes < 56 ? 56 : 120) - pending_bytes;
  std::uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<std::uint8_t>(bit_length >> (8 * i));
  md5_add(context, padding, padding_bytes);
  md5_add(context, length_bytes, sizeof length_bytes);
  for (int i = 0; i < 4; ++i) StoreLittleEndian32(context.state[i], digest + 4 * i);
}

void md5_digest(const void* bytes, std::size_t length, std::uint8_t (&digest)[kMd5DigestBytes]) noexcept {
  Md5Context context;
  md5_start(context);
  md5_add(context, bytes, length);
  md5_finish(context, digest);
}

}  // namespace tavsn::fingerprint

#include "overlay/grain_image.h"

#include <sys/mman.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

namespace dunelo {
namespace {

// Far above the largest display at full device resolution (a 16K panel is about 1.3e8 pixels),
// low enough that a nonsensical screen size cannot exhaust memory before allocation fails.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

uint64_t splitmix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// xoshiro256++: fast, and every output bit is of full quality, so each byte of an output can be
// used as an independent sample.
class Xoshiro256pp {
 public:
  explicit Xoshiro256pp(uint64_t seed) {
    for (auto& word : s_) word = splitmix64(seed);
  }
  uint64_t next() {
    const uint64_t result = rotl(s_[0] + s_[3], 23) + s_[0];
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

// A different seed on every call, also for calls within the same clock tick.
uint64_t freshSeed() {
  static std::atomic<uint64_t> counter{0};
  uint64_t mix =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (counter.fetch_add(1, std::memory_order_relaxed) * 0xD1B54A32D192ED03ull);
  return splitmix64(mix);
}

// Truncates toward zero and raises to 1; none when not finite or beyond what a Bitmap can hold.
std::optional<int> pixelCount(double size) {
  if (!std::isfinite(size)) return std::nullopt;
  const double truncated = std::trunc(size);
  if (truncated < 1) return 1;
  if (truncated > static_cast<double>(std::numeric_limits<int>::max())) return std::nullopt;
  return static_cast<int>(truncated);
}

// Two pixels from 64 random bits. With an 8-bit sample b (u = b / 255), the colour channel
// 255 * (0.25 * u + 0.375) = 0.25 * b + 95.625 rounds to 96 + (b >> 2); alpha is b itself. Each
// channel takes its own byte, so the four channels are independent. Bytes are laid out R, G, B,
// A in memory (little-endian words).
constexpr uint64_t kColourBits = 0x003F3F3F003F3F3Full;
constexpr uint64_t kColourBias = 0x0060606000606060ull;
constexpr uint64_t kAlphaBits = 0xFF000000FF000000ull;

inline uint64_t grainPixelPair(uint64_t random) {
  const uint64_t pair = (((random >> 2) & kColourBits) + kColourBias) | (random & kAlphaBits);
  if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(pair);
  return pair;
}

// An image this large lives in fresh pages (glibc maps blocks above 32 MB anew each time), and
// every 4 KB page of it costs a fault when first written: for a 5K screen that is 14,400 faults,
// most of the image's cost. Huge pages, where the kernel offers them on request, need one fault
// per 2 MB. Only whole huge pages inside the block are advised; a refusal changes nothing.
void adviseHugePages(void* data, size_t bytes) {
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace

std::shared_ptr<const Bitmap> makeGrainImage(double width, double height) {
  const auto w = pixelCount(width);
  const auto h = pixelCount(height);
  if (!w || !h) return nullptr;
  const uint64_t pixels = static_cast<uint64_t>(*w) * static_cast<uint64_t>(*h);
  if (pixels > kMaxPixels) return nullptr;

  auto image = std::make_shared<Bitmap>();
  try {
    const size_t bytes = static_cast<size_t>(pixels) * 4;
    image->rgba.reserve(bytes);
    adviseHugePages(image->rgba.data(), bytes);
    image->rgba.resize(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
  image->width = *w;
  image->height = *h;

  Xoshiro256pp rng(freshSeed());
  uint8_t* out = image->rgba.data();
  const size_t pairs = static_cast<size_t>(pixels / 2);
  for (size_t i = 0; i < pairs; ++i) {
    const uint64_t two = grainPixelPair(rng.next());
    std::memcpy(out + i * 8, &two, 8);
  }
  if (pixels % 2) {
    const uint64_t two = grainPixelPair(rng.next());
    std::memcpy(out + pairs * 8, &two, 4);
  }
  return image;
}

}  // namespace dunelo

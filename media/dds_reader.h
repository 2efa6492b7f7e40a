// Decoders of our own, for the images Qt's readers do not take: DDS
// textures, and TGA images without the footer Qt's TGA reader requires.
//
// A reader of DDS textures: the 128-byte header, and the top mipmap level
// decoded to RGBA, for uncompressed pixels described by channel masks and
// for the block-compressed DXT1, DXT3 and DXT5.
//
// Written for bytes from strangers: every size a header claims is checked
// against what the bytes hold before anything is allocated, so the largest
// allocation is bounded by the entry's size (eight times it, for DXT1)
// and by kMaxDdsSide on each side. A refusal says why in words.
//
// Threading: none; pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/status.h"

// The widest and tallest image decoded: 16384 × 16384 RGBA is 1 GiB.
constexpr uint32_t kMaxDdsSide = 16384;

struct CDdsHeader {
  enum class Encoding : uint8_t { Dxt1, Dxt3, Dxt5, Masks };
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t mipmaps = 1;
  Encoding encoding = Encoding::Masks;
  // Masks only: bits a pixel (8, 16, 24 or 32) and the channels' masks;
  // a zero mask is a channel the pixels lack (alpha then 255). Luminance
  // puts its mask in red, and the picture is grey.
  uint32_t bitCount = 0;
  uint32_t masks[4] = {};  // red, green, blue, alpha
  bool luminance = false;
  // Bytes of the top level, from offset 128.
  uint64_t topBytes = 0;
};

// "dxt1", "dxt3", "dxt5", or for masks "rgba32", "rgb24", "rgb16", "l8", ...
std::string DdsEncodingWord(const CDdsHeader& header);

// Reads and checks the header; the words (no path) for one that does not
// check out or claims more pixels than the bytes hold.
CResult<CDdsHeader> ParseDdsHeader(std::string_view bytes);

// Memory of kLargePixelBytes or more for pixels, in huge pages where the
// system gives them on request: a 4096 × 4096 image took 16,384 page
// faults, which cost as long as decoding it. Throws std::bad_alloc.
inline constexpr size_t kLargePixelBytes = size_t{4} << 20;
void* AllocateLargePixels(size_t bytes);
void FreeLargePixels(void* at, size_t bytes) noexcept;

// Leaves new elements as they are: the decoders write every pixel, and
// clearing a 4096 × 4096 image first cost as long as decoding it.
template <typename T>
struct CUninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = CUninitialisedAllocator<U>;
  };
  T* allocate(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    if (count * sizeof(T) < kLargePixelBytes) return std::allocator<T>::allocate(count);
    return static_cast<T*>(AllocateLargePixels(count * sizeof(T)));
  }
  void deallocate(T* at, size_t count) noexcept {
    if (count * sizeof(T) < kLargePixelBytes) return std::allocator<T>::deallocate(at, count);
    FreeLargePixels(at, count * sizeof(T));
  }
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

struct CRgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  // width × height × 4 bytes, rows top down
  std::vector<uint8_t, CUninitialisedAllocator<uint8_t>> pixels;
};

// The top level as RGBA; the words of ParseDdsHeader for a header it
// refuses. The pixels' memory is bounded by the entry's size; when even
// that cannot be had, std::bad_alloc reaches the front end, as anywhere.
CResult<CRgbaImage> DecodeDds(std::string_view bytes);

// A TGA's pixels as RGBA (true colour or grey, plain or run-length
// encoded); the words for a header that does not check out, colour-mapped
// pixels, or pixels cut short.
CResult<CRgbaImage> DecodeTga(std::string_view bytes);
// Whether a TGA's pixels are indices into a colour map: such an image's
// header checks out, but DecodeTga does not draw it.
bool IsColourMappedTga(std::string_view bytes);

// One 4 × 4 block of each kind to 16 RGBA pixels, row by row; `block` holds
// 8 bytes for DXT1, 16 for DXT3 and DXT5.
void DecodeDxt1Block(const uint8_t* block, uint8_t rgba[64]);
void DecodeDxt3Block(const uint8_t* block, uint8_t rgba[64]);
void DecodeDxt5Block(const uint8_t* block, uint8_t rgba[64]);

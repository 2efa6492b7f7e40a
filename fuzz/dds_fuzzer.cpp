// Textures and other media from anywhere: what DescribeEntry makes of the
// bytes under each name that picks a reader, and the DDS and TGA decoders'
// pixels.
// A header that claims more than the bytes hold must be refused before
// anything is allocated; one that is accepted must decode to exactly its
// size in pixels.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "media/dds_reader.h"
#include "media/entry_kind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An owning copy of exactly `size` bytes, so a read past the end is an
  // AddressSanitizer report.
  const std::string copy(reinterpret_cast<const char*>(data), size);
  const std::string_view bytes(copy);
  for (const char* name : {"a.dds", "a.tga", "a.bmp", "a.wav", "a.ini", "a"}) {
    const CEntryFacts facts = DescribeEntry(name, bytes);
    FUZZ_REQUIRE(!DetailsText(facts).empty(), "every entry has details");
    FUZZ_REQUIRE(facts.damagedFormat == nullptr || facts.kind == EntryKind::Binary,
                 "a damaged header is binary");
  }
  const CResult<CDdsHeader> header = ParseDdsHeader(bytes);
  FUZZ_REQUIRE(header || !header.GetStatus().GetWords().empty(), "a refusal says why");
  const CResult<CRgbaImage> image = DecodeDds(bytes);
  FUZZ_REQUIRE(image.IsOk() == header.IsOk(),
               "the decoder takes exactly the headers the parser takes");
  if (image) {
    FUZZ_REQUIRE(header->topBytes <= size, "the top level lies inside the bytes");
    FUZZ_REQUIRE(image->pixels.size() == size_t{image->width} * image->height * 4,
                 "RGBA for every pixel");
  } else {
    FUZZ_REQUIRE(!image.GetStatus().GetWords().empty(), "a refusal says why");
  }
  const CResult<CRgbaImage> tga = DecodeTga(bytes);
  if (tga) {
    FUZZ_REQUIRE(tga->pixels.size() == size_t{tga->width} * tga->height * 4,
                 "RGBA for every pixel");
  } else {
    FUZZ_REQUIRE(!tga.GetStatus().GetWords().empty(), "a refused TGA says why");
  }
  return 0;
}

// What DescribeEntry makes of each kind of entry, and the DDS reader's
// pixels and refusals. Every file here is made by the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "media/dds_reader.h"
#include "media/entry_kind.h"
#include "tools/demo/sample_media.h"

namespace {

std::string Details(std::string_view name, const std::string& bytes) {
  const CEntryFacts facts = DescribeEntry(name, bytes);
  return std::string(KindWord(facts.kind)) + "\t" + DetailsText(facts);
}

std::string Be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string Png(uint32_t width, uint32_t height, char depth, char colourType) {
  return std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(width) + Be32(height) +
         depth + colourType + std::string(3, '\0') + Be32(0);
}

std::string Jpeg() {
  // Start, an APP0 segment of 16 bytes, then a baseline frame of 3 components.
  return std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20) +
         std::string("\xFF\xC0\x00\x11\x08\x00\x30\x00\x40\x03", 10) + std::string(9, '\x01');
}

std::string Bmp(int32_t width, int32_t height, uint16_t bits) {
  std::string out = "BM" + std::string(8, '\0') + std::string("\x36\0\0\0\x28\0\0\0", 8);
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((static_cast<uint32_t>(width) >> (8 * i)) & 0xFF);
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((static_cast<uint32_t>(height) >> (8 * i)) & 0xFF);
  out += std::string("\x01\0", 2);
  out += static_cast<char>(bits & 0xFF);
  out += static_cast<char>(bits >> 8);
  const size_t rows = static_cast<size_t>(height < 0 ? -int64_t{height} : height);
  return out + std::string(24, '\0') +
         std::string((static_cast<size_t>(width) * bits + 31) / 32 * 4 * rows, '\0');
}

std::string Le(uint32_t v, size_t bytes) {
  std::string out;
  for (size_t i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A WAV whose fmt chunk holds `fields` (from the encoding to the bits a
// sample: 2, 2, 4, 4, 2 and 2 bytes) and then `extra`, before `dataBytes`
// bytes of silence.
std::string Wav(std::initializer_list<uint32_t> fields, const std::string& extra,
                uint32_t dataBytes) {
  std::string format;
  size_t i = 0;
  for (uint32_t field : fields) {
    format += Le(field, i == 2 || i == 3 ? 4 : 2);
    ++i;
  }
  format += extra;
  return "RIFF" + Le(0, 4) + "WAVEfmt " + Le(static_cast<uint32_t>(format.size()), 4) + format +
         "data" + Le(dataBytes, 4) + std::string(dataBytes, '\0');
}

std::string Block(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

std::vector<uint32_t> Pixels(const CRgbaImage& image) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i + 3 < image.pixels.size(); i += 4)
    out.push_back(uint32_t{image.pixels[i]} << 24 | uint32_t{image.pixels[i + 1]} << 16 |
                  uint32_t{image.pixels[i + 2]} << 8 | image.pixels[i + 3]);
  return out;
}

// Red, blue, then the two thirds between them; the rest red.
const std::string kDxt1FourColours = Block({0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0});

TEST(EntryKind, EachKindWithItsFacts) {
  EXPECT_EQ(Details("Art\\Tank.tga", MakeTga(2, 3, std::vector<uint8_t>(24, 0x80))),
            "image\ttga 2x3 32bpp");
  EXPECT_EQ(Details("a.dds", MakeDxt5Picture(512)), "image\tdds 512x512 dxt5 mips=10");
  EXPECT_EQ(Details("any", MakeDds(8, 8, "", 1, std::string(256, '\0'))),
            "image\tdds 8x8 rgba32 mips=1");
  EXPECT_EQ(Details("Sounds\\beep.wav", MakeWav(22050, 33516)),
            "sound\twav pcm 22050Hz 1ch 16bit 1.52s");
  // The bytes decide, whatever the name says.
  EXPECT_EQ(Details("picture.dat", Png(640, 480, 8, 6)), "image\tpng 640x480 32bpp");
  EXPECT_EQ(Details("photo.tga", Jpeg()), "image\tjpeg 64x48 24bpp");
  EXPECT_EQ(Details("x.bmp", Bmp(16, -8, 24)), "image\tbmp 16x8 24bpp");
  EXPECT_EQ(Details("Data\\INI\\Game.ini", "Object Tank\n  Speed = 3\nEnd\n"),
            "rules\trules 28 bytes");
  EXPECT_EQ(Details("notes.txt", "Object Tank\n  Speed = 3\nend ; closes\n"),
            "rules\trules 37 bytes");
  EXPECT_EQ(Details("readme.txt", "Just words,\r\nno block at all.\r\n"), "text\ttext 31 bytes");
  EXPECT_EQ(Details("model.w3d", std::string("W3D\0\x01", 5)), "binary\tbinary 5 bytes");
  // "BM" at the start of a text is no BMP unless the name says so.
  EXPECT_EQ(Details("notes.txt", "BMW sedan\n"), "text\ttext 10 bytes");
}

// A sound's length is rounded as printf rounds it, halves included: the
// line of tarn info and the editor's status bar must agree on every sound.
TEST(EntryKind, SecondsRoundAsPrintfDoes) {
  for (uint32_t rate : {8000u, 11025u, 22050u, 44100u, 48000u})
    for (uint32_t frames = 0; frames < 200000; frames += 37) {
      const double seconds = static_cast<double>(frames) / rate;
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.2fs", seconds);
      CSecondsText text;
      ASSERT_EQ(SecondsText(seconds, text), expected) << frames << " / " << rate;
    }
  CSecondsText text;
  EXPECT_EQ(SecondsText(0.125, text), "0.12s");
  EXPECT_EQ(SecondsText(0.375, text), "0.38s");
  EXPECT_EQ(SecondsText(4294967295.0, text), "4294967295.00s");
}

TEST(EntryKind, TheExtensionIsTheNamesLastAfterItsFolders) {
  const std::string junk = "not a texture";
  EXPECT_EQ(Details("Art\\TANK.DDS", junk), "binary\tdamaged dds: no DDS signature");
  EXPECT_EQ(Details("s.WaV", junk), "binary\tdamaged wav: no WAV signature");
  EXPECT_EQ(Details("Art\\photo.Jpeg", junk), "binary\tdamaged jpeg: no JPEG signature");
  // A dot in a folder's name, a dot at the end.
  for (const char* name : {"Data.dds\\readme", "Art.wav/notes", "Art\\pic.dds."})
    EXPECT_EQ(Details(name, junk), "text\ttext 13 bytes") << name;
  EXPECT_EQ(Details("Art\\x.dds", junk), "binary\tdamaged dds: no DDS signature");
}

// What plays is the data chunk as far as its size says, not the chunks
// after it, and no further than the entry goes.
TEST(EntryKind, WavSamplesAreTheDataChunkAlone) {
  const std::string wav = MakeWav(8000, 10);
  const std::string list = std::string("LIST\x04\0\0\0INFO", 12);
  EXPECT_EQ(WavSamples(wav + list), wav.substr(44));
  EXPECT_EQ(WavSamples(wav.substr(0, 50)), wav.substr(44, 6));
  EXPECT_EQ(WavSamples("RIFF"), "");
}

TEST(EntryKind, RulesCountsOnlyWhenAsked) {
  const std::string text = "Object Tank\n  Speed = 3\n  Armor = 2\nEnd\nWeapon Gun\nEnd\n";
  CEntryFacts facts = DescribeEntry("w.ini", text);
  CountRules(text, facts);
  EXPECT_EQ(DetailsText(facts), "rules 2 blocks 4 rows");
  CEntryFacts textFacts = DescribeEntry("r.txt", "plain");
  CountRules("plain", textFacts);
  EXPECT_EQ(DetailsText(textFacts), "text 5 bytes");
}

TEST(EntryKind, DamagedHeadersAreBinaryWithTheReason) {
  EXPECT_EQ(Details("a.dds", "not a texture"), "binary\tdamaged dds: no DDS signature");
  EXPECT_EQ(Details("a.wav", "RIFF"), "binary\tdamaged wav: no WAV signature");
  EXPECT_EQ(Details("b", MakeDds(4, 4, "DXT1", 1, "").substr(0, 60)),
            "binary\tdamaged dds: header cut short at 60 of 128 bytes");
  EXPECT_EQ(Details("b", MakeDds(65535, 65535, "DXT5", 1, "")),
            "binary\tdamaged dds: 65535x65535 is larger than 16384x16384");
  EXPECT_EQ(Details("b", MakeDds(64, 64, "DXT1", 1, std::string(100, '\0'))),
            "binary\tdamaged dds: pixels need 2048 bytes; the entry holds 100 after the header");
  EXPECT_EQ(Details("b", MakeDds(4, 4, "DXT1", 12, std::string(8, '\0'))),
            "binary\tdamaged dds: claims 12 mipmaps; at most 3 fit");
  EXPECT_EQ(Details("b", MakeDds(4, 4, "ATI2", 1, std::string(16, '\0'))),
            "binary\tdamaged dds: pixel format 'ATI2' is not one this reader knows");
  EXPECT_EQ(Details("t.tga", MakeTga(64, 64, std::vector<uint8_t>(16, 0))),
            "binary\tdamaged tga: pixels reach past the end of the entry");
  EXPECT_EQ(Details("p", Png(0, 10, 8, 2)),
            "binary\tdamaged png: width 0 and height 10: each must be from 1 to 2147483647");
  EXPECT_EQ(Details("b.bmp", Bmp(0, 10, 24)),
            "binary\tdamaged bmp: width 0 and height 10: each must be from 1 to 2147483647");
  EXPECT_EQ(Details("b", MakeDds(0, 0, "DXT1", 1, "")),
            "binary\tdamaged dds: width 0 and height 0: each must be from 1 to 16384");
  EXPECT_EQ(Details("p", Png(4, 4, 7, 2)),
            "binary\tdamaged png: colour type 2 with 7-bit samples is not a PNG one");
  EXPECT_EQ(Details("p", Png(4, 4, 16, 3)),
            "binary\tdamaged png: colour type 3 with 16-bit samples is not a PNG one");
  std::string noComponents = Jpeg();
  noComponents[29] = 0;
  EXPECT_EQ(Details("j", noComponents),
            "binary\tdamaged jpeg: a frame of 0 components is not an image's");
  // A BMP's claims are held to the bytes there are: rows, palette, compression.
  std::string odd = Bmp(4, 4, 24);
  odd[18] = odd[19] = odd[22] = odd[23] = '\xFF';  // 65535 x 65535
  EXPECT_EQ(Details("b.bmp", odd), "binary\tdamaged bmp: pixels reach past the end of the entry");
  odd = Bmp(4, 4, 8);
  odd[30] = 99;
  EXPECT_EQ(Details("b.bmp", odd), "binary\tdamaged bmp: compression 99 is not a BMP one");
  odd = Bmp(4, 4, 24);
  odd[46] = odd[47] = odd[48] = odd[49] = '\xFF';
  EXPECT_EQ(Details("b.bmp", odd),
            "binary\tdamaged bmp: palette reaches past the end of the entry");
  std::string longId = MakeTga(1, 1, std::vector<uint8_t>(4, 0));
  longId[0] = '\xFF';
  EXPECT_EQ(Details("t.tga", longId),
            "binary\tdamaged tga: image ID reaches past the end of the entry");
  EXPECT_EQ(Details("j", Jpeg().substr(0, 22)),
            "binary\tdamaged jpeg: no frame header before the scan or the end");
  std::string wav = MakeWav(8000, 10);
  wav[16] = 100;  // the fmt chunk now reaches past the end
  EXPECT_EQ(Details("s.wav", wav),
            "binary\tdamaged wav: chunk 'fmt ' reaches past the end of the entry");
  // IMA ADPCM's samples a block: 505 fit 256 mono bytes, more or none cannot.
  const auto adpcm = [](uint32_t perBlock) {
    return Details("s.wav", Wav({0x11, 1, 22050, 11100, 256, 4}, Le(2, 2) + Le(perBlock, 2), 2560));
  };
  EXPECT_EQ(adpcm(505), "sound\twav ima-adpcm 22050Hz 1ch 4bit 0.23s");
  EXPECT_EQ(
      adpcm(65535),
      "binary\tdamaged wav: IMA ADPCM blocks of 256 bytes hold at most 505 samples, not 65535");
  EXPECT_EQ(adpcm(0),
            "binary\tdamaged wav: IMA ADPCM blocks of 256 bytes hold at most 505 samples, not 0");
  // Encodings that are not played are sounds all the same; one not known
  // here is timed by its byte rate, and without one it has no length.
  EXPECT_EQ(Details("s.wav", Wav({3, 2, 44100, 352800, 8, 32}, "", 352800)),
            "sound\twav float 44100Hz 2ch 32bit 1.00s");
  EXPECT_EQ(Details("s.wav", Wav({0x55, 1, 22050, 4000, 1, 0}, "", 2000)),
            "sound\twav format-85 22050Hz 1ch 0bit 0.50s");
  EXPECT_EQ(Details("s.wav", Wav({0x55, 1, 22050, 0, 1, 0}, "", 2000)),
            "binary\tdamaged wav: encoding 85 claims 0 bytes a second");
}

TEST(DdsBlocks, KnownBlocksDecodeToKnownColours) {
  uint8_t rgba[64];
  DecodeDxt1Block(reinterpret_cast<const uint8_t*>(kDxt1FourColours.data()), rgba);
  const uint8_t first[16] = {255, 0, 0, 255, 0, 0, 255, 255, 170, 0, 85, 255, 85, 0, 170, 255};
  EXPECT_EQ(std::string(rgba, rgba + 16), std::string(first, first + 16));
  EXPECT_EQ(std::string(rgba + 60, rgba + 64), std::string("\xFF\0\0\xFF", 4));

  // First colour below the second: three colours and transparent black.
  const std::string three = Block({0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0});
  DecodeDxt1Block(reinterpret_cast<const uint8_t*>(three.data()), rgba);
  const uint8_t threeFirst[16] = {0, 0, 255, 255, 255, 0, 0, 255, 127, 0, 127, 255, 0, 0, 0, 0};
  EXPECT_EQ(std::string(rgba, rgba + 16), std::string(threeFirst, threeFirst + 16));

  // DXT5: alphas 255, 0, six between (218 the first, 36 the last), colours as DXT1's four.
  const std::string dxt5 = Block({255, 0, 0x88, 0x0E, 0, 0, 0, 0}) + kDxt1FourColours;
  DecodeDxt5Block(reinterpret_cast<const uint8_t*>(dxt5.data()), rgba);
  EXPECT_EQ(rgba[3], 255);
  EXPECT_EQ(rgba[7], 0);
  EXPECT_EQ(rgba[11], 218);
  EXPECT_EQ(rgba[15], 36);
  EXPECT_EQ(rgba[8], 170);  // the colours are DXT1's
  // Second end alpha above the first: four between, then 0 and 255.
  const std::string dxt5b = Block({0, 255, 0x88, 0x0E, 0, 0, 0, 0}) + kDxt1FourColours;
  DecodeDxt5Block(reinterpret_cast<const uint8_t*>(dxt5b.data()), rgba);
  EXPECT_EQ(rgba[11], 51);
  EXPECT_EQ(rgba[15], 255);

  // DXT3: 4-bit alphas, 0x0 to 0xF stepping by 17.
  const std::string dxt3 = Block({0x10, 0xF0, 0, 0, 0, 0, 0, 0}) + kDxt1FourColours;
  DecodeDxt3Block(reinterpret_cast<const uint8_t*>(dxt3.data()), rgba);
  EXPECT_EQ(rgba[3], 0);
  EXPECT_EQ(rgba[7], 17);
  EXPECT_EQ(rgba[15], 255);
}

// The words of a refused image, or "decoded".
std::string Refusal(const CResult<CRgbaImage>& decoded) {
  return decoded ? "decoded" : decoded.GetStatus().GetWords();
}

TEST(DdsDecode, FilesDecodeWholeAndCutAtTheEdges) {
  // A 5 × 3 image takes 2 × 1 blocks; the blocks' overhang is cut off.
  CResult<CRgbaImage> image =
      DecodeDds(MakeDds(5, 3, "DXT1", 1, kDxt1FourColours + kDxt1FourColours));
  ASSERT_EQ(Refusal(image), "decoded");
  EXPECT_EQ(image->width, 5u);
  EXPECT_EQ(image->height, 3u);
  const std::vector<uint32_t> pixels = Pixels(*image);
  ASSERT_EQ(pixels.size(), 15u);
  EXPECT_EQ(pixels[0], 0xFF0000FFu);
  EXPECT_EQ(pixels[1], 0x0000FFFFu);
  EXPECT_EQ(pixels[4], 0xFF0000FFu);  // the second block's first pixel

  // Uncompressed BGRA split by masks.
  image = DecodeDds(MakeDds(1, 1, "", 1, Block({0x30, 0x20, 0x10, 0x80})));
  ASSERT_EQ(Refusal(image), "decoded");
  EXPECT_EQ(Pixels(*image), std::vector<uint32_t>{0x10203080u});
}

TEST(TgaDecode, PlainAndRunLengthPixelsInEitherRowOrder) {
  // Written top down: the first pixel stays first.
  CResult<CRgbaImage> image = DecodeTga(MakeTga(2, 1, {1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(Refusal(image), "decoded");
  EXPECT_EQ(Pixels(*image), (std::vector<uint32_t>{0x01020304u, 0x05060708u}));
  // A true-colour image may carry a colour map too: its pixels follow it.
  std::string withMap = MakeTga(1, 1, {1, 2, 3, 4});
  withMap[1] = 1;
  withMap[5] = 2;  // two entries
  withMap[7] = 24;
  withMap.insert(18, 6, '\x7F');
  image = DecodeTga(withMap);
  ASSERT_EQ(Refusal(image), "decoded");
  EXPECT_EQ(Pixels(*image), std::vector<uint32_t>{0x01020304u});
  // The descriptor's right-to-left bit: the first pixel stored is the last.
  std::string mirrored = MakeTga(2, 1, {1, 2, 3, 4, 5, 6, 7, 8});
  mirrored[17] |= 0x10;
  image = DecodeTga(mirrored);
  ASSERT_EQ(Refusal(image), "decoded");
  EXPECT_EQ(Pixels(*image), (std::vector<uint32_t>{0x05060708u, 0x01020304u}));
  // Run-length encoded 24-bit colour, rows bottom up: a run of
  // three blue pixels, then one raw red pixel.
  std::string rle = MakeTga(2, 2, {});
  rle[2] = 10;
  rle[16] = 24;
  rle[17] = 0;
  rle += Block({0x82, 255, 0, 0, 0x00, 0, 0, 255});
  image = DecodeTga(rle);
  ASSERT_EQ(Refusal(image), "decoded");
  EXPECT_EQ(Pixels(*image),
            (std::vector<uint32_t>{0x0000FFFFu, 0xFF0000FFu, 0x0000FFFFu, 0x0000FFFFu}));
  // Runs that end before the image does.
  EXPECT_EQ(Refusal(DecodeTga(rle.substr(0, rle.size() - 2))), "pixels end before the image does");
  // A 65535 × 65535 claim in a few bytes is refused by the header, before
  // anything is allocated; one that the bytes could hold is not.
  std::string huge = MakeTga(1, 1, {}) + std::string(64, '\x7F');
  huge[2] = 10;
  huge[12] = huge[13] = huge[14] = huge[15] = '\xFF';
  EXPECT_EQ(Refusal(DecodeTga(huge)),
            "64 bytes of run-length packets hold at most 1536 pixels, not 65535x65535");
  EXPECT_EQ(Details("t.tga", huge),
            "binary\tdamaged tga: 64 bytes of run-length packets hold at most 1536 pixels, not "
            "65535x65535");
  huge[12] = huge[14] = 32;
  huge[13] = huge[15] = 0;
  EXPECT_EQ(Details("t.tga", huge), "image\ttga 32x32 32bpp");
}

TEST(DdsDecode, HostileHeadersAreRefusedWithoutAllocating) {
  EXPECT_EQ(Refusal(DecodeDds(MakeDds(65535, 65535, "DXT1", 1, std::string(64, '\0')))),
            "65535x65535 is larger than 16384x16384");
  // The largest image the side limit allows still needs its bytes.
  EXPECT_EQ(Refusal(DecodeDds(MakeDds(16384, 16384, "DXT5", 1, std::string(1024, '\0')))),
            "pixels need 268435456 bytes; the entry holds 1024 after the header");
  // A last block cut short.
  EXPECT_NE(Refusal(DecodeDds(MakeDds(8, 4, "DXT3", 1, std::string(31, '\0')))), "decoded");
  EXPECT_EQ(Refusal(DecodeDds("DDS ")), "header cut short at 4 of 128 bytes");
  std::string badSize = MakeDds(4, 4, "DXT1", 1, std::string(8, '\0'));
  badSize[4] = 100;
  EXPECT_EQ(Refusal(DecodeDds(badSize)), "header sizes are 100 and 32, not 124 and 32");
}

}  // namespace

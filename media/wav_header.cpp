// RIFF WAVE headers: the "fmt " chunk for the encoding, rate, channels and
// bits, and the "data" chunk's size for the duration (over the byte rate,
// for an encoding not known here). Chunks are walked by their sizes, each
// checked against the entry before it is stepped over.
#include <algorithm>
#include <string>

#include "media/byte_reading.h"
#include "media/media_headers.h"

namespace {

constexpr uint32_t kPcm = 1;
constexpr uint32_t kFloat = 3;
constexpr uint32_t kAlaw = 6;
constexpr uint32_t kMulaw = 7;
constexpr uint32_t kImaAdpcm = 0x11;
constexpr uint32_t kExtensible = 0xFFFE;

struct CWavChunks {
  size_t format = 0;  // offset of the "fmt " chunk's body, 0 when not seen
  uint32_t formatSize = 0;
  size_t data = 0;        // offset of the "data" chunk's body, 0 when not seen
  uint32_t dataSize = 0;  // cut at the entry's end
};

// Walks the chunks after "WAVE"; false, with `why`, for one that reaches
// past the end of the entry.
bool FindChunks(std::string_view bytes, CWavChunks& chunks, std::string& why) {
  size_t at = 12;
  while (at + 8 <= bytes.size() && !(chunks.format != 0 && chunks.data != 0)) {
    const std::string_view id = bytes.substr(at, 4);
    const uint32_t size = Le32(bytes, at + 4);
    const uint64_t end = uint64_t{at} + 8 + size;
    if (id == "data") {
      // A data chunk cut short still tells what the sound is; its size
      // cannot be trusted past the entry's end.
      chunks.data = at + 8;
      chunks.dataSize = static_cast<uint32_t>(std::min<uint64_t>(size, bytes.size() - at - 8));
    } else if (end > bytes.size()) {
      why = "chunk '" + std::string(id) + "' reaches past the end of the entry";
      return false;
    } else if (id == "fmt ") {
      chunks.format = at + 8;
      chunks.formatSize = size;
    }
    at = static_cast<size_t>(std::min<uint64_t>(end + (size & 1), bytes.size()));
  }
  if (chunks.format == 0) why = "no 'fmt ' chunk";
  else if (chunks.data == 0) why = "no 'data' chunk";
  else if (chunks.formatSize < 16)
    why = "'fmt ' chunk of " + std::to_string(chunks.formatSize) + " bytes is too short";
  return why.empty();
}

// The frames an IMA ADPCM block of `blockAlign` bytes holds: each
// channel's 4-byte header holds its first sample, and each byte after
// them two more. The fmt chunk may say how many in a field of its own,
// which is taken when the block can hold that many; else `why` says not.
uint64_t AdpcmFramesPerBlock(std::string_view bytes, const CWavChunks& chunks, uint32_t channels,
                             uint32_t blockAlign, std::string& why) {
  const uint64_t most = (uint64_t{blockAlign} - 4 * channels) * 8 / (4 * channels) + 1;
  if (chunks.formatSize < 20 || Le16(bytes, chunks.format + 16) < 2) return most;
  const uint32_t said = Le16(bytes, chunks.format + 18);
  if (said == 0 || said > most)
    why = "IMA ADPCM blocks of " + std::to_string(blockAlign) + " bytes hold at most " +
          std::to_string(most) + " samples, not " + std::to_string(said);
  return said;
}

// The fmt chunk's fields; an extensible format's encoding is the one it
// names.
struct CWavFormat {
  uint32_t encoding, channels, rate, byteRate, blockAlign, bits;
};

// Whether each sample takes whole bytes of its own, a block being one
// frame.
bool IsSampled(uint32_t encoding) {
  return encoding == kPcm || encoding == kFloat || encoding == kAlaw || encoding == kMulaw;
}

// An encoding in the details' words: a word for those known here, the
// number for the rest ("format-85").
std::string EncodingWord(uint32_t encoding) {
  switch (encoding) {
    case kPcm: return "pcm";
    case kImaAdpcm: return "ima-adpcm";
    case kFloat: return "float";
    case kAlaw: return "alaw";
    case kMulaw: return "mulaw";
    default: return "format-" + std::to_string(encoding);
  }
}

// Why the fields of a format cannot be a sound's, or nothing. An encoding
// that is not played is still a sound: only fields that leave its length
// unknowable are refused.
std::string FormatProblem(const CWavFormat& format) {
  const uint32_t channels = format.channels, blockAlign = format.blockAlign, bits = format.bits;
  if (channels == 0 || format.rate == 0 || blockAlign == 0)
    return "format claims " + std::to_string(channels) + " channels at " +
           std::to_string(format.rate) + " Hz in blocks of " + std::to_string(blockAlign) +
           " bytes";
  if (IsSampled(format.encoding) &&
      (bits == 0 || bits > 64 || blockAlign < channels * ((bits + 7) / 8)))
    return std::to_string(bits) + "-bit samples do not fit blocks of " +
           std::to_string(blockAlign) + " bytes";
  if (format.encoding == kImaAdpcm && (bits != 4 || blockAlign <= 4 * channels))
    return "IMA ADPCM needs 4-bit samples in blocks over " + std::to_string(4 * channels) +
           " bytes";
  if (format.encoding != kImaAdpcm && !IsSampled(format.encoding) && format.byteRate == 0)
    return "encoding " + std::to_string(format.encoding) + " claims 0 bytes a second";
  return {};
}

}  // namespace

CHeaderFound ReadWavHeader(std::string_view bytes, CSoundFacts& sound) {
  std::string why;
  if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE")
    return std::nullopt;
  CWavChunks chunks;
  if (!FindChunks(bytes, chunks, why)) return Found(std::move(why));
  const size_t f = chunks.format;
  CWavFormat format = {Le16(bytes, f),     Le16(bytes, f + 2),  Le32(bytes, f + 4),
                       Le32(bytes, f + 8), Le16(bytes, f + 12), Le16(bytes, f + 14)};
  if (format.encoding == kExtensible && chunks.formatSize >= 26)
    format.encoding = Le16(bytes, f + 24);
  why = FormatProblem(format);
  const bool adpcm = format.encoding == kImaAdpcm;
  const uint64_t perBlock =
      adpcm && why.empty()
          ? AdpcmFramesPerBlock(bytes, chunks, format.channels, format.blockAlign, why)
          : 1;
  if (!why.empty()) return Found(std::move(why));
  // Frames are counted in whole blocks; an encoding not known here is
  // timed by its byte rate, as its blocks need not be frames.
  const double seconds =
      adpcm || IsSampled(format.encoding)
          ? static_cast<double>(chunks.dataSize / format.blockAlign * perBlock) / format.rate
          : static_cast<double>(chunks.dataSize) / format.byteRate;
  sound = {EncodingWord(format.encoding), format.rate, format.channels, format.bits, seconds};
  return Found(std::move(why));
}

std::string_view WavSamples(std::string_view bytes) {
  CWavChunks chunks;
  std::string why;
  if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE" ||
      !FindChunks(bytes, chunks, why))
    return {};
  return bytes.substr(chunks.data, chunks.dataSize);
}

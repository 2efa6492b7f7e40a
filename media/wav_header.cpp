// RIFF WAVE headers: the "fmt " chunk for the encoding, rate, channels and
// bits, and the "data" chunk's size for the duration. Chunks are walked by
// their sizes, each checked against the entry before it is stepped over.
#include <algorithm>
#include <string>

#include "media/byte_reading.h"
#include "media/media_headers.h"

namespace {

constexpr uint32_t kPcm = 1;
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

}  // namespace

CHeaderFound ReadWavHeader(std::string_view bytes, CSoundFacts& sound) {
  std::string why;
  if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE")
    return std::nullopt;
  CWavChunks chunks;
  if (!FindChunks(bytes, chunks, why)) return Found(std::move(why));
  const size_t f = chunks.format;
  uint32_t format = Le16(bytes, f);
  const uint32_t channels = Le16(bytes, f + 2), rate = Le32(bytes, f + 4);
  const uint32_t blockAlign = Le16(bytes, f + 12), bits = Le16(bytes, f + 14);
  if (format == kExtensible && chunks.formatSize >= 26) format = Le16(bytes, f + 24);
  if (format != kPcm && format != kImaAdpcm) {
    why = "encoding " + std::to_string(format) + " is neither PCM nor IMA ADPCM";
  } else if (channels == 0 || rate == 0 || blockAlign == 0) {
    why = "format claims " + std::to_string(channels) + " channels at " + std::to_string(rate) +
          " Hz in blocks of " + std::to_string(blockAlign) + " bytes";
  } else if (format == kPcm &&
             (bits == 0 || bits > 64 || blockAlign < channels * ((bits + 7) / 8))) {
    why = std::to_string(bits) + "-bit samples do not fit blocks of " + std::to_string(blockAlign) +
          " bytes";
  } else if (format == kImaAdpcm && (bits != 4 || blockAlign <= 4 * channels)) {
    why = "IMA ADPCM needs 4-bit samples in blocks over " + std::to_string(4 * channels) + " bytes";
  } else {
    const uint64_t perBlock =
        format == kPcm ? 1 : AdpcmFramesPerBlock(bytes, chunks, channels, blockAlign, why);
    if (why.empty())
      sound = {format == kPcm ? "pcm" : "ima-adpcm", rate, channels, bits,
               static_cast<double>(chunks.dataSize / blockAlign * perBlock) / rate};
  }
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

#include "bench/bench_data.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <unordered_set>
#include <vector>

#include "tests/support/big_builder.h"

namespace {

class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {  // splitmix64
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }
  template <size_t N>
  const char* Pick(const char* const (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t m_state;
};

const char* const kTypes[] = {"Object",     "Weapon",   "Locomotor", "Armor",      "ParticleSystem",
                              "AudioEvent", "Research", "Button",    "CommandSet", "EffectList"};
const char* const kKeys[] = {"Title",      "Cost",         "BuildSeconds", "SightRange",
                             "MaxHealth",  "Damage",       "Range",        "Speed",
                             "TurnRate",   "Acceleration", "Mesh",         "Texture",
                             "Volume",     "Radius",       "Faction",      "Traits",
                             "Hotkey",     "Icon",         "Lifetime",     "DelayBetweenShots",
                             "Projectile", "FireSound",    "Priority",     "Color"};
const char* const kWords[] = {"IV_MartenScout",
                              "SM_Kestrel",
                              "LightPlating",
                              "GROUND",
                              "AIR",
                              "Yes",
                              "No",
                              "PRIMARY",
                              "SECONDARY",
                              "fx_smoke_small",
                              "R:255 G:120 B:40",
                              "X:40 Y:60",
                              "SMALL_ARMS",
                              "EXPLOSIVE",
                              "NORMAL",
                              "VEHICLE SELECTABLE"};
const char* const kNested[] = {
    "Draw",          "Body",      "Behavior",       "WeaponSet",
    "Prerequisites", "ArmorSet",  "ConditionState", "DefaultConditionState",
    "Tracer",        "LightPulse"};
const char* const kComments[] = {"tuned for the demo map", "milliseconds", "see the balance sheet",
                                 "do not raise above 90", "TODO: art pass"};

void Value(std::string& out, CRandom& random) {
  switch (random.Below(3)) {
    case 0: out += std::to_string(random.Below(5000)); break;
    case 1:
      out += std::to_string(random.Below(500)) + "." + std::to_string(random.Below(100));
      break;
    default:
      out += random.Pick(kWords);
      if (random.Below(3) == 0) (out += ' ') += random.Pick(kWords);
  }
}

// Lines of one block body at `depth`; returns the number of lines written.
int Body(std::string& out, CRandom& random, int depth, int lines, std::string_view eol) {
  int written = 0;
  const std::string indent(2 * static_cast<size_t>(depth), ' ');
  while (written < lines) {
    const uint32_t roll = random.Below(100);
    if (roll < 6) {
      ((out += indent) += "; ") += random.Pick(kComments);
      out += eol;
    } else if (roll < 14 && depth < 3) {
      // A nested block: keyword, a value on most, 2-8 lines, End.
      ((out += indent) += random.Pick(kNested));
      if (random.Below(4) != 0)
        (out += " = ") += std::string("Module") + std::to_string(random.Below(90));
      out += eol;
      written += 1 + Body(out, random, depth + 1, static_cast<int>(random.Between(2, 8)), eol);
      ((out += indent) += "End") += eol;
    } else {
      ((out += indent) += random.Pick(kKeys)) += random.Below(5) == 0 ? " " : " = ";
      Value(out, random);
      if (random.Below(10) == 0) (out += "   ; ") += random.Pick(kComments);
      out += eol;
    }
    ++written;
  }
  return written;
}

const char* const kTop[] = {"Art", "Audio", "Data", "Maps", "Shaders", "Interface"};
const char* const kMiddle[] = {"Textures", "Meshes",  "Voices", "Sounds",  "INI",
                               "Scripts",  "Terrain", "Units",  "Effects", "Music"};
const char* const kStems[] = {"marten",  "basalt", "heron",   "thistle", "cinder", "kestrel",
                              "glimmer", "quarry", "lantern", "warden",  "spire",  "runner"};
const char* const kSuffixes[] = {".dds", ".tga", ".msh", ".wav", ".ini", ".txt", ".ogg"};
// A real archive files most of its entries under a few long paths: with
// BenchNames::Prefixed nine in ten names go under these six folders, the
// rest spread out below a long common stem.
const char* const kLong[] = {"Art\\Textures\\",          "Audio\\Sounds\\",
                             "Data\\INI\\Object\\",      "Art\\Textures\\Units\\",
                             "Audio\\Sounds\\Ambient\\", "Data\\INI\\Object\\Infantry\\"};

// The folders names are filed under; with BenchNames::Prefixed the long
// ones come first.
std::vector<std::string> BenchFolders(BenchNames style) {
  std::vector<std::string> folders;
  if (style == BenchNames::Prefixed) {
    folders.assign(std::begin(kLong), std::end(kLong));
    for (const char* top : kLong)
      for (const char* middle : kMiddle) folders.push_back(std::string(top) + middle + "\\");
    return folders;
  }
  for (const char* top : kTop) {
    folders.push_back(std::string(top) + "\\");
    for (const char* middle : kMiddle) {
      folders.push_back(std::string(top) + "\\" + middle + "\\");
      for (int group = 0; group < 12; ++group)
        folders.push_back(std::string(top) + "\\" + middle + "\\G" + std::to_string(group) + "\\");
    }
  }
  return folders;
}

// `count` unique names, folder by folder: the order a tool walking a
// directory tree writes them in. Within a folder the order is arbitrary.
std::vector<std::string> FolderWalkNames(uint32_t count, CRandom& random, BenchNames style) {
  const std::vector<std::string> folders = BenchFolders(style);
  const auto pickFolder = [&] {
    if (style == BenchNames::Spread || random.Below(10) == 0)
      return random.Below(static_cast<uint32_t>(folders.size()));
    return random.Below(static_cast<uint32_t>(std::size(kLong)));
  };
  std::unordered_set<std::string> used;
  std::vector<std::vector<std::string>> files(folders.size());
  for (uint32_t made = 0; made < count;) {
    const uint32_t folder = pickFolder();
    const size_t want = style == BenchNames::Spread
                            ? random.Between(20, 60)
                            : folders[folder].size() + random.Between(14, 30);
    std::string name =
        folders[folder] + random.Pick(kStems) + "_" + std::to_string(random.Below(100000));
    const std::string suffix = random.Pick(kSuffixes);
    if (name.size() + suffix.size() > want) continue;
    while (name.size() + suffix.size() < want)
      name.push_back(static_cast<char>('a' + random.Below(26)));
    name += suffix;
    if (!used.insert(name).second) continue;
    files[folder].push_back(std::move(name));
    ++made;
  }
  std::vector<std::string> order;
  for (auto& names : files)
    for (std::string& name : names) order.push_back(std::move(name));
  return order;
}

void PutLittle(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// A small texture or sound whose header checks out, as an archive's are:
// a TGA of up to 8 x 8 pixels, a DXT1 DDS of up to 8 x 8, or a few dozen
// frames of 8-bit PCM. Empty for any other name.
std::string MediaPayload(std::string_view name, CRandom& random) {
  std::string out;
  const uint32_t width = random.Between(1, 8), height = random.Between(1, 8);
  if (name.ends_with(".tga")) {
    out.assign("\0\0\x02\0\0\0\0\0\0\0\0\0", 12);
    PutLittle(out, width, 2);
    PutLittle(out, height, 2);
    out += "\x20\x08";
    out.resize(out.size() + 4 * width * height);
  } else if (name.ends_with(".dds")) {
    const uint32_t blocks = ((width + 3) / 4) * ((height + 3) / 4);
    out = "DDS ";
    for (const uint32_t word : {124u, 0x81007u, height, width, 8 * blocks, 0u, 1u})
      PutLittle(out, word, 4);
    out.resize(out.size() + 44);
    for (const uint32_t word : {32u, 4u}) PutLittle(out, word, 4);
    out += "DXT1";
    out.resize(out.size() + 20);
    PutLittle(out, 0x1000, 4);
    out.resize(out.size() + 16);
    out.resize(out.size() + 8 * blocks);
  } else if (name.ends_with(".wav")) {
    const uint32_t frames = random.Between(8, 120);
    out = "RIFF";
    PutLittle(out, 36 + frames, 4);
    out += "WAVEfmt ";
    for (const auto& [value, bytes] :
         {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {22050u, 4}, {22050u, 4}, {1u, 2}, {8u, 2}})
      PutLittle(out, value, bytes);
    out += "data";
    PutLittle(out, frames, 4);
    out.resize(out.size() + frames);
  }
  return out;
}

// The archive of `names` in this order, mostly small entries of random bytes;
// with `media`, textures and sounds hold what their names say.
std::string BuildWithPayloads(const std::vector<std::string>& names, CRandom& random, bool media) {
  CBigBuilder builder;
  std::string payload;
  for (const std::string& name : names) {
    if (media) {
      if (std::string made = MediaPayload(name, random); !made.empty()) {
        builder.Add(name, made);
        continue;
      }
    }
    const uint32_t roll = random.Below(100);
    const uint32_t size = roll < 85   ? random.Between(8, 160)
                          : roll < 99 ? random.Between(161, 1024)
                                      : random.Between(1025, 16384);
    payload.resize(size);
    for (char& c : payload) c = static_cast<char>(random.Next());
    builder.Add(name, payload);
  }
  return builder.Build();
}

}  // namespace

std::string MakeRulesText(size_t targetBytes, uint64_t seed) {
  CRandom random(seed);
  std::string out;
  out.reserve(targetBytes + 4096);
  for (uint32_t block = 0; out.size() < targetBytes; ++block) {
    const std::string_view eol = random.Below(2) == 0 ? "\r\n" : "\n";
    if (random.Below(4) == 0) ((out += "; ---- block ") += std::to_string(block)) += eol;
    ((out += random.Pick(kTypes)) += " Unit_") += std::to_string(block);
    if (random.Below(8) == 0) out += "   ; header comment";
    out += eol;
    Body(out, random, 1, static_cast<int>(random.Between(5, 40)), eol);
    (out += "End") += eol;
    out += eol;
  }
  return out;
}

std::string MakeBenchArchive(uint32_t count, uint64_t seed, bool shuffled, BenchNames style,
                             bool media) {
  CRandom random(seed);
  std::vector<std::string> order = FolderWalkNames(count, random, style);
  if (shuffled)
    for (size_t i = order.size(); i > 1; --i)
      std::swap(order[i - 1], order[random.Below(static_cast<uint32_t>(i))]);
  return BuildWithPayloads(order, random, media);
}

namespace {

// Entry i of `count` as "Data\\INI\\Rules\\NNNNN.ini": five digits, or as many
// as the last number needs, so that no two entries share a name.
std::string RulesEntryName(uint32_t i, uint32_t count) {
  std::string digits = std::to_string(i);
  const size_t width = std::max<size_t>(5, std::to_string(count > 0 ? count - 1 : 0).size());
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return "Data\\INI\\Rules\\" + digits + ".ini";
}

}  // namespace

std::string MakeRulesArchive(uint32_t count, size_t entryBytes, uint64_t seed) {
  CBigBuilder builder;
  for (uint32_t i = 0; i < count; ++i) {
    builder.Add(RulesEntryName(i, count), MakeRulesText(entryBytes, seed * 100003 + i));
  }
  return builder.Build();
}

std::string MakeReferencingRulesArchive(uint32_t count, size_t entryBytes, uint64_t seed) {
  CBigBuilder builder;
  CRandom random(seed);
  for (uint32_t i = 0; i < count; ++i) {
    const std::string text = MakeRulesText(entryBytes, seed * 100003 + i);
    const std::string own = "U" + std::to_string(i) + "_";
    std::string made;
    made.reserve(text.size() + text.size() / 8);
    // Headers name "Unit_N"; two of the sixteen value words become names.
    for (size_t at = 0; at < text.size();) {
      const std::string_view rest = std::string_view(text).substr(at);
      if (rest.starts_with("Unit_")) {
        made += own;
        at += 5;
      } else if (rest.starts_with("SM_Kestrel") || rest.starts_with("LightPlating")) {
        made += "U" + std::to_string(random.Below(count)) + "_" + std::to_string(random.Below(20));
        at += rest.starts_with("SM_Kestrel") ? 10 : 12;
      } else {
        made += text[at++];
      }
    }
    builder.Add(RulesEntryName(i, count), made);
  }
  return builder.Build();
}

#include "tools/demo/demo_archive.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "archive/big_writer.h"
#include "tools/demo/sample_media.h"

namespace {

// The entries, added in the order the code reads best in; the writer lays
// them out in name order.
struct CDemoEntries {
  CBigWriter writer;
  void Add(const std::string& name, const std::string& bytes) {
    writer.AddBytes(name, CDataBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())));
  }
};

// splitmix64: small, fast and the same on every platform, unlike the
// standard library's distributions.
class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  std::string Bytes(size_t count) {
    std::string out(count, '\0');
    for (char& c : out) c = static_cast<char>(Next());
    return out;
  }

 private:
  uint64_t m_state;
};

uint64_t Seed(std::string_view name) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
  return h;
}

void AppendLE32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void AppendLE16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value));
  out.push_back(static_cast<char>(value >> 8));
}

// Payloads that start the way such files do, then noise: a texture is
// whole, noise for pixels, so the editor draws it.
std::string Texture(const std::string& name) {
  CRandom random(Seed(name));
  const uint32_t side = 16u << random.Below(3);
  return MakeDds(side, side, "DXT1", 1, random.Bytes(size_t{side} * side / 2));
}

// A unit's icon: its side's colour in one of three shapes, outlined, over
// transparent corners, so the preview shows something to recognise. The
// side and the shape come from the name, as the sizes always have.
std::string Image(const std::string& name) {
  CRandom random(Seed(name));
  const uint32_t side = 16 + random.Below(3) * 8;
  const uint32_t shape = random.Below(3);
  static constexpr uint8_t kIronvale[3] = {60, 110, 210}, kSunmarsh[3] = {230, 140, 40},
                           kScrap[3] = {150, 150, 140};
  const uint8_t* const colour = name.find("_sm_") != std::string::npos   ? kSunmarsh
                                : name.find("_dc_") != std::string::npos ? kScrap
                                                                         : kIronvale;
  std::vector<uint8_t> rgba(size_t{side} * side * 4, 0);
  const double middle = (side - 1) / 2.0;
  for (uint32_t y = 0; y < side; ++y) {
    for (uint32_t x = 0; x < side; ++x) {
      const double dx = std::abs(x - middle) / middle, dy = std::abs(y - middle) / middle;
      const double reach = shape == 0   ? std::sqrt(dx * dx + dy * dy)
                           : shape == 1 ? dx + dy
                                        : std::max(dx, dy);
      if (reach > 1) continue;
      const bool edge = reach > 1 - 2.0 / middle;
      uint8_t* p = &rgba[(size_t{y} * side + x) * 4];
      for (int c = 0; c < 3; ++c)
        p[c] = edge ? static_cast<uint8_t>(colour[c] / 3)
                    : static_cast<uint8_t>(colour[c] + (255 - colour[c]) * (1 - reach) / 2);
      p[3] = 255;
    }
  }
  return MakeTga(side, side, rgba);
}

// A picture for the eye: a disc fading out over the checkerboard behind it.
std::vector<uint8_t> Banner(uint32_t side) {
  std::vector<uint8_t> rgba(size_t{side} * side * 4);
  const double middle = (side - 1) / 2.0;
  for (uint32_t y = 0; y < side; ++y) {
    for (uint32_t x = 0; x < side; ++x) {
      const double dx = x - middle, dy = y - middle;
      const double r = std::sqrt(dx * dx + dy * dy) / middle;
      uint8_t* p = &rgba[(size_t{y} * side + x) * 4];
      p[0] = static_cast<uint8_t>(40 + 200 * x / side);
      p[1] = static_cast<uint8_t>(120 + 100 * y / side);
      p[2] = 200;
      p[3] = static_cast<uint8_t>(r >= 1 ? 0 : 255 * (1 - r * r));
    }
  }
  return rgba;
}

std::string Sound(const std::string& name) {
  CRandom random(Seed(name));
  const std::string samples = random.Bytes(2 * (200 + random.Below(1200)));
  std::string out = "RIFF";
  AppendLE32(out, static_cast<uint32_t>(36 + samples.size()));
  out += "WAVEfmt ";
  AppendLE32(out, 16);
  AppendLE16(out, 1);      // PCM
  AppendLE16(out, 1);      // mono
  AppendLE32(out, 22050);  // samples per second
  AppendLE32(out, 44100);  // bytes per second
  AppendLE16(out, 2);
  AppendLE16(out, 16);
  out += "data";
  AppendLE32(out, static_cast<uint32_t>(samples.size()));
  return out + samples;
}

std::string Music(const std::string& name) {
  CRandom random(Seed(name));
  return "OggS" + std::string(1, '\0') + std::string(1, '\x02') +
         random.Bytes(3000 + random.Below(2000));
}

std::string Mesh(const std::string& name) {
  CRandom random(Seed(name));
  std::string out = "TMSH";
  AppendLE32(out, 3);  // format version of this made-up mesh file
  const uint32_t vertices = 24 + random.Below(200);
  AppendLE32(out, vertices);
  out += name + '\0';
  out += random.Bytes(vertices * 12);
  return out;
}

std::string Lines(const std::vector<std::string>& lines, bool crlf) {
  std::string out;
  for (const std::string& line : lines) out += line + (crlf ? "\r\n" : "\n");
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const char* const kUnits[] = {
    "iv_marten_scout",    "iv_basalt_tank",   "iv_quarry_crane",  "iv_thistle_rifleman",
    "iv_warden_engineer", "iv_heron_gunship", "iv_foundry",       "iv_lantern_radar",
    "iv_bulwark_wall",    "iv_command_hall",  "iv_power_station", "iv_barracks",
    "iv_armory",          "iv_airfield",      "sm_cinder_lancer", "sm_kestrel_interceptor",
    "sm_solar_spire",     "sm_glimmer_skiff", "sm_dune_strider",  "sm_heartstone",
    "sm_observatory",     "sm_shaper",        "dc_scrap_runner",  "dc_tinker_rig",
};

const char* const kTerrains[] = {
    "sand_flat_01", "sand_flat_02", "sand_ripple",  "salt_crust",    "salt_cracked",
    "grass_dry_01", "grass_dry_02", "grass_lush",   "rock_cliff_01", "rock_cliff_02",
    "rock_rubble",  "ash_field",    "ember_ground", "glass_shard",   "glass_smooth",
    "road_asphalt", "road_dirt",    "mud_wet",      "snow_thin",     "water_shallow",
};

const char* const kSounds[] = {
    "iv_repeater_01",     "iv_repeater_02",     "iv_repeater_03",       "iv_cannon_01",
    "iv_cannon_02",       "crash_big_01",       "sm_lance_charge_loop", "sm_photon_01",
    "explosion_small_01", "explosion_small_02", "explosion_large_01",   "building_collapse_01",
    "ui_click",           "ui_error",           "ui_cash_in",           "ui_cash_out",
    "ambient_wind_01",    "ambient_surf_01",    "ambient_birds_01",     "basalt_engine_idle",
};

const char* const kMaps[] = {"Glassreef",      "Saltpan",      "Emberwood",     "IV01_Landfall",
                             "IV02_Ridgeline", "IV03_Foundry", "SM01_Daybreak", "Tidewater"};

// A map's own rules: the objects placed on it. Small, but rules text all the same.
std::string MapRules(const std::string& map, CRandom& random) {
  std::vector<std::string> lines = {"; Objects placed on " + map + ". Written by the map editor.",
                                    ""};
  const int count = 2 + static_cast<int>(random.Below(4));
  for (int i = 0; i < count; ++i) {
    lines.push_back("MapObject " + map + "_Marker" + std::to_string(i));
    lines.push_back("  Position = X:" + std::to_string(random.Below(2000)) +
                    " Y:" + std::to_string(random.Below(2000)));
    lines.push_back("  Angle = " + std::to_string(random.Below(360)));
    lines.push_back("  Owner = " + std::string(i % 2 ? "PlayerNeutral" : "Player1"));
    lines.push_back("End");
    lines.push_back("");
  }
  return Lines(lines, random.Below(2) == 0);
}

// What each unit, terrain and sound brings: art and voices.
void AddUnitsAndSounds(CDemoEntries& builder) {
  for (const char* unit : kUnits) {
    const std::string base = unit;
    for (const char* layer : {"_diffuse", "_normal", "_team"}) {
      const std::string name = "Art\\Textures\\Units\\" + base + layer + ".dds";
      builder.Add(name, Texture(name));
    }
    builder.Add("Art\\Meshes\\" + base + ".msh", Mesh(base));
    builder.Add("Art\\Meshes\\" + base + "_wreck.msh", Mesh(base + "_wreck"));
    builder.Add("Art\\Interface\\icon_" + base + ".tga", Image("icon_" + base));
    for (const char* line : {"_select_01", "_select_02", "_move_01"}) {
      const std::string name = "Audio\\Voices\\" + base + line + ".wav";
      builder.Add(name, Sound(name));
    }
  }
  for (const char* terrain : kTerrains) {
    const std::string name = std::string("Art\\Textures\\Terrain\\") + terrain + ".dds";
    builder.Add(name, Texture(name));
  }
  for (const char* sound : kSounds) {
    const std::string name = std::string("Audio\\Sounds\\") + sound + ".wav";
    builder.Add(name, Sound(name));
  }
  for (const char* track : {"music_ironvale_theme", "music_sunmarch_theme", "music_menu"})
    builder.Add(std::string("Audio\\Music\\") + track + ".ogg", Music(track));
}

// The maps and the other texts, and what the previews show a new user.
void AddGenerated(CDemoEntries& builder) {
  AddUnitsAndSounds(builder);
  for (const char* map : kMaps) {
    const std::string folder = std::string("Maps\\") + map + "\\";
    CRandom random(Seed(map));
    // A version word after the signature, as binary formats have: its zero
    // bytes keep a map's random body from reading as rules text.
    const std::string version("\x01\0\0\0", 4);
    builder.Add(folder + map + ".map", "TMAP" + version + random.Bytes(800 + random.Below(2000)));
    builder.Add(folder + map + ".mmx", "TMMX" + version + random.Bytes(100 + random.Below(300)));
    builder.Add(folder + map + "_preview.tga", Image(folder + map));
    builder.Add(folder + "map.ini", MapRules(map, random));
  }
  builder.Add(
      "Data\\Text\\English.txt",
      Lines({"UNIT:IV_MartenScout = \"Marten Scout\"", "UNIT:IV_BasaltTank = \"Basalt Tank\"",
             "UNIT:IV_HeronGunship = \"Heron Gunship\"", "UNIT:SM_CinderLancer = \"Cinder Lancer\"",
             "FACTION:Ironvale = \"Ironvale Compact\"",
             "FACTION:Sunmarch = \"Sunmarch Collective\"", "FACTION:DriftClans = \"Drift Clans\""},
            true));
  builder.Add("Data\\Text\\Credits.txt",
              Lines({"Tarn Editor demo data", "Everything here is made up."}, false));
  // Each script with a first line of its own: text like this reads as a
  // block of its first line's words, and four alike were a duplicate that
  // tarn lint reported beside the one the demo means to show.
  const struct {
    const char* name;
    const char* first;
    const char* second;
  } scripts[] = {
      {"ai_skirmish_easy", "when cash > 2000 build IV_Foundry", "when idle attack nearest"},
      {"ai_skirmish_normal", "when power < 20 build IV_PowerStation", "when idle attack weakest"},
      {"ai_skirmish_hard", "when army > 12 attack base", "when idle scout nearest"},
      {"ai_tutorial", "when tutorial starts say welcome", "when idle wait 30"},
  };
  for (const auto& script : scripts)
    builder.Add(std::string("Data\\Scripts\\") + script.name + ".txt",
                Lines({"; " + std::string(script.name), script.first, script.second}, false));
  for (const char* shader : {"terrain", "water", "unit_team", "glow", "shadow", "particle"})
    builder.Add(
        std::string("Shaders\\") + shader + ".fx",
        Lines({"// " + std::string(shader) + " shader", "float4 main() : COLOR { return 1; }"},
              false));
  // A picture with alpha, a texture with mipmaps and a tone: what the
  // editor's previews show a new user.
  builder.Add("Art\\Interface\\demo_banner.tga", MakeTga(96, 96, Banner(96)));
  builder.Add("Art\\Textures\\demo_gradient.dds", MakeDxt5Picture(128));
  builder.Add("Audio\\Sounds\\demo_chime.wav", MakeWav(22050, 33516));
  // Empty entries happen in real archives: placeholders nobody filled in.
  builder.Add("Data\\INI\\Default\\Empty.ini", "");
  builder.Add("Art\\Textures\\placeholder.dds", "");
  builder.Add("Readme.txt",
              Lines({"Demo archive of Tarn Editor.", "Open Data\\INI to see rules texts."}, true));
}

}  // namespace

CStatus WriteDemoArchive(const std::string& textFolder, const std::string& path) {
  CDemoEntries builder;
  const std::string list = ReadText(textFolder + "/entries.txt");
  size_t from = 0;
  while (from < list.size()) {
    size_t end = list.find('\n', from);
    if (end == std::string::npos) end = list.size();
    const std::string line = list.substr(from, end - from);
    from = end + 1;
    if (line.empty() || line[0] == ';') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) throw std::runtime_error("entries.txt: no tab in '" + line + "'");
    builder.Add(line.substr(tab + 1), ReadText(textFolder + "/" + line.substr(0, tab)));
  }
  AddGenerated(builder);
  return builder.writer.Write(path, nullptr);
}

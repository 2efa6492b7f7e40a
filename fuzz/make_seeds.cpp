// Writes the seed corpora of the fuzz targets into a work folder:
//   make_seeds FOLDER   ->  FOLDER/archive, FOLDER/rules, FOLDER/names, FOLDER/search,
//                           FOLDER/dds
// Every seed is made here: small rules texts written for this project, and
// archives built from them with the test archive builder, valid ones and one
// of each defect the reader must refuse or cut short.
#include <sys/stat.h>

#include <cstdio>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/big_builder.h"
#include "tools/demo/sample_media.h"

namespace {

const char* const kRulesTexts[] = {
    // An object with nested draw, body and behaviour blocks.
    "; Light scout vehicle\r\n"
    "Object ScoutBuggy\r\n"
    "  DisplayName = OBJECT:ScoutBuggy\r\n"
    "  Side = Northern\r\n"
    "  BuildCost = 450\r\n"
    "  Draw = ModelDraw ModuleTag_01\r\n"
    "    DefaultConditionState\r\n"
    "      Model = buggy_hull\r\n"
    "      Turret = turret_a\r\n"
    "    End\r\n"
    "    ConditionState = REALLYDAMAGED\r\n"
    "      Model = buggy_wreck\r\n"
    "    End\r\n"
    "  End\r\n"
    "  Body = ActiveBody ModuleTag_02\r\n"
    "    MaxHealth = 180.0\r\n"
    "  End\r\n"
    "  Behavior = PhysicsBehavior ModuleTag_03\r\n"
    "    Mass = 25.0 ; light\r\n"
    "  End\r\n"
    "  WeaponSet\r\n"
    "    Conditions = None\r\n"
    "    Weapon = PRIMARY ScoutGun\r\n"
    "  End\r\n"
    "  Prerequisites\r\n"
    "    Object = SupplyDepot\r\n"
    "  End\r\n"
    "End\r\n",
    // Weapons, LF line ends, equals signs and quotes inside values.
    "Weapon ScoutGun\n"
    "  PrimaryDamage = 12.0\n"
    "  AttackRange\t= 150\n"
    "  FireFX = \"FX_Gun;Muzzle\"\n"
    "  DamageType = ARMOR_PIERCING\n"
    "End\n"
    "Weapon HeavyCannon\n"
    "  PrimaryDamage = 80.0\n"
    "  Formula = a=b=c\n"
    "END\n",
    // Locomotors, CR-only line ends, a one-word header, a repeated block.
    "Locomotor WheelLoco\r"
    "  Surfaces = GROUND\r"
    "  Speed = 40\r"
    "End\r"
    "Settings\r"
    "  Gravity 9.8\r"
    "End\r"
    "Locomotor WheelLoco\r"
    "  TurnRate = 90\r"
    "end\r",
    // Odd corners: a header of three words, End followed by text, a key
    // with a tab inside, an empty key, a block keyword used as a plain key.
    "Object A B C\n"
    "  Key\tWith Tab = 1\n"
    "  = nameless\n"
    "  Prerequisites\n"
    "    Object = Inner\n"
    "      Nested = yes\n"
    "    End Trailing = 2\n"
    "  End\n"
    "End More\n"
    "  Line = 3\n"
    "End\n",
    // A block left open at the end of the data.
    "SideInfo North\n  Draw = X\n    Body = Y\n      ParticleSystem\n        Size = 3",
    // Only white space and comments.
    "   ; nothing here\n\t\r\n;;\n",
};

const char* const kNames[] = {
    "Data\\INI\\Object\\ScoutBuggy.ini",
    "maps\\Lake Crossing\\Lake Crossing.mmx",
    ".hidden",
    "dir.x\\readme",
    "a/b:c.d.e",
    "trailing\\",
    "",
    "abcde",
    "123456789",
};

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> Archives() {
  const std::string object = kRulesTexts[0];
  const std::string weapon = kRulesTexts[1];
  const std::string loco = kRulesTexts[2];
  std::vector<std::string> out;
  const auto valid = [&] {
    CBigBuilder b;
    b.Add("Data\\INI\\Object\\Buggy.ini", object)
        .Add("Data\\INI\\Weapon.ini", weapon)
        .Add("Data\\INI\\Locomotor.ini", loco)
        .Add("Data\\INI\\Odd.ini", kRulesTexts[3]);
    return b;
  };
  out.push_back(valid().Build());
  out.push_back(CBigBuilder().Build());  // 16 bytes, no entries
  out.push_back(valid().Magic("BIGE").Build());
  out.push_back(valid().ArchiveSizeBigEndian().Build());
  out.push_back(valid().Count(0x80000001u).Build());
  out.push_back(valid().HeaderSize(15).Build());
  out.push_back(valid().HeaderSize(0x00100000u).Build());
  out.push_back(valid().Count(5).Build());
  out.push_back(
      CBigBuilder().Add("a", "x").Add("unterminated", "y").UnterminatedLastName().Build());
  out.push_back(CBigBuilder()
                    .Add("same.ini", weapon)
                    .Add("Same.ini", loco)
                    .Add("same.ini", object)
                    .Add("same", "")
                    .Add("", "empty name")
                    .Build());
  out.push_back(CBigBuilder()
                    .Add("inside.ini", weapon)
                    .AddRecord("past.ini", 40, 0x7FFFFFF0u)
                    .AddRecord("beyond.ini", 0xFFFFFFF0u, 0x20)
                    .AddRecord("top.ini", 0x80000000u, 4)
                    .Build());
  out.push_back(valid().IndexPadding(32).Trailer("trailing bytes").Build());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const std::string root = argv[1];
  for (const char* sub : {"", "/archive", "/rules", "/names", "/search", "/dds"})
    ::mkdir((root + sub).c_str(), 0755);

  int n = 0;
  for (const std::string& archive : Archives())
    WriteFile(root + "/archive/seed-" + std::to_string(n++) + ".big", archive);
  n = 0;
  for (const char* text : kRulesTexts)
    WriteFile(root + "/rules/seed-" + std::to_string(n++) + ".ini", text);
  // A search: a byte for the pattern's length (and, in its top bit,
  // ignoring case), the pattern, then a rules text.
  n = 0;
  for (const char* text : kRulesTexts) {
    for (const char* pattern : {"End", "e", "Object", "= 1"}) {
      const std::string_view p(pattern);
      for (const bool fold : {false, true}) {
        std::string seed(1, static_cast<char>((p.size() - 1) | (fold ? 0x80 : 0)));
        (seed += p) += text;
        WriteFile(root + "/search/seed-" + std::to_string(n++), seed);
      }
    }
  }
  n = 0;
  for (const char* name : kNames) {
    for (const uint32_t type : {1u, 2u, 5u, 7u, 0xFFFFFFFFu}) {
      std::string seed(4, '\0');
      PutLE32(seed, 0, type);
      seed += name;
      WriteFile(root + "/names/seed-" + std::to_string(n++), seed);
    }
  }
  // Textures of each encoding, cut short and overstated, and a sound.
  n = 0;
  const std::string block(16, '\x55');
  for (const std::string& seed :
       {MakeDds(4, 4, "DXT1", 1, block.substr(0, 8)), MakeDds(8, 4, "DXT3", 1, block + block),
        MakeDds(5, 5, "DXT5", 2, block + block + block + block + block),
        MakeDds(2, 2, "", 1, block), MakeDxt5Picture(16), MakeDds(65535, 65535, "DXT1", 1, block),
        MakeDds(16, 16, "DXT5", 1, block), MakeWav(8000, 16),
        MakeTga(2, 2, std::vector<uint8_t>(16, 0x7F))})
    WriteFile(root + "/dds/seed-" + std::to_string(n++), seed);
  return 0;
}

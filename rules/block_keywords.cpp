#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "rules/rules_parser.h"

namespace {

// In ascending byte order ("FXListAtBonePos" before "FireWeapon"), which
// keeps the list easy to check by eye; the lookup goes by length below.
constexpr std::array<std::string_view, 48> kBlockKeywords = {
    "AnimatingPart", "ApplyRandomForce", "ArmorSet", "Attack",
    "AttackContinueAreaRadiusCursor", "AttackDamageAreaRadiusCursor",
    "AttackScatterAreaRadiusCursor", "Behavior", "Body", "ConditionState", "CreateDebris",
    "CreateObject", "DefaultConditionState", "DeliverPayload", "DeliveryDecal", "Draw",
    "DynamicGameLOD", "EvaEvent", "FXListAtBonePos", "FireWeapon",
    "FriendlySpecialPowerRadiusCursor", "GameData", "GuardAreaRadiusCursor", "ImagePart",
    "LightPulse", "Locomotor", "Mission", "Object", "OffensiveSpecialPowerRadiusCursor",
    "ParticleSystem", "Prerequisites", "SideInfo", "SideSounds", "SkillSet1", "SkillSet2",
    "SkillSet3", "SkillSet4", "SkillSet5", "SkirmishBuildList", "Sound", "StaticGameLOD",
    "Structure", "TerrainScorch", "Tracer", "TransitionState", "UnitSpecificSounds",
    "ViewShake", "WeaponSet"};

static_assert(std::is_sorted(kBlockKeywords.begin(), kBlockKeywords.end()));

constexpr size_t kLongest =
    std::max_element(kBlockKeywords.begin(), kBlockKeywords.end(),
                     [](auto a, auto b) { return a.size() < b.size(); })->size();

// The keywords grouped by length: a key is compared only with the few of its
// own length, first byte first. Every key of a block is looked up, so this
// is on the parser's hot path.
constexpr size_t kMostOfOneLength = 12;
struct LengthBuckets {
  uint8_t count[kLongest + 1] = {};
  uint8_t index[kLongest + 1][kMostOfOneLength] = {};
  constexpr LengthBuckets() {
    for (size_t i = 0; i < kBlockKeywords.size(); ++i) {
      const size_t length = kBlockKeywords[i].size();
      index[length][count[length]++] = static_cast<uint8_t>(i);
    }
  }
};
constexpr LengthBuckets kByLength;

}  // namespace

bool IsBlockKeyword(std::string_view key) {
  if (key.size() > kLongest) return false;
  const size_t length = key.size();
  for (uint8_t k = 0; k < kByLength.count[length]; ++k) {
    const std::string_view keyword = kBlockKeywords[kByLength.index[length][k]];
    if (keyword[0] == key[0] && keyword == key) return true;
  }
  return false;
}

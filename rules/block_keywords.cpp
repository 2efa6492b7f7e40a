#include <algorithm>
#include <array>
#include <string_view>

#include "rules/rules_parser.h"

namespace {

// In ascending byte order ("FXListAtBonePos" before "FireWeapon"), so the
// lookup can be a binary search.
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

constexpr size_t kShortest =
    std::min_element(kBlockKeywords.begin(), kBlockKeywords.end(),
                     [](auto a, auto b) { return a.size() < b.size(); })->size();
constexpr size_t kLongest =
    std::max_element(kBlockKeywords.begin(), kBlockKeywords.end(),
                     [](auto a, auto b) { return a.size() < b.size(); })->size();

}  // namespace

bool IsBlockKeyword(std::string_view key) {
  // Most keys of a rules text are rejected by their length alone.
  if (key.size() < kShortest || key.size() > kLongest) return false;
  return std::binary_search(kBlockKeywords.begin(), kBlockKeywords.end(), key);
}

// The 48 keys that open a nested block, looked up by a hash that has no
// collisions among them: one multiply picks the only keyword a key can be,
// and one comparison tells. The parser looks up the key of every line, so
// this is on its hot path.
#pragma once

#ifndef TARN_INSIDE_RULES
#error "rules/block_keywords.h is internal to the rules library"
#endif

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace block_keywords {

// In ascending byte order ("FXListAtBonePos" before "FireWeapon").
inline constexpr std::array<std::string_view, 48> kKeywords = {"AnimatingPart",
                                                               "ApplyRandomForce",
                                                               "ArmorSet",
                                                               "Attack",
                                                               "AttackContinueAreaRadiusCursor",
                                                               "AttackDamageAreaRadiusCursor",
                                                               "AttackScatterAreaRadiusCursor",
                                                               "Behavior",
                                                               "Body",
                                                               "ConditionState",
                                                               "CreateDebris",
                                                               "CreateObject",
                                                               "DefaultConditionState",
                                                               "DeliverPayload",
                                                               "DeliveryDecal",
                                                               "Draw",
                                                               "DynamicGameLOD",
                                                               "EvaEvent",
                                                               "FXListAtBonePos",
                                                               "FireWeapon",
                                                               "FriendlySpecialPowerRadiusCursor",
                                                               "GameData",
                                                               "GuardAreaRadiusCursor",
                                                               "ImagePart",
                                                               "LightPulse",
                                                               "Locomotor",
                                                               "Mission",
                                                               "Object",
                                                               "OffensiveSpecialPowerRadiusCursor",
                                                               "ParticleSystem",
                                                               "Prerequisites",
                                                               "SideInfo",
                                                               "SideSounds",
                                                               "SkillSet1",
                                                               "SkillSet2",
                                                               "SkillSet3",
                                                               "SkillSet4",
                                                               "SkillSet5",
                                                               "SkirmishBuildList",
                                                               "Sound",
                                                               "StaticGameLOD",
                                                               "Structure",
                                                               "TerrainScorch",
                                                               "Tracer",
                                                               "TransitionState",
                                                               "UnitSpecificSounds",
                                                               "ViewShake",
                                                               "WeaponSet"};

// Derived from the table, so an added keyword can never fall outside the
// quick length test in IsKeywordWithSlack.
inline constexpr size_t kShortest = [] {
  size_t shortest = kKeywords[0].size();
  for (std::string_view keyword : kKeywords)
    shortest = keyword.size() < shortest ? keyword.size() : shortest;
  return shortest;
}();
inline constexpr size_t kLongest = [] {
  size_t longest = 0;
  for (std::string_view keyword : kKeywords)
    longest = keyword.size() > longest ? keyword.size() : longest;
  return longest;
}();
// The slot table keeps a keyword's length in a byte.
static_assert(kLongest < 256);
inline constexpr int kSlotBits = 7;
// Found by search: with it the 48 keywords land in 48 different slots of 128
// (the static_assert below checks it whenever the table changes).
inline constexpr uint64_t kMultiplier = 0x5e1ecedf5ed71fa5u;

// The first eight bytes of a key (fewer when it is shorter, zero-filled), as
// a little-endian number.
constexpr uint64_t HeadWord(std::string_view key) {
  uint64_t word = 0;
  for (size_t i = 0; i < key.size() && i < 8; ++i)
    word |= uint64_t{static_cast<uint8_t>(key[i])} << (8 * i);
  return word;
}

// The head word mixed with the last byte and the length: "SkillSet1" to
// "SkillSet5" differ only in their last byte.
constexpr size_t Slot(uint64_t head, uint8_t last, size_t size) {
  const uint64_t x = head ^ last ^ (uint64_t{size} << 56);
  return static_cast<size_t>((x * kMultiplier) >> (64 - kSlotBits));
}

// A first test that turns most keys away before the hash is worked out: one
// bit of 1,024 per keyword, picked by its first two bytes, its last byte and
// its length. About one key in twenty that is not a keyword gets past it.
inline constexpr int kFilterBits = 10;
inline constexpr uint32_t kFilterMultiplier = 0x9E3779B1u;

constexpr size_t FilterBit(uint8_t first, uint8_t second, uint8_t last, size_t size) {
  const uint32_t x =
      first | uint32_t{second} << 8 | uint32_t{last} << 16 | static_cast<uint32_t>(size) << 24;
  return static_cast<size_t>((x * kFilterMultiplier) >> (32 - kFilterBits));
}

struct CFilter {
  std::array<uint64_t, (size_t{1} << kFilterBits) / 64> words{};
  constexpr CFilter() {
    for (std::string_view keyword : kKeywords) {
      const size_t bit =
          FilterBit(static_cast<uint8_t>(keyword[0]), static_cast<uint8_t>(keyword[1]),
                    static_cast<uint8_t>(keyword.back()), keyword.size());
      words[bit / 64] |= uint64_t{1} << (bit % 64);
    }
  }
};
inline constexpr CFilter kFilter;

struct CSlot {
  uint64_t head = 0;
  uint8_t size = 0;  // 0: no keyword here
  const char* text = nullptr;
};

struct CTable {
  std::array<CSlot, size_t{1} << kSlotBits> slots{};
  bool collisionFree = true;
  constexpr CTable() {
    for (std::string_view keyword : kKeywords) {
      CSlot& slot =
          slots[Slot(HeadWord(keyword), static_cast<uint8_t>(keyword.back()), keyword.size())];
      if (slot.size != 0) collisionFree = false;
      slot = {HeadWord(keyword), static_cast<uint8_t>(keyword.size()), keyword.data()};
    }
  }
};
inline constexpr CTable kTable;
static_assert(kTable.collisionFree,
              "two block keywords share a slot: search for another multiplier");

// REQUIRES: the 8 bytes from key are readable, whatever size is.
inline bool IsKeywordWithSlack(const char* key, size_t size) {
  if (size - kShortest > kLongest - kShortest) return false;
  const size_t bit = FilterBit(static_cast<uint8_t>(key[0]), static_cast<uint8_t>(key[1]),
                               static_cast<uint8_t>(key[size - 1]), size);
  if ((kFilter.words[bit / 64] >> (bit % 64) & 1) == 0) return false;
  uint64_t head;
  std::memcpy(&head, key, sizeof head);
  if constexpr (std::endian::native != std::endian::little)
    head = HeadWord({key, size < 8 ? size : 8});
  if (size < 8) head &= (uint64_t{1} << (8 * size)) - 1;
  const CSlot& slot = kTable.slots[Slot(head, static_cast<uint8_t>(key[size - 1]), size)];
  return slot.head == head && slot.size == size &&
         (size <= 8 || std::memcmp(key + 8, slot.text + 8, size - 8) == 0);
}

}  // namespace block_keywords

#include "rules/block_keywords.h"

#include <algorithm>

#include "rules/rules_parser.h"

static_assert(std::is_sorted(block_keywords::kKeywords.begin(), block_keywords::kKeywords.end()));

bool IsBlockKeyword(std::string_view key) {
  // The fast lookup reads eight bytes whatever the key's size; a short key
  // is copied out first, so nothing past its end is read.
  if (key.size() >= 8) return block_keywords::IsKeywordWithSlack(key.data(), key.size());
  char head[8] = {};
  std::copy(key.begin(), key.end(), head);
  return block_keywords::IsKeywordWithSlack(head, key.size());
}

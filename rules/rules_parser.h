// Parser of rules text: INI-style blocks of key/value lines, nested blocks
// opened by a keyword key and closed by a line whose key is "End".
//
//   Object Tank            ; header: type word, block name
//     Speed = 30           ; key, optional '=', value
//     Draw = Model         ; a block keyword: opens a nested block
//       Scale 2
//     End
//   End
//
// Any byte sequence parses; there is no error path. All strings of the
// result are copies, so the blocks outlive the source bytes.
//
// Nesting depth is unbounded: parsing, copying and destroying the tree use
// explicit stacks, never the call stack, so a million open blocks cost heap
// memory only.
//
// Threading: none; each list view owns its own parser.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "storage/data_buffer.h"

class CRulesEntry {
 public:
  CRulesEntry() = default;
  CRulesEntry(std::string_view name, std::string_view value) : m_name(name), m_value(value) {}
  CRulesEntry(const CRulesEntry& other);
  CRulesEntry(CRulesEntry&& other) noexcept = default;
  CRulesEntry& operator=(const CRulesEntry& other);
  CRulesEntry& operator=(CRulesEntry&& other) noexcept;
  ~CRulesEntry();

  std::string m_name;
  std::string m_value;
  std::vector<CRulesEntry> m_children;
};

struct CRulesBlock {
  std::string m_type;  // empty after a one-word header
  CRulesEntry m_body;  // its children are the block's lines
};

class CRulesParser {
 public:
  // Byte-wise, case-sensitive block-name order.
  using Blocks = std::map<std::string, CRulesBlock, std::less<>>;

  void SetSource(const CDataBuffer& source);
  void Parse();
  const Blocks& GetBlocks() const { return m_blocks; }
  // Lines (entries at every depth) that the last Parse() appended; with the
  // block count it is the number of rows, so callers can size for them.
  size_t GetLineCount() const { return m_lineCount; }

  // Reads lines into parent's children until a line whose key is "End"
  // (false) or the end of the data (true).
  bool ParseBlockBody(CRulesEntry& parent);

 private:
  void SkipBlanks();
  void SkipSpaceAndComments();
  enum class Separators { Header, Key, Value };
  std::string_view ScanToken(Separators set);

  CDataBuffer m_buffer;
  const uint8_t* m_begin = nullptr;
  const uint8_t* m_position = nullptr;
  const uint8_t* m_end = nullptr;
  // A block's lines are first gathered flat, in text order, each with the
  // number of lines its own nested block holds; the entries are built from
  // them when the block closes, so every child list is allocated once at its
  // final size and no entry is ever moved. The scratch lists keep their
  // capacity from block to block.
  struct CFlatLine {
    std::string_view name;
    std::string_view value;
    size_t children;
  };
  void BuildEntries(CRulesEntry& parent, size_t lines);

  Blocks m_blocks;
  size_t m_lineCount = 0;
  std::vector<CFlatLine> m_lines;
  std::vector<size_t> m_open;  // indexes in m_lines of the blocks still open
  struct CPendingList {
    std::vector<CRulesEntry>* list;
    size_t left;
  };
  std::vector<CPendingList> m_pending;
};

// True for the keys that open a nested block (exact, case-sensitive).
bool IsBlockKeyword(std::string_view key);

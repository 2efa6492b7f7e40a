// The references between the rules blocks of what a document's windows
// show: an index (CRulesIndex) built beside the window from a snapshot of
// the document's entries as shown, pending changes included, and built again
// after every change. While one is built the last one answers; a change
// during a build starts another once it ends, so the index that stays is
// always of what the window shows.
//
// Threading: made, asked and destroyed on the user-interface thread; the
// build runs on a thread of its own and hands its index over through the
// event loop. Destroying it waits for a build under way.
#pragma once

#include <memory>
#include <string_view>

#include "app/document/document_feature.h"
#include "app/document/reference_links.h"
#include "rules/rules_refs.h"

class CTarnEditorDoc;

class CRulesReferences : public CReferenceLinks, public CDocumentFeature {
  Q_OBJECT

 public:
  explicit CRulesReferences(CTarnEditorDoc& document);
  ~CRulesReferences() override;

  void OnShownChanged() override;

  // The last index built; null before the first is.
  const CRulesIndex* GetIndex() const;
  // Whether a build is under way (its index not yet handed over).
  bool IsBuilding() const { return m_running != nullptr; }

  bool IsDefined(std::string_view token) const override;
  std::string DefiningEntry(std::string_view name) const override;
  QString DefinitionPreview(std::string_view name) const override;
  QStringList Completions(std::string_view key) const override;

 private:
  struct CBuild;
  void Start();
  void OnBuilt(const CBuild* build);

  CTarnEditorDoc& m_document;
  std::unique_ptr<CBuild> m_ready;    // the index answering
  std::unique_ptr<CBuild> m_running;  // the one being built
  bool m_again = false;               // what is shown changed during the build
};

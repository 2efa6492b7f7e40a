// The references between the rules blocks of what a document's windows
// show: an index (CRulesIndex) built beside the window from a snapshot of
// the document's entries as shown, pending changes included, and built again
// after every change. While one is built the last one answers; a change
// during a build starts another once it ends, so the index that stays is
// always of what the window shows.
//
// Threading: made, asked and destroyed on the user-interface thread; the
// build, and the completions of a key, each run on a thread of their own
// and hand what they made over through the event loop. Destroying it
// waits for the work under way.
#pragma once

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
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
  void AskCompletions(std::string_view key, QObject* receiver,
                      std::function<void(const QStringList&)> deliver) override;

 private:
  struct CBuild;
  struct CCompleting;
  struct CAsked {
    std::string key;
    QPointer<QObject> receiver;
    std::function<void(const QStringList&)> deliver;
  };
  void Start();
  void OnBuilt(const CBuild* build);
  void StartCompleting();
  void OnCompleted();

  CTarnEditorDoc& m_document;
  // The index answering; shared with the completions read from it.
  std::shared_ptr<const CBuild> m_ready;
  std::unique_ptr<CBuild> m_running;  // the one being built
  bool m_again = false;               // what is shown changed during the build
  std::unique_ptr<CCompleting> m_completing;
  std::optional<CAsked> m_asked;  // the question being or to be answered
  // The last answer, and of which index: F2 on rows of one key asks again.
  std::shared_ptr<const CBuild> m_answeredOf;
  std::string m_answeredKey;
  QStringList m_answer;
};

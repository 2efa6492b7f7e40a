#include "app/refs/rules_references.h"

#include <QMetaObject>

#include <new>
#include <vector>

#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/refs/reference_places.h"
#include "archive/shown_archive.h"
#include "threads/run_beside.h"

struct CRulesReferences::CBuild {
  std::shared_ptr<const CShownSnapshot> snapshot;  // keeps the bytes the index views
  CRulesIndex index;
  bool failed = false;
  CBeside beside;  // last: joined before the members it uses go

  // Every entry shown, as the index reads it: pending bytes for a changed
  // or added one, the opened ones' from the mapping. An archive that could
  // not be mapped gives its pending entries only.
  void Run() {
    try {
      std::vector<CRulesSource> sources;
      const CEntryMap& opened = snapshot->Opened();
      snapshot->ForEach([&](std::string_view name, std::optional<size_t> position,
                            const CChangeSet::CChange* change) {
        if (change != nullptr) {
          if (!change->removed) sources.push_back({name, change->bytes.View(), 0});
        } else if (position && opened.IsMapped()) {
          sources.push_back({name, opened.BytesAt(*position), 0});
        }
      });
      index.Build(std::move(sources));
    } catch (const std::bad_alloc&) {
      index = CRulesIndex();
      failed = true;
    }
  }
};

CRulesReferences::CRulesReferences(CTarnEditorDoc& document) : m_document(document) {}

CRulesReferences::~CRulesReferences() {
  // Waits for a build under way while this object can still be posted to.
  m_running.reset();
}

void CRulesReferences::OnShownChanged() {
  if (m_running != nullptr) {
    m_again = true;
    return;
  }
  Start();
}

void CRulesReferences::Start() {
  const CShownArchive& shown = m_document.Shown();
  // Bytes another program rewrote in place are not what was opened; the
  // last index stays until the document reloads.
  if (shown.IsOpenedFile() && !shown.OpenedBytesIntact()) return;
  auto build = std::make_unique<CBuild>();
  build->snapshot = shown.Snapshot();
  const CBuild* started = build.get();
  const std::error_code refused = build->beside.Start([this, started, work = build.get()] {
    work->Run();
    QMetaObject::invokeMethod(
        this, [this, started] { OnBuilt(started); }, Qt::QueuedConnection);
  });
  if (refused) {
    ShowStatusText(QStringLiteral("Cannot index the references: %1")
                       .arg(QString::fromLocal8Bit(refused.message().c_str())));
    return;
  }
  m_running = std::move(build);
}

void CRulesReferences::OnBuilt(const CBuild* build) {
  if (build != m_running.get()) return;
  m_running->beside.Join();
  if (m_running->failed) {
    ShowStatusText(QStringLiteral("Not enough memory to index the references"));
    m_running.reset();
  } else {
    m_ready = std::move(m_running);
  }
  if (m_again) {
    m_again = false;
    Start();
  }
  emit rebuilt();
}

const CRulesIndex* CRulesReferences::GetIndex() const {
  return m_ready != nullptr ? &m_ready->index : nullptr;
}

bool CRulesReferences::IsDefined(std::string_view token) const {
  return m_ready != nullptr && m_ready->index.IsDefined(token);
}

std::string CRulesReferences::DefiningEntry(std::string_view name) const {
  if (m_ready == nullptr) return {};
  const std::vector<const CRulesDefinition*> definitions = m_ready->index.DefinitionsOf(name);
  if (definitions.empty()) return {};
  return std::string(m_ready->index.Sources()[definitions.front()->entry].name);
}

QString CRulesReferences::DefinitionPreview(std::string_view name) const {
  return m_ready != nullptr ? ::DefinitionPreview(m_ready->index, name) : QString();
}

QStringList CRulesReferences::Completions(std::string_view key) const {
  return m_ready != nullptr ? CompletionsOf(m_ready->index, key) : QStringList();
}

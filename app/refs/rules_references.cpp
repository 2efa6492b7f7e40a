#include "app/refs/rules_references.h"

#include <QMetaObject>

#include <new>
#include <utility>
#include <vector>

#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/refs/reference_places.h"
#include "archive/shown_archive.h"
#include "storage/platform.h"
#include "threads/run_beside.h"

struct CRulesReferences::CBuild {
  std::shared_ptr<const CShownSnapshot> snapshot;  // keeps the bytes the index views
  CRulesIndex index;
  bool failed = false;
  bool tooManyNames = false;  // failed so: a hostile archive, not memory
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
    } catch (const std::bad_alloc& refused) {
      index = CRulesIndex();
      failed = true;
      tooManyNames = dynamic_cast<const CTooManyNames*>(&refused) != nullptr;
    }
  }
};

struct CRulesReferences::CCompleting {
  std::shared_ptr<const CBuild> build;
  std::string key;
  QStringList values;
  CBeside beside;  // last: joined before the members it uses go
};

CRulesReferences::CRulesReferences(CTarnEditorDoc& document) : m_document(document) {}

CRulesReferences::~CRulesReferences() {
  // Waits for the work under way while this object can still be posted to.
  m_running.reset();
  m_completing.reset();
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
  if (!shown.ShownBytesIntact()) return;
  auto build = std::make_unique<CBuild>();
  build->snapshot = shown.Snapshot();
  const CBuild* started = build.get();
  const std::error_code refused = build->beside.Start([this, started, work = build.get()] {
    // An index of a large load order takes a while on both cores: a reorder
    // or a scroll meanwhile must not wait for it.
    platform::PutThreadBehind();
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
    ShowStatusText(m_running->tooManyNames
                       ? QStringLiteral("Too many different row names to index the references")
                       : QStringLiteral("Not enough memory to index the references"));
    m_running.reset();
  } else {
    m_ready = std::move(m_running);
    m_answeredOf.reset();  // lets the old index go
  }
  if (m_again) {
    m_again = false;
    Start();
  }
  // A question that came before there was an index to answer it.
  if (m_asked && m_completing == nullptr) StartCompleting();
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
  const CRulesDefinition* first = m_ready->index.FirstDefinitionOf(name);
  return first != nullptr ? std::string(m_ready->index.Sources()[first->entry].Name())
                          : std::string();
}

QString CRulesReferences::DefinitionPreview(std::string_view name) const {
  return m_ready != nullptr ? ::DefinitionPreview(m_ready->index, name) : QString();
}

void CRulesReferences::AskCompletions(std::string_view key, QObject* receiver,
                                      std::function<void(const QStringList&)> deliver) {
  if (m_ready != nullptr && m_answeredOf == m_ready && m_answeredKey == key) {
    deliver(m_answer);
    return;
  }
  m_asked = CAsked{std::string(key), receiver, std::move(deliver)};
  if (m_completing == nullptr) StartCompleting();
}

void CRulesReferences::StartCompleting() {
  if (m_ready == nullptr || !m_asked) return;
  auto job = std::make_unique<CCompleting>();
  job->build = m_ready;
  job->key = m_asked->key;
  const std::error_code refused = job->beside.Start([this, work = job.get()] {
    try {
      work->values = CompletionsOf(work->build->index, work->key);
    } catch (const std::bad_alloc&) {
      work->values.clear();  // none offered
    }
    QMetaObject::invokeMethod(
        this, [this] { OnCompleted(); }, Qt::QueuedConnection);
  });
  if (!refused) m_completing = std::move(job);
}

void CRulesReferences::OnCompleted() {
  if (m_completing == nullptr) return;
  m_completing->beside.Join();
  const std::unique_ptr<CCompleting> done = std::move(m_completing);
  m_answeredOf = done->build;
  m_answeredKey = done->key;
  m_answer = done->values;
  if (m_asked && m_asked->key == done->key) {
    const CAsked asked = *std::exchange(m_asked, std::nullopt);
    if (asked.receiver != nullptr) asked.deliver(m_answer);
  }
  // A question asked meanwhile of another key, or of an index built since.
  if (m_asked) StartCompleting();
}

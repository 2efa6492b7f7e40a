#include "app/preview/preview_pane.h"

#include <QApplication>
#include <QBuffer>
#include <QFontDatabase>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QSettings>

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "app/document/status_text.h"
#include "app/document/entry_hooks.h"
#include "app/document/entry_text.h"
#include "app/framework/command_ids.h"
#include "app/framework/splitter.h"
#include "app/framework/win_app.h"
#include "app/preview/hex_view.h"
#include "app/preview/image_view.h"
#include "app/preview/sound_player.h"
#include "app/document/tarn_editor_doc.h"
#include "archive/change_set.h"
#include "archive/shown_order.h"
#include "media/dds_reader.h"

namespace {

// More text than this is shown only in part: a text view lays out all it
// holds, and took seconds over tens of megabytes.
constexpr size_t kMostText = size_t{4} << 20;

const char* ModeWord(PreviewMode mode) {
  switch (mode) {
    case PreviewMode::Rules: return "rules";
    case PreviewMode::Text: return "text";
    case PreviewMode::Hex: return "hex";
    case PreviewMode::Image: return "image";
    case PreviewMode::Sound: break;
  }
  return "sound";
}

// The extension of an entry's name, lower case, or empty.
QString ExtensionOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  const size_t folder = name.find_last_of("\\/");
  if (dot == std::string_view::npos || (folder != std::string_view::npos && folder > dot))
    return QString();
  return BytesToText(name.substr(dot + 1)).toLower();
}

// The view the user chose for names with `extension`, if any.
std::optional<PreviewMode> KeptMode(const QString& extension) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr || extension.isEmpty()) return std::nullopt;
  const QString word = app->GetProfile()->value(QStringLiteral("Preview/") + extension).toString();
  for (PreviewMode mode : {PreviewMode::Rules, PreviewMode::Text, PreviewMode::Hex,
                           PreviewMode::Image, PreviewMode::Sound}) {
    if (word == QLatin1String(ModeWord(mode))) return mode;
  }
  return std::nullopt;
}

// `own`: the mode the entry's bytes and name choose, which leaves the
// extension's entries to choose each for itself again.
void KeepMode(const QString& extension, PreviewMode mode, PreviewMode own) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr || extension.isEmpty()) return;
  const QString key = QStringLiteral("Preview/") + extension;
  if (mode == own) app->GetProfile()->remove(key);
  else app->GetProfile()->setValue(key, QString::fromLatin1(ModeWord(mode)));
}

// An image over decoded pixels, which it frees when it goes.
QImage FromRgba(std::unique_ptr<CRgbaImage> decoded) {
  CRgbaImage* pixels = decoded.release();
  return QImage(
      pixels->pixels.data(), static_cast<int>(pixels->width), static_cast<int>(pixels->height),
      static_cast<qsizetype>(pixels->width) * 4, QImage::Format_RGBA8888,
      [](void* info) { delete static_cast<CRgbaImage*>(info); }, pixels);
}

// The picture in `bytes`: ours for DDS and TGA, Qt's readers for the rest.
// A null image, with `why`, when it cannot be read.
QImage ReadImage(std::string_view bytes, const CEntryFacts& facts, QString& why) {
  const std::string_view format(facts.image.format);
  if (format == "tga" && IsColourMappedTga(bytes)) {
    // Not damaged: only not drawn here.
    why = QStringLiteral("Colour-mapped TGA images are not drawn here");
    return QImage();
  }
  if (bytes.substr(0, 4) == "DDS " || format == "tga") {
    const bool dds = bytes.substr(0, 4) == "DDS ";
    CResult<CRgbaImage> decoded = dds ? DecodeDds(bytes) : DecodeTga(bytes);
    if (!decoded) {
      why = (dds ? QStringLiteral("Damaged DDS: ") : QStringLiteral("Damaged TGA: ")) +
            QString::fromStdString(decoded.GetStatus().GetWords());
      return QImage();
    }
    return FromRgba(std::make_unique<CRgbaImage>(std::move(*decoded)));
  }
  const QByteArray data =
      QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer device;
  device.setData(data);
  device.open(QIODevice::ReadOnly);
  QImageReader reader(&device, QByteArray(facts.image.format));
  // A header may claim more pixels than any entry holds: Qt refuses past
  // this many megabytes instead of allocating them.
  reader.setAllocationLimit(512);
  QImage image = reader.read();
  if (image.isNull()) why = QStringLiteral("Cannot read the image: ") + reader.errorString();
  return image;
}

// A sound's encoding in the facts' words: "PCM", "A-law", or for one known
// by its number alone, "encoding 85".
QString EncodingText(std::string_view encoding) {
  static constexpr std::pair<std::string_view, const char*> kWords[] = {
      {"pcm", "PCM"},    {"ima-adpcm", "IMA ADPCM"}, {"float", "float"},
      {"alaw", "A-law"}, {"mulaw", "µ-law"},
  };
  for (const auto& [word, text] : kWords)
    if (encoding == word) return QString::fromUtf8(text);
  constexpr std::string_view kNumbered = "format-";
  if (encoding.substr(0, kNumbered.size()) == kNumbered) encoding.remove_prefix(kNumbered.size());
  return QStringLiteral("encoding ") + BytesToText(encoding);
}

// A key of the pane's that works from anywhere under `splitter`, the tree
// beside the pane too; off until a view that takes it is shown.
QShortcut* WindowKey(const QKeySequence& keys, QWidget* splitter) {
  auto* key = new QShortcut(keys, splitter);
  key->setContext(Qt::WidgetWithChildrenShortcut);
  key->setEnabled(false);
  return key;
}

}  // namespace

class CPreviewPane::CUpdates : public CView {
 public:
  explicit CUpdates(CPreviewPane* pane) : m_pane(pane) {}
  QWidget* GetWidget() override { return m_pane; }
  void OnUpdate(int hint) override { m_pane->OnUpdate(hint); }

 private:
  CPreviewPane* m_pane;
};

QString ImageFactsText(const CImageFacts& image) {
  QString text = QStringLiteral("%1 × %2, ").arg(image.width).arg(image.height);
  if (QLatin1String(image.format) != QLatin1String("dds"))
    return text + QString::fromLatin1(image.format).toUpper() +
           QStringLiteral(", %1 bits a pixel").arg(image.bitsPerPixel);
  return text + QString::fromStdString(image.encoding).toUpper() +
         (image.mipmaps == 1 ? QStringLiteral(", 1 mipmap")
                             : QStringLiteral(", %1 mipmaps").arg(image.mipmaps));
}

QString SoundFactsText(const CSoundFacts& sound) {
  return QStringLiteral("WAV, %1, %2 Hz, %3, %4-bit, %5 s")
      .arg(EncodingText(sound.encoding))
      .arg(sound.rate)
      .arg(sound.channels == 1 ? QStringLiteral("1 channel")
                               : QStringLiteral("%1 channels").arg(sound.channels))
      .arg(sound.bits)
      .arg(sound.seconds, 0, 'f', 2);
}

PreviewMode DefaultMode(const CEntryFacts& facts) {
  switch (facts.kind) {
    case EntryKind::Rules: return PreviewMode::Rules;
    case EntryKind::Text: return PreviewMode::Text;
    case EntryKind::Image: return PreviewMode::Image;
    case EntryKind::Sound: return PreviewMode::Sound;
    case EntryKind::Binary: break;
  }
  // A damaged image says why it cannot be drawn; the rest is bytes.
  const bool image =
      facts.damagedFormat != nullptr && std::string_view(facts.damagedFormat) != "wav";
  return image ? PreviewMode::Image : PreviewMode::Hex;
}

CPreviewPane::CPreviewPane(CTarnEditorDoc* document)
    : m_document(document),
      m_updates(std::make_unique<CUpdates>(this)),
      m_text(new QPlainTextEdit),
      m_image(new CImageView),
      m_hex(new CHexView),
      m_message(new QLabel),
      m_sound(new QWidget),
      m_soundFacts(new QLabel),
      m_play(new QPushButton(QStringLiteral("Play"))),
      m_player(std::make_unique<CSoundPlayer>()) {
  setAccessibleName(QStringLiteral("Entry"));
  m_text->setReadOnly(true);
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->setAccessibleName(QStringLiteral("Text"));
  m_message->setAlignment(Qt::AlignCenter);
  m_message->setWordWrap(true);
  m_message->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_message->setAccessibleName(QStringLiteral("Entry facts"));
  addWidget(m_text);
  addWidget(m_image);
  addWidget(m_hex);
  m_soundFacts->setAlignment(Qt::AlignCenter);
  m_soundFacts->setWordWrap(true);
  m_soundFacts->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_soundFacts->setAccessibleName(QStringLiteral("Sound facts"));
  auto* soundLayout = new QVBoxLayout(m_sound);
  soundLayout->addStretch();
  soundLayout->addWidget(m_soundFacts);
  soundLayout->addWidget(m_play, 0, Qt::AlignHCenter);
  soundLayout->addStretch();
  // Space on the page presses the button, which takes the focus for it.
  m_sound->setFocusProxy(m_play);
  m_sound->setAccessibleName(QStringLiteral("Sound"));
  connect(m_play, &QPushButton::clicked, this, &CPreviewPane::PlayOrStop);
  m_player->SetOnStopped([this] { m_play->setText(QStringLiteral("Play")); });
  addWidget(m_message);
  addWidget(m_sound);
  if (document != nullptr) document->AddView(m_updates.get());
}

// The sound stops with the window.
CPreviewPane::~CPreviewPane() { m_player->SetOnStopped(nullptr); }

CPreviewPane* CPreviewPane::Install(CSplitterWnd* splitter, int row, int col, QWidget* list,
                                    ShowRows showRows, CTarnEditorDoc* document) {
  const int index = splitter->indexOf(list);
  if (index < 0 || splitter->GetPane(row, col) != list) return nullptr;
  auto* pane = new CPreviewPane(document);
  pane->m_showRows = std::move(showRows);
  // The list keeps its place in the splitter's grid; in the widget tree the
  // pane stands between them, and takes the rest of the width as it did.
  splitter->replaceWidget(index, pane);
  pane->m_list = list;
  pane->insertWidget(0, list);
  pane->setCurrentWidget(list);
  splitter->setStretchFactor(index, 1);
  list->show();
  // Space plays the sound shown from the tree beside it too; only while a
  // sound is shown, so that Space means what it did everywhere else.
  pane->m_space = WindowKey(QKeySequence(Qt::Key_Space), splitter);
  connect(pane->m_space, &QShortcut::activated, pane, &CPreviewPane::PlayOrStop);
  // Choosing an entry leaves the focus in the tree: Ctrl+G there goes to an
  // offset of the bytes shown as well, which the view's menu promises.
  pane->m_goTo = WindowKey(QKeySequence(Qt::CTRL | Qt::Key_G), splitter);
  connect(pane->m_goTo, &QShortcut::activated, pane, [pane] {
    pane->m_hex->setFocus();
    pane->m_hex->AskGoTo();
  });
  // And Ctrl+0 and Ctrl+1 there fit the image shown or show its actual size.
  pane->m_fit = WindowKey(QKeySequence(Qt::CTRL | Qt::Key_0), splitter);
  connect(pane->m_fit, &QShortcut::activated, pane->m_image, &CImageView::FitToPane);
  pane->m_actualSize = WindowKey(QKeySequence(Qt::CTRL | Qt::Key_1), splitter);
  connect(pane->m_actualSize, &QShortcut::activated, pane->m_image, &CImageView::ShowActualSize);
  return pane;
}

void CPreviewPane::ShowEntry(const CDataBuffer& bytes, std::string_view name,
                             std::string_view copyOf) {
  m_player->Stop();
  m_bytes = bytes;
  m_name = std::string(name);
  m_copyOf = std::string(copyOf);
  m_hasEntry = true;
  m_facts = DescribeEntry(name, bytes.View());
  Show(KeptMode(ExtensionOf(name)).value_or(DefaultMode(m_facts)));
}

void CPreviewPane::ShowAs(PreviewMode mode) {
  if (!m_hasEntry) return;
  KeepMode(ExtensionOf(m_name), mode, DefaultMode(m_facts));
  Show(mode);
}

void CPreviewPane::Show(PreviewMode mode) {
  m_mode = mode;
  if (m_space != nullptr) m_space->setEnabled(false);
  for (QShortcut* key : {m_goTo, m_fit, m_actualSize})
    if (key != nullptr) key->setEnabled(false);
  const bool hadFocus = hasFocus() || isAncestorOf(QApplication::focusWidget());
  if (!m_bytes.HasData() && m_bytes.GetSize() > 0) {
    // An archive that could not be mapped, and this entry could not be read either.
    ShowMessage(QStringLiteral("Cannot read this entry from the archive"));
    ShowStatusText(m_message->text());
    m_list->setFocusProxy(m_message);
    return;
  }
  switch (mode) {
    case PreviewMode::Rules:
      // Shown first: the list fits its columns to the pane only when it is visible.
      setCurrentWidget(m_list);
      Describe(QStringLiteral("Rules"),
               Plural(m_showRows(m_bytes, m_name, m_copyOf), "row", "rows"));
      break;
    case PreviewMode::Text: ShowText(); break;
    case PreviewMode::Image: ShowImage(); break;
    case PreviewMode::Sound: ShowSound(); break;
    case PreviewMode::Hex:
      m_hex->SetBytes(m_bytes);
      setCurrentWidget(m_hex);
      if (m_goTo != nullptr) m_goTo->setEnabled(true);
      Describe(QStringLiteral("Bytes"), QStringLiteral("%1 bytes").arg(m_bytes.GetSize()));
      ShowStatusText(QStringLiteral("%1 bytes").arg(m_bytes.GetSize()) +
                     (m_facts.damagedFormat != nullptr
                          ? QStringLiteral("; damaged %1: %2")
                                .arg(QString::fromLatin1(m_facts.damagedFormat).toUpper(),
                                     QString::fromUtf8(DamagedWords(m_facts)))
                          : QString()));
      break;
  }
  // Read as far as the archive goes, and said so beside the entry's facts.
  if (m_copyOf.empty() && m_document != nullptr) {
    if (const std::string cut = m_document->Shown().CutShort(m_name); !cut.empty())
      AppendStatusText(QStringLiteral("; ") + QString::fromStdString(cut));
  }
  // F6 moves the focus to the splitter's pane, which is the list: when the
  // list is not shown, the view in its place takes the focus for it.
  m_list->setFocusProxy(currentWidget() == m_list ? nullptr : currentWidget());
  if (hadFocus) currentWidget()->setFocus(Qt::OtherFocusReason);
}

void CPreviewPane::ShowText() {
  const size_t size = m_bytes.HasData() ? m_bytes.GetSize() : 0;
  const size_t shown = std::min(size, kMostText);
  // Bytes as the rules text is read, one character each: line ends stay as they are.
  m_text->setPlainText(BytesToText(m_bytes.View().substr(0, shown)));
  setCurrentWidget(m_text);
  const QString facts = shown < size
                            ? QStringLiteral("%1 bytes, the first %2 shown").arg(size).arg(shown)
                            : QStringLiteral("%1 bytes of text").arg(size);
  Describe(QStringLiteral("Text"), facts);
  ShowStatusText(facts);
}

void CPreviewPane::ShowImage() {
  QString why;
  QImage image;
  if (m_facts.damagedFormat != nullptr) {
    why = QStringLiteral("Damaged %1: %2")
              .arg(QString::fromLatin1(m_facts.damagedFormat).toUpper(),
                   QString::fromUtf8(DamagedWords(m_facts)));
  } else {
    if (!WithinMemory([&] { image = ReadImage(m_bytes.View(), m_facts, why); }))
      why = QStringLiteral("Not enough memory for this image");
  }
  if (image.isNull()) {
    if (why.isEmpty()) why = QStringLiteral("Not an image this editor can read");
    ShowMessage(why);
    ShowStatusText(why);
    return;
  }
  m_image->SetImage(image);
  setCurrentWidget(m_image);
  for (QShortcut* key : {m_fit, m_actualSize})
    if (key != nullptr) key->setEnabled(true);
  const QString facts = m_facts.kind == EntryKind::Image
                            ? ImageFactsText(m_facts.image)
                            : QStringLiteral("%1 × %2").arg(image.width()).arg(image.height());
  Describe(QStringLiteral("Image"), facts);
  ShowStatusText(facts);
}

void CPreviewPane::ShowSound() {
  if (m_facts.kind != EntryKind::Sound) {
    Show(PreviewMode::Hex);
    return;
  }
  const QString facts = SoundFactsText(m_facts.sound);
  m_soundFacts->setText(facts);
  // A sound no device could play says so here, not only when Play is pressed.
  const QString cannot = CSoundPlayer::CannotPlay(m_facts.sound);
  m_play->setEnabled(cannot.isEmpty());
  m_play->setText(m_player->IsPlaying() ? QStringLiteral("Stop") : QStringLiteral("Play"));
  setCurrentWidget(m_sound);
  if (m_space != nullptr) m_space->setEnabled(cannot.isEmpty());
  Describe(QStringLiteral("Sound"), facts);
  ShowStatusText(facts + QStringLiteral("; ") +
                 (cannot.isEmpty() ? QStringLiteral("Space plays it") : cannot));
}

void CPreviewPane::PlayOrStop() {
  if (m_player->IsPlaying()) {
    m_player->Stop();
    ShowStatusText(QStringLiteral("Stopped"));
    return;
  }
  if (m_mode != PreviewMode::Sound || m_facts.kind != EntryKind::Sound) return;
  const QString why = m_player->Play(m_bytes, m_facts.sound);
  if (!why.isEmpty()) {
    ShowStatusText(QStringLiteral("Cannot play: ") + why);
    return;
  }
  m_play->setText(QStringLiteral("Stop"));
  ShowStatusText(QStringLiteral("Playing: ") + SoundFactsText(m_facts.sound));
}

void CPreviewPane::ShowMessage(const QString& words) {
  m_message->setText(words);
  setCurrentWidget(m_message);
  Describe(QStringLiteral("Entry"), words);
}

void CPreviewPane::Describe(const QString& kind, const QString& facts) {
  const QString description = kind + QStringLiteral(": ") + facts;
  setAccessibleDescription(description);
  if (QWidget* page = currentWidget(); page != nullptr && page != m_list)
    page->setAccessibleDescription(description);
}

bool CPreviewPane::OnCmdMsg(int id, CCmdUI* query) {
  PreviewMode mode;
  switch (id) {
    case ID_VIEW_AS_RULES: mode = PreviewMode::Rules; break;
    case ID_VIEW_AS_TEXT: mode = PreviewMode::Text; break;
    case ID_VIEW_AS_HEX: mode = PreviewMode::Hex; break;
    case ID_VIEW_AS_IMAGE: mode = PreviewMode::Image; break;
    case ID_VIEW_AS_SOUND: mode = PreviewMode::Sound; break;
    default: return false;
  }
  if (query != nullptr) {
    query->enabled = m_hasEntry;
    query->checked = m_hasEntry && m_mode == mode;
    return true;
  }
  if (m_hasEntry) ShowAs(mode);
  return true;
}

void CPreviewPane::OnUpdate(int hint) {
  if (!m_hasEntry || m_document == nullptr) return;
  if (hint == kEntriesReplacing) {
    // The archive is about to be replaced: no share of its bytes may stay.
    m_player->Stop();
    m_hex->SetBytes(CDataBuffer());
    m_text->clear();
    m_image->SetImage(QImage());
    m_bytes = CDataBuffer();
    return;
  }
  const CShownOrder* order = m_document->Shown().Order();
  const std::optional<CDataBuffer> now = m_copyOf.empty()   ? m_document->Shown().Bytes(m_name)
                                         : order != nullptr ? order->CopyIn(m_copyOf, m_name)
                                                            : std::nullopt;
  const CDataBuffer bytes = now ? *now : CDataBuffer();
  if (bytes.GetData() == m_bytes.GetData() && bytes.GetSize() == m_bytes.GetSize()) return;
  // The list shows rules entries itself, and keeps its place in them.
  if (m_mode == PreviewMode::Rules) {
    m_bytes = bytes;
    return;
  }
  const PreviewMode mode = m_mode;
  ShowEntry(bytes, m_name, m_copyOf);
  if (m_mode != mode) Show(mode);
}

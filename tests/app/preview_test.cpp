// The right pane shows each kind of entry in its own view: rules in the
// list, text, images (TGA through Qt's reader, DDS through ours), a sound's
// facts and the rest in hex; a damaged image says why; View > As ... switches
// and is kept for the extension.
#include <QInputDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <string>
#include <vector>

#include "app/framework/status_bar.h"
#include "app/preview/hex_view.h"
#include "app/preview/image_view.h"
#include "app/preview/preview_pane.h"
#include "editor_fixture.h"
#include "tests/support/big_builder.h"
#include "tools/demo/sample_media.h"

namespace {

QString StatusText(CEditorRun& run) { return run.Main()->GetStatusBar()->GetPane(0)->text(); }

// Names without folders sort the tree's rows as listed here.
const char* const kNames[] = {"a.ini", "b.txt", "c.tga", "d.dds", "e.wav",
                              "f.msh", "g.dds", "h.msh", "i.wav", "j.tga"};

std::vector<uint8_t> Quadrants() {
  // Top left red and opaque, the rest blue and half transparent.
  std::vector<uint8_t> rgba;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool red = x < 4 && y < 4;
      rgba.insert(rgba.end(),
                  {static_cast<uint8_t>(red ? 255 : 0), 0, static_cast<uint8_t>(red ? 0 : 255),
                   static_cast<uint8_t>(red ? 255 : 128)});
    }
  return rgba;
}

// A valid 2 × 1 TGA of indices into a colour map of two 24-bit colours.
std::string ColourMappedTga() {
  return std::string("\0\x01\x01\0\0\x02\0\x18\0\0\0\0\x02\0\x01\0\x08\x20", 18) +
         std::string(6, '\x7F') + std::string("\0\x01", 2);
}

}  // namespace

class PreviewTest : public QObject {
  Q_OBJECT

 private:
  CTestSettings m_settings;
  CTempDir m_dir;
  std::string m_binary = std::string("MSH\0\x01\x02", 6) + std::string(5000, '\x7F') + "needle";

  QString Archive() {
    return ToQ(m_dir.Write(
        "kinds.big", CBigBuilder()
                         .Add(kNames[0], "Object Tank\n  Speed = 3\nEnd\n")
                         .Add(kNames[1], "first line\r\nsecond line\n")
                         .Add(kNames[2], MakeTga(8, 8, Quadrants()))
                         .Add(kNames[3], MakeDxt5Picture(64))
                         .Add(kNames[4], MakeWav(22050, 33516))
                         .Add(kNames[5], m_binary)
                         .Add(kNames[6], MakeDds(65535, 65535, "DXT5", 1, std::string(64, '\0')))
                         .Add(kNames[7], std::string(100, '\0'))
                         .Add(kNames[8], MakeFloatWav(22050, 11025))
                         .Add(kNames[9], ColourMappedTga())
                         .Build()));
  }

 private slots:
  void eachKindShowsInItsView() {
    CEditorRun run({Archive()});
    QVERIFY(run.Started());
    CChildFrame* frame = run.Frames()[0];
    CPreviewPane* pane = frame->GetPreview();
    QVERIFY(pane != nullptr);
    CLeftView* tree = TreeOf(frame);

    ClickTreeRow(tree, 0);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(ListOf(frame)));
    QCOMPARE(ListRows(ListOf(frame)).size(), 2);

    ClickTreeRow(tree, 1);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetTextView()));
    QVERIFY(pane->GetTextView()->toPlainText().startsWith(QStringLiteral("first line")));
    QVERIFY(pane->GetTextView()->isReadOnly());

    ClickTreeRow(tree, 2);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetImageView()));
    const QImage tga = pane->GetImageView()->GetImage();
    QCOMPARE(tga.size(), QSize(8, 8));
    QCOMPARE(tga.pixelColor(0, 0), QColor(255, 0, 0, 255));
    QCOMPARE(tga.pixelColor(7, 7).alpha(), 128);
    QCOMPARE(StatusText(run), QStringLiteral("8 × 8, TGA, 32 bits a pixel"));
    // Fitted to the pane, then actual size and back with the keys, from
    // the tree the entry was chosen in as from the view.
    CImageView* view = pane->GetImageView();
    QVERIFY(view->IsFitted() && view->GetScale() > 8);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(view->GetScale(), 1.0);
    QTest::keyClick(view, Qt::Key_0, Qt::ControlModifier);
    QVERIFY(view->IsFitted());

    ClickTreeRow(tree, 3);
    const QImage dds = pane->GetImageView()->GetImage();
    QCOMPARE(dds.size(), QSize(64, 64));
    QCOMPARE(dds.pixelColor(0, 0).alpha(), 0);  // alpha fades in across
    QCOMPARE(dds.pixelColor(63, 0).alpha(), 255);
    QCOMPARE(StatusText(run), QStringLiteral("64 × 64, DXT5, 7 mipmaps"));
    QCOMPARE(pane->accessibleDescription(), QStringLiteral("Image: 64 × 64, DXT5, 7 mipmaps"));

    ClickTreeRow(tree, 4);
    QCOMPARE(pane->currentWidget(), pane->GetSoundPage());
    QCOMPARE(pane->GetSoundFacts()->text(),
             QStringLiteral("WAV, PCM, 22050 Hz, 1 channel, 16-bit, 1.52 s"));
    // Space either plays, or says why not (no sound device on a build
    // machine, or no sound output built in); selecting another entry stops.
    pane->GetPlayButton()->setFocus();
    QTest::keyClick(pane->GetPlayButton(), Qt::Key_Space);
    QVERIFY2(StatusText(run).startsWith(QStringLiteral("Playing: ")) ||
                 StatusText(run).startsWith(QStringLiteral("Cannot play: ")) ||
                 StatusText(run).endsWith(QStringLiteral("not built into this editor")),
             qPrintable(StatusText(run)));
    // One that no device could play shows its facts and says why at once.
    ClickTreeRow(tree, 8);
    QCOMPARE(pane->GetSoundFacts()->text(),
             QStringLiteral("WAV, float, 22050 Hz, 1 channel, 32-bit, 0.50 s"));
    QVERIFY(!pane->GetPlayButton()->isEnabled());
    QVERIFY2(StatusText(run).endsWith(QStringLiteral("; only PCM sounds can be played")) ||
                 StatusText(run).endsWith(QStringLiteral("not built into this editor")),
             qPrintable(StatusText(run)));

    ClickTreeRow(tree, 5);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetHexView()));
    QCOMPARE(pane->GetHexView()->GetSize(), uint64_t{m_binary.size()});
    // F6 from the tree reaches the view shown in the list's place, and
    // leaves the entry's facts in the status bar.
    tree->setFocus();
    const QString facts = StatusText(run);
    QVERIFY(run.Command(ID_NEXT_PANE));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(pane->GetHexView()));
    QCOMPARE(StatusText(run), facts);
    // And from there back to the tree.
    QVERIFY(run.Command(ID_NEXT_PANE));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(tree));
    // Ctrl+G from the tree asks for an offset of the bytes shown.
    tree->setFocus();
    QTimer::singleShot(0, [] {
      if (auto* ask = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
        ask->setTextValue(QStringLiteral("0x1000"));
        ask->accept();
      }
    });
    QTest::keyClick(tree, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(pane->GetHexView()->GetSelection().has_value());
    QCOMPARE(pane->GetHexView()->GetSelection()->first, uint64_t{0x1000});

    // A header claiming 65535 × 65535 says so instead of drawing anything.
    ClickTreeRow(tree, 6);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetMessage()));
    QCOMPARE(StatusText(run),
             QStringLiteral("Damaged DDS: 65535x65535 is larger than 16384x16384"));
    // A valid image of a kind not drawn is not called damaged.
    ClickTreeRow(tree, 9);
    QCOMPARE(pane->GetMessage()->text(),
             QStringLiteral("Colour-mapped TGA images are not drawn here"));
  }

  void theViewChosenIsKeptForTheExtension() {
    CEditorRun run({Archive()});
    CChildFrame* frame = run.Frames()[0];
    CPreviewPane* pane = frame->GetPreview();
    CLeftView* tree = TreeOf(frame);
    ClickTreeRow(tree, 5);
    QVERIFY(run.Command(ID_VIEW_AS_TEXT));
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetTextView()));
    ClickTreeRow(tree, 7);  // another .msh
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetTextView()));
    ClickTreeRow(tree, 2);  // a .tga keeps its own view
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetImageView()));
    QVERIFY(run.Command(ID_VIEW_AS_HEX));
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetHexView()));
    QVERIFY(run.Command(ID_VIEW_AS_RULES));
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(ListOf(frame)));
    QCOMPARE(pane->GetMode(), PreviewMode::Rules);
    // A sound shown another way can be a sound again; its own view chosen
    // leaves every .wav to show itself.
    ClickTreeRow(tree, 4);
    QVERIFY(run.Command(ID_VIEW_AS_HEX));
    ClickTreeRow(tree, 8);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetHexView()));
    QVERIFY(run.Command(ID_VIEW_AS_SOUND));
    QCOMPARE(pane->currentWidget(), pane->GetSoundPage());
    QVERIFY(!AfxGetApp()->GetProfile()->contains(QStringLiteral("Preview/wav")));
  }
  // Kept across runs too, in the user's settings.
  void theKeptViewOutlivesTheWindow() {
    CEditorRun run({Archive()});
    CPreviewPane* pane = run.Frames()[0]->GetPreview();
    ClickTreeRow(TreeOf(run.Frames()[0]), 5);
    QCOMPARE(pane->currentWidget(), static_cast<QWidget*>(pane->GetTextView()));
  }

  void theHexViewGoesToOffsetsAndFindsBytes() {
    CHexView hex;
    hex.resize(600, 200);
    const std::string bytes = m_binary;
    hex.SetBytes(CDataBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())));
    QVERIFY(hex.GoTo(0x1000));
    QCOMPARE(hex.GetTopRow(), uint64_t{0x100});
    QVERIFY(!hex.GoTo(bytes.size()));
    QVERIFY(hex.Find(*NeedleBytes(QStringLiteral("\"needle\""))));
    QCOMPARE(hex.GetSelection()->first, uint64_t{bytes.size() - 6});
    QCOMPARE(hex.SelectionAsText(), QStringLiteral("needle"));
    QCOMPARE(hex.SelectionAsHex(), QStringLiteral("6E 65 65 64 6C 65"));
    // Hex pairs are bytes; anything else is text.
    QCOMPARE(*NeedleBytes(QStringLiteral("4D 53 48")), std::string("MSH"));
    QVERIFY(hex.Find(*NeedleBytes(QStringLiteral("4D5348"))));
    QCOMPARE(hex.GetSelection()->first, uint64_t{0});
    // Finding the next of bytes found once comes round to them again.
    QVERIFY(hex.Find("MSH"));
    QCOMPARE(hex.GetSelection()->first, uint64_t{0});
    QCOMPARE(*NeedleBytes(QStringLiteral("4D 5")), std::string("4D 5"));
    QVERIFY(!hex.Find("absent"));
  }

  // An entry past kFindHereBytes is searched beside the window, 8 MiB at a
  // time: a match across two of them is found, then the next, then the
  // first again; a search of an entry no longer shown selects nothing.
  void aLargeEntryIsSearchedBesideTheWindow() {
    CHexView hex;
    hex.resize(600, 200);
    std::string big(CHexView::kFindHereBytes + 4096, '\0');
    const size_t across = (size_t{8} << 20) - 3, last = big.size() - 100;
    big.replace(across, 6, "needle");
    big.replace(last, 6, "needle");
    hex.SetBytes(CDataBuffer(big.data(), static_cast<uint32_t>(big.size())));
    for (const size_t expected : {across, last, across}) {
      hex.FindForUser("needle");
      QVERIFY(hex.IsFinding());
      QTRY_VERIFY(!hex.IsFinding());
      QVERIFY(hex.GetSelection());
      QCOMPARE(hex.GetSelection()->first, uint64_t{expected});
    }
    hex.FindForUser("absent");
    hex.SetBytes(CDataBuffer("small", 5));
    QVERIFY(!hex.IsFinding());
    QTest::qWait(50);
    QVERIFY(!hex.GetSelection());
  }

  // An entry whose index claims bytes past the archive's end shows what
  // there is, and says the rest is missing; a whole one says nothing of it.
  void anEntryCutShortByTheArchivesEndSaysSo() {
    const std::string text = "plain words, cut";
    const auto layout = [&](uint32_t at) {
      return CBigBuilder().Add("a.txt", "whole text").AddRecord("cut.txt", at, 1000).Trailer(text);
    };
    const auto at = static_cast<uint32_t>(layout(0).Build().size() - text.size());
    CEditorRun run({ToQ(m_dir.Write("cut.big", layout(at).Build()))});
    QVERIFY(run.Started());
    CLeftView* tree = TreeOf(run.Frames()[0]);
    ClickTreeRow(tree, 1);
    QCOMPARE(run.Frames()[0]->GetPreview()->GetTextView()->toPlainText(), ToQ(text));
    QCOMPARE(StatusText(run), QStringLiteral("16 bytes of text; cut short by the end of the "
                                             "archive (16 of 1000 bytes)"));
    ClickTreeRow(tree, 0);
    QCOMPARE(StatusText(run), QStringLiteral("10 bytes of text"));
  }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"

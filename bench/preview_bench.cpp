// The entry preview at the sizes textures and data files reach, offscreen:
//
//   1. select an entry of 1 GiB (of no kind known: shown in hex) until
//      the hex view has painted: only the rows shown are read (the target:
//      50 ms). The archive is sparse on disk, so it takes no real space;
//   2. select a 4096 × 4096 DXT5 texture until the image view has painted
//      it fitted to the pane (the target: 150 ms), with the decoder's own
//      share beside it.
//
// Each figure is the median of TARN_BENCH_RUNS runs (default 7), each run
// selecting a small entry first.
#include <QItemSelectionModel>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/preview/hex_view.h"
#include "app/preview/image_view.h"
#include "app/preview/preview_pane.h"
#include "app/shell/child_frame.h"
#include "app/shell/tarn_editor_app.h"
#include "bench/editor_bench_support.h"
#include "media/dds_reader.h"
#include "tests/support/big_builder.h"
#include "tools/demo/sample_media.h"

namespace {

const int kRuns = [] {
  const QByteArray given = qgetenv("TARN_BENCH_RUNS");
  return given.isEmpty() ? 7 : std::max(1, given.toInt());
}();

constexpr uint32_t kHugeSize = uint32_t{1} << 30;
constexpr uint32_t kSide = 4096;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

// "huge.bin" of 1 GiB and "small.txt": the index and the small entry are
// written, the rest of the file is a hole.
std::string WriteSparseArchive(const std::string& path) {
  const std::string small = "a few bytes\n";
  const auto build = [&](uint32_t indexEnd) {
    return CBigBuilder()
        .AddRecord("huge.bin", indexEnd, kHugeSize)
        .AddRecord("small.txt", indexEnd + kHugeSize, static_cast<uint32_t>(small.size()))
        .ArchiveSize(indexEnd + kHugeSize + static_cast<uint32_t>(small.size()))
        .Build();
  };
  const auto indexEnd = static_cast<uint32_t>(build(0).size());
  const std::string head = build(indexEnd);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const bool written =
      fd >= 0 && ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
      ::pwrite(fd, small.data(), small.size(), off_t{indexEnd} + kHugeSize) ==
          static_cast<ssize_t>(small.size());
  if (fd >= 0) ::close(fd);
  if (!written) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  return path;
}

// A texture of varied blocks, as a real one has: every palette and index
// differs from its neighbours'.
std::string Dxt5Texture() {
  std::string blocks(size_t{kSide / 4} * (kSide / 4) * 16, '\0');
  uint32_t state = 12345;
  for (char& byte : blocks) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return MakeDds(kSide, kSide, "DXT5", 1, blocks);
}

// Selects row `big` after row `small`, each run; the median time from the
// selection to the preview's page painted. Null when the page shown is not
// `page`.
double SelectAndPaint(const COpened& opened, int small, int big, QWidget* page) {
  CPreviewPane* const pane = opened.frame->GetPreview();
  std::vector<double> times;
  const QModelIndex bigRow = opened.tree->model()->index(big, 0);
  const QModelIndex smallRow = opened.tree->model()->index(small, 0);
  for (int i = 0; i < kRuns; ++i) {
    opened.tree->selectionModel()->setCurrentIndex(smallRow, QItemSelectionModel::ClearAndSelect);
    Settle();
    const BenchClock::time_point start = BenchClock::now();
    opened.tree->selectionModel()->setCurrentIndex(bigRow, QItemSelectionModel::ClearAndSelect);
    QCoreApplication::processEvents();
    pane->currentWidget()->repaint();
    times.push_back(Millis(BenchClock::now() - start));
    if (pane->currentWidget() != page) {
      std::fprintf(stderr, "the entry was not shown in the expected view\n");
      std::exit(1);
    }
  }
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietSizeHints);
  CTempDir dir;
  std::printf("writing archives...\n");
  const std::string sparse = WriteSparseArchive(dir.Path() + "/huge.big");
  const std::string texture = Dxt5Texture();
  const std::string textures = dir.Write(
      "texture.big", CBigBuilder().Add("big.dds", texture).Add("small.txt", "x\n").Build());

  CBenchApplication application(argc, argv);
  CTarnEditorApp app;
  if (!app.InitInstance()) return 1;
  Settle();

  const COpened huge = OpenArchive(app, sparse);
  if (huge.document == nullptr) return 1;
  Settle();
  const double hex = SelectAndPaint(huge, 1, 0, huge.frame->GetPreview()->GetHexView());
  std::printf("\nentry of 1 GiB: select to painted hex view\n");
  std::printf("  editor select + paint    %8.1f ms   (target 50 ms)\n", hex);

  const COpened image = OpenArchive(app, textures);
  if (image.document == nullptr) return 1;
  Settle();
  const double painted = SelectAndPaint(image, 1, 0, image.frame->GetPreview()->GetImageView());
  std::vector<double> decodes;
  for (int i = 0; i < kRuns; ++i) {
    const BenchClock::time_point start = BenchClock::now();
    const CResult<CRgbaImage> decoded = DecodeDds(texture);
    decodes.push_back(Millis(BenchClock::now() - start));
    if (!decoded) return 1;
  }
  std::printf("\n%u x %u DXT5 entry: select to painted image view\n", kSide, kSide);
  std::printf("  editor select + paint    %8.1f ms   (target 150 ms)\n", painted);
  std::printf("    of which decoding      %8.1f ms\n", Median(decodes));
  app.ExitInstance();
  return 0;
}

#include "storage/file_stamp.h"

#include "storage/handle_owner.h"

std::optional<CFileStamp> StampOfFile(platform::Handle file) {
  platform::NodeInfo info;
  if (platform::InspectFile(file, info).Failed() || info.kind != platform::NodeKind::File)
    return std::nullopt;
  return CFileStamp{info.identity, info.size, info.modified, info.changed};
}

std::optional<CFileStamp> StampOfFile(const std::string& path) {
  const CHandleOwner file(*platform::CreateFile(path, platform::kGenericRead,
                                                platform::kOpenExisting, platform::kFileShareRead));
  if (!file) return std::nullopt;
  return StampOfFile(file.Get());
}

bool SameBytes(const CFileStamp& stamp, const std::optional<CFileStamp>& now, bool named) {
  if (!now || now->identity != stamp.identity || now->size != stamp.size ||
      now->modified != stamp.modified)
    return false;
  return !named || now->changed == stamp.changed;
}

bool WasCutSince(const CDataBuffer& mapped, platform::Handle file, int64_t size) {
  if (mapped.HasData()) return mapped.IsCutOnDisk();
  if (file == 0) return false;
  const platform::Result<int64_t> now = platform::GetFileSize(file);
  return now && *now < size;
}

CHeldFile CHeldFile::Before(CHandleHolder file) {
  CHeldFile held;
  held.stamp = StampOfFile(file.Get());
  held.stampable = held.stamp.has_value();
  held.file = std::move(file);
  return held;
}

void CHeldFile::Read() {
  if (stamp && !(stamp == StampOfFile(file.Get()))) stamp.reset();
}

bool CHeldFile::Changed() const {
  if (!stampable) return false;
  return !stamp || !SameBytes(*stamp, StampOfFile(file.Get()), false);
}

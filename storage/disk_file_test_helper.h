// For tests only: switches that make CDiskFile take its rarer paths.
#pragma once

#include "storage/disk_file.h"

class CDiskFileTestHelper {
 public:
  // While set, MapWhole maps nothing, as when the address space is full or
  // the file system cannot map: callers must fall back to reading.
  static void SetMappingDisabled(bool disabled) { CDiskFile::s_mappingDisabled = disabled; }
};

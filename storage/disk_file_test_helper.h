// For tests only: switches that make CDiskFile take its rarer paths.
#pragma once

#include "storage/disk_file.h"

class CDiskFileTestHelper {
 public:
  // While set, MapWhole maps nothing, as when the address space is full or
  // the file system cannot map: callers must fall back to reading.
  static void SetMappingDisabled(bool disabled) { CDiskFile::s_mappingDisabled = disabled; }
  // While set, MapWhole calls `hook` with the file's path once it has
  // mapped (or failed to map) the file, before anything is read through the
  // view: a test can change the file there, as another program may at any
  // time. Null takes the hook away.
  static void SetAfterMapping(void (*hook)(const std::string& path)) {
    CDiskFile::s_afterMapping = hook;
  }
};

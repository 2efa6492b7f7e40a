// A window beside the documents' that shows archives of its own (a
// comparison). A save that replaces one of their files counts them: they go
// on showing what they opened until they are reopened, and the user is told.
#pragma once

#include <string>
#include <vector>

class CArchiveWindow {
 public:
  // The archives' paths, as the system spells them.
  virtual std::vector<std::string> ShownPaths() const = 0;

 protected:
  ~CArchiveWindow() = default;
};

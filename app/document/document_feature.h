// What a feature that acts on a whole archive document (editing, saving,
// extracting) is to the document: a command target it routes the window's
// commands to, in the order the features were added, and a say in whether
// its windows may close. The shell adds the features when it makes a
// document; the document never names them, so each feature's room depends
// on the document and never the other way.
#pragma once

#include "app/framework/cmd_target.h"

class CDocumentFeature : public CCmdTarget {
 public:
  // Before the document's windows close: false (the user cancelled
  // something this feature asked) keeps them open.
  virtual bool MayClose() { return true; }
  // After the document has opened, after every step, undone or redone, and
  // after it shows another archive: what the window shows has changed.
  virtual void OnShownChanged() {}
};

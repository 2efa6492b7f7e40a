// Command routing. A menu item or accelerator key carries a command id; the
// main frame offers it to the active child frame (which offers it to its
// active view, then its document), then to itself, then to the application.
// The first target that knows the id handles it. An id nobody knows does
// nothing, and its menu item is shown disabled.
#pragma once

#include <optional>
#include <utility>

// What a target says about a command it knows, when asked before a menu opens.
struct CCmdUI {
  bool enabled = true;
  std::optional<bool> checked;  // unset: the item carries no check mark
};

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

  // With `query` null: carry out `id`, returning whether this target knew it.
  // With `query` set: fill in its state and return whether this target knows
  // it, without carrying it out.
  virtual bool OnCmdMsg(int id, CCmdUI* query) {
    (void)id;
    (void)query;
    return false;
  }

 protected:
  // The common shape of a handler: report it, or run it.
  template <typename Action>
  static bool Handle(CCmdUI* query, Action&& action, bool enabled = true) {
    if (query != nullptr) {
      query->enabled = enabled;
    } else if (enabled) {
      std::forward<Action>(action)();
    }
    return true;
  }
};

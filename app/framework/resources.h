// The program's resources as data: strings, menus, accelerator tables and
// icons, each found by number. The program fills one CResourceTable and hands
// it to its application object; frames and templates load from it by id.
#pragma once

#include <QIcon>
#include <QKeySequence>
#include <QString>

#include <functional>
#include <map>
#include <vector>

struct CMenuItemResource {
  // Caption with its '&' mnemonic, then a tab and the shortcut label if any.
  // Empty for a separator.
  QString caption;
  int id = 0;           // 0 for a separator
  bool grayed = false;  // shown disabled whatever the handlers say
};

struct CPopupResource {
  QString caption;
  std::vector<CMenuItemResource> items;
};

using CMenuResource = std::vector<CPopupResource>;

struct CAcceleratorResource {
  QKeySequence keys;
  int id;
};

struct CResourceTable {
  std::map<int, QString> strings;
  std::map<int, CMenuResource> menus;
  std::map<int, std::vector<CAcceleratorResource>> accelerators;
  // Icons are drawn on demand: a QIcon needs a running application.
  std::map<int, std::function<QIcon()>> icons;

  // Empty when the id has no string.
  QString LoadString(int id) const {
    auto it = strings.find(id);
    return it == strings.end() ? QString() : it->second;
  }
  const CMenuResource* FindMenu(int id) const {
    auto it = menus.find(id);
    return it == menus.end() ? nullptr : &it->second;
  }
  const std::vector<CAcceleratorResource>* FindAccelerators(int id) const {
    auto it = accelerators.find(id);
    return it == accelerators.end() ? nullptr : &it->second;
  }
  QIcon LoadIcon(int id) const {
    auto it = icons.find(id);
    return it == icons.end() ? QIcon() : it->second();
  }
};

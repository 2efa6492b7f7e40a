// The bar across a document window that says its archive changed on disk,
// with Reload and Keep Mine.
#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

class CDiskBar : public QFrame {
  Q_OBJECT

 public:
  explicit CDiskBar(QWidget* parent = nullptr);

  void Show(const QString& text, bool canReload);
  QLabel* GetLabel() const { return m_label; }
  QPushButton* GetReload() const { return m_reload; }
  QPushButton* GetKeep() const { return m_keep; }

 signals:
  void reload();
  void keep();

 private:
  QLabel* m_label;
  QPushButton* m_reload;
  QPushButton* m_keep;
};

// CMyMenu: a skinned pop-up menu. Every item is 25 pixels high on skin image 294 and at
// least 159 wide (wider when a text and its shortcut need it), in the 12-pixel skin font at
// weight 500, with an optional skin image as its icon, a shortcut text and a check mark. Exec
// shows it at a screen point and returns the chosen item's id, or 0 when the menu was
// dismissed (Esc, a click outside). Up/Down/Enter work as in any menu. UI thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

class QEventLoop;

namespace spherolux::ui {

class CMyMenu : public QWidget {
 public:
  static constexpr int kItemWidth = 159;  // the least width
  static constexpr int kItemHeight = 25;
  static constexpr int kSeparatorHeight = 7;

  explicit CMyMenu(QWidget* parent = nullptr);

  // Appends an item; `id` must not be 0. `icon` is a skin image id (0 for none).
  void AppendItem(int id, const QString& text, int icon = 0, const QString& shortcut = {}, bool checked = false,
                  bool enabled = true);
  void AppendSeparator();
  // The width of every item: the least width, or what the widest text and shortcut need with
  // the icon column and a gap between them.
  int itemWidth() const;
  int ItemCount() const { return static_cast<int>(items_.size()); }
  // Row `index`'s text, shortcut and state ("" for a separator).
  QString ItemText(int index) const { return items_.at(static_cast<size_t>(index)).text; }
  QString ItemShortcut(int index) const { return items_.at(static_cast<size_t>(index)).shortcut; }
  bool ItemEnabled(int index) const { return items_.at(static_cast<size_t>(index)).enabled; }
  // The item rectangle of row `index` in menu coordinates.
  QRect ItemRect(int index) const;

  // Shows the menu with its top-left corner at `global` (moved to stay on the screen) and runs
  // until an item is chosen or the menu is dismissed.
  int Exec(const QPoint& global);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct Item {
    int id;  // 0 for a separator
    QString text, shortcut;
    int icon;
    bool checked, enabled;
  };
  int IndexAt(const QPoint& point) const;
  void Choose(int index);
  void MoveHighlight(int step);

  std::vector<Item> items_;
  int highlighted_ = -1;
  int chosen_ = 0;
  QEventLoop* loop_ = nullptr;
};

}  // namespace spherolux::ui

// CListCtrlCl with CHeaderCtrlCl: a skinned report list (columns, grid lines, white rows,
// whole-row selection) with a header drawn from skin images 348-350 on RGB(171, 199, 235).
// Rows hold text per column; a row or a single cell may get its own text and background
// colours. UI thread only.
#pragma once

#include <QHeaderView>
#include <QTableWidget>
#include <vector>

namespace spherolux::ui {

class CHeaderCtrlCl : public QHeaderView {
 public:
  explicit CHeaderCtrlCl(QWidget* parent);
  // 20 rather than 15 pixels: the 12-pixel CJK font needs the room for its descenders.
  static constexpr int kHeight = 20;
  static constexpr int kTextOffset = 8;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;
  QSize sizeHint() const override;
};

class CListCtrlCl : public QTableWidget {
 public:
  explicit CListCtrlCl(QWidget* parent);

  // Appends or inserts column `column` with its header text and width in pixels.
  void InsertColumn(int column, const QString& text, int width);
  // Inserts a row at `row` (clamped to the row count) with `text` in column 0; returns its index.
  int InsertItem(int row, const QString& text);
  void SetItemText(int row, int column, const QString& text);
  QString ItemText(int row, int column) const;
  void DeleteItem(int row);
  void DeleteAllItems() { setRowCount(0); }
  int ItemCount() const { return rowCount(); }
  // Selected rows, ascending.
  std::vector<int> SelectedRows() const;
  void SetRowColors(int row, const QColor& text, const QColor& background);
  void SetItemColors(int row, int column, const QColor& text, const QColor& background);
};

}  // namespace spherolux::ui

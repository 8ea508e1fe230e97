#include "ui/list_ctrl.h"

#include <QPainter>
#include <algorithm>
#include <set>

#include "ui/skin.h"

namespace spherolux::ui {

CHeaderCtrlCl::CHeaderCtrlCl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setFont(SkinFont(12));
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setHighlightSections(false);
  setSectionsClickable(false);
  setFixedHeight(kHeight);
}

QSize CHeaderCtrlCl::sizeHint() const { return {QHeaderView::sizeHint().width(), kHeight}; }

void CHeaderCtrlCl::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
  painter->save();
  painter->fillRect(rect, QColor(skin_color::kHeader));
  DrawSkinImage(*painter, rect, kImgHeaderBackground);
  const bool last = visualIndex(logical_index) == count() - 1;
  const QSize sep = SkinImageSize(last ? kImgHeaderEnd : kImgHeaderSeparator);
  DrawSkinImage(*painter, QRect(rect.right() - sep.width() + 1, rect.top(), sep.width(), rect.height()),
                last ? kImgHeaderEnd : kImgHeaderSeparator);
  painter->setPen(QColor(skin_color::kDialogText));
  painter->setFont(font());
  const QString text = model()->headerData(logical_index, orientation()).toString();
  painter->drawText(rect.adjusted(kTextOffset, 0, -sep.width(), 0), Qt::AlignLeft | Qt::AlignVCenter, text);
  painter->restore();
}

CListCtrlCl::CListCtrlCl(QWidget* parent) : QTableWidget(parent) {
  setHorizontalHeader(new CHeaderCtrlCl(this));
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(22);
  horizontalHeader()->setStretchLastSection(true);
  setShowGrid(true);
  setGridStyle(Qt::SolidLine);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setFont(SkinFont(14));
  setStyleSheet(
      "QTableWidget { background: #ffffff; gridline-color: #dfe3e8; border: 1px solid #c3cad3; }"
      "QTableWidget::item:selected { background: #cfe4f8; color: #1b2430; }");
}

void CListCtrlCl::InsertColumn(int column, const QString& text, int width) {
  column = std::clamp(column, 0, columnCount());
  insertColumn(column);
  setHorizontalHeaderItem(column, new QTableWidgetItem(text));
  setColumnWidth(column, width);
}

int CListCtrlCl::InsertItem(int row, const QString& text) {
  row = std::clamp(row, 0, rowCount());
  insertRow(row);
  SetItemText(row, 0, text);
  return row;
}

void CListCtrlCl::SetItemText(int row, int column, const QString& text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return;
  if (QTableWidgetItem* existing = item(row, column)) {
    existing->setText(text);
  } else {
    setItem(row, column, new QTableWidgetItem(text));
  }
}

QString CListCtrlCl::ItemText(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell != nullptr ? cell->text() : QString();
}

void CListCtrlCl::DeleteItem(int row) {
  if (row >= 0 && row < rowCount()) removeRow(row);
}

std::vector<int> CListCtrlCl::SelectedRows() const {
  std::set<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.insert(index.row());
  return {rows.begin(), rows.end()};
}

void CListCtrlCl::SetRowColors(int row, const QColor& text, const QColor& background) {
  for (int column = 0; column < columnCount(); ++column) SetItemColors(row, column, text, background);
}

void CListCtrlCl::SetItemColors(int row, int column, const QColor& text, const QColor& background) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return;
  if (item(row, column) == nullptr) setItem(row, column, new QTableWidgetItem());
  item(row, column)->setForeground(text);
  item(row, column)->setBackground(background);
}

}  // namespace spherolux::ui

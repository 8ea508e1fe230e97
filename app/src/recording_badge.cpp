#include "app/recording_badge.h"

#include <QPainter>

#include "app/keys.h"
#include "ui/bar_logic.h"
#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::app {

namespace {
constexpr int kDot = 10;
constexpr int kPadding = 10;
}  // namespace

RecordingBadge::RecordingBadge(QWidget* parent) : QWidget(parent) {
  setObjectName("recordingBadge");
  setAttribute(Qt::WA_NativeWindow);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFont(ui::SkinFont(14, 500));
  setAccessibleDescription(Text(ui::kStrRecordingBadgeHelp));
  tick_.setInterval(500);
  connect(&tick_, &QTimer::timeout, this, [this] { Refresh(); });
  hide();
}

QString RecordingBadge::text() const {
  return Text(ui::kStrRecordingBadge, QString::fromStdString(ui::FormatTime(clock_.isValid() ? clock_.elapsed() : 0)));
}

void RecordingBadge::Start() {
  clock_.start();
  tick_.start();
  Refresh();
  show();
  raise();
}

void RecordingBadge::Stop() {
  tick_.stop();
  clock_.invalidate();
  hide();
}

void RecordingBadge::Refresh() {
  const QString shown = text();
  setAccessibleName(shown);
  resize(kPadding + kDot + 8 + fontMetrics().horizontalAdvance(shown) + kPadding, 28);
  update();
}

void RecordingBadge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), QColor(ui::skin_color::kWindow));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 200));
  painter.drawRoundedRect(rect(), 6, 6);
  painter.setBrush(QColor(0xE5, 0x2B, 0x2B));
  painter.drawEllipse(QRect(kPadding, (height() - kDot) / 2, kDot, kDot));
  painter.setPen(QColor(ui::skin_color::kTitleText));
  painter.drawText(rect().adjusted(kPadding + kDot + 8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
}

}  // namespace spherolux::app

#include "ui/skinned_dialog.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <vector>

#include "base/log.h"
#include "platform/window_frame.h"
#include "ui/button_ex.h"
#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::ui {

SkinnedDialog::SkinnedDialog(QWidget* parent, QSize size)
    : MessageWindow(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_StyledBackground, false);
  resize(size);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(skin_color::kDialog));
  palette.setColor(QPalette::WindowText, QColor(skin_color::kDialogText));
  setPalette(palette);
  setFont(SkinFont(14));
}

void SkinnedDialog::SetTitle(const QString& title) {
  title_ = title;
  setWindowTitle(title);
  update(0, 0, width(), kTitleHeight);
}

namespace {

CButtonEx* MakeTitleButton(QWidget* dialog, int control_id, int normal, int hover, int pressed, int tip,
                           int description) {
  auto* button = new CButtonEx(control_id, dialog);
  button->SetImages({normal, hover, pressed, 0, kImgCaptionStrip, {}});
  button->SetTooltipText(LoadString(tip));
  button->setAccessibleDescription(LoadString(description));
  return button;
}

}  // namespace

CButtonEx* SkinnedDialog::AddCloseButton(int control_id) {
  close_ =
      MakeTitleButton(this, control_id, kImgClose, kImgCloseHover, kImgClosePressed, kStrClose, kStrDescCloseWindow);
  PlaceTitleButtons();
  return close_;
}

CButtonEx* SkinnedDialog::AddMinimiseButton(int control_id) {
  minimise_ = MakeTitleButton(this, control_id, kImgMinimise, kImgHover, kImgMinimisePressed, kStrMinimise,
                              kStrDescMinimiseWindow);
  PlaceTitleButtons();
  return minimise_;
}

void SkinnedDialog::SetTitleButtonsMargin(int right) {
  title_buttons_margin_ = right;
  PlaceTitleButtons();
}

void SkinnedDialog::PlaceTitleButtons() {
  // One pixel down and one shorter than the band: the frame's top line stays visible above them.
  int x = width() - std::max(1, title_buttons_margin_);
  for (CButtonEx* button : {close_, minimise_}) {
    if (button == nullptr) continue;
    x -= button->width();
    ButtonImages images = button->images();
    images.strip_origin = QPoint(x, 1);
    button->SetImages(images);  // takes the images' own size again
    button->setGeometry(x, 1, button->width(), kTitleHeight - 1);
  }
}

void SkinnedDialog::CentreOn(QWidget* over) {
  if (over == nullptr && parentWidget() != nullptr) over = parentWidget()->window();
  QRect area;
  if (over != nullptr) {
    area = over->frameGeometry();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  move(area.center() - QPoint(width() / 2, height() / 2));
}

void SkinnedDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(skin_color::kDialog));
  const QSize left = SkinImageSize(kImgTitleLeft), right = SkinImageSize(kImgTitleRight);
  DrawSkinImage(painter, QRect(0, 0, width(), kTitleHeight), kImgCaptionStrip);
  DrawSkinImage(painter, QRect(QPoint(0, 0), left), kImgTitleLeft);
  DrawSkinImage(painter, QRect(QPoint(width() - right.width(), 0), right), kImgTitleRight);
  if (!title_.isEmpty()) {
    painter.setPen(QColor(skin_color::kTitleText));
    painter.setFont(SkinFont(14, 500));
    painter.drawText(QRect(left.width() + 2, 0, width() - left.width() - 80, kTitleHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, title_);
  }
  // A hairline frame keeps the borderless dialog apart from what lies behind it.
  painter.setPen(QColor(0xFF8C939D));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void SkinnedDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->position().y() < kTitleHeight) {
    platform::BeginWindowMove(this, this, event->globalPosition().toPoint());
    return;
  }
  MessageWindow::mousePressEvent(event);
}

void SkinnedDialog::resizeEvent(QResizeEvent* event) {
  PlaceTitleButtons();
  MessageWindow::resizeEvent(event);
}

platform::LParam SkinnedDialog::onMessage(unsigned msg, WParam w, LParam) {
  if (msg != kWmCommand) return 0;
  if (close_ != nullptr && static_cast<int>(w) == close_->controlId()) {
    if (inModal()) endModal(0);
    hide();
  } else if (minimise_ != nullptr && static_cast<int>(w) == minimise_->controlId()) {
    showMinimized();
  }
  return 0;
}

namespace {

class MessageBoxDialog : public SkinnedDialog {
 public:
  MessageBoxDialog(QWidget* parent, const QString& text, const QString& caption, BoxButtons buttons, BoxIcon icon)
      : SkinnedDialog(parent, QSize(420, 160)), icon_(icon) {
    setObjectName("messageBox");
    SetTitle(caption);
    std::vector<std::pair<int, int>> answers;  // answer, text id
    switch (buttons) {
      case BoxButtons::kOk:
        answers = {{kIdOk, kStrOk}};
        escape_ = kIdOk;
        break;
      case BoxButtons::kOkCancel:
        answers = {{kIdOk, kStrOk}, {kIdCancel, kStrCancel}};
        escape_ = kIdCancel;
        break;
      case BoxButtons::kYesNo:
        answers = {{kIdYes, kStrYes}, {kIdNo, kStrNo}};
        escape_ = kIdNo;
        break;
    }
    default_ = answers.front().first;

    const int text_left = icon == BoxIcon::kNone ? 24 : 70;
    label_ = new QLabel(text, this);
    label_->setObjectName("messageText");
    label_->setWordWrap(true);
    label_->setFont(SkinFont(14));
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int text_width = 420 - text_left - 24;
    const int text_height = std::max(40, label_->heightForWidth(text_width));
    label_->setGeometry(text_left, kTitleHeight + 22, text_width, text_height);

    const int buttons_top = kTitleHeight + 22 + text_height + 20;
    int x = 420 - 16;
    for (auto it = answers.rbegin(); it != answers.rend(); ++it) {
      auto* button = new CButtonEx(it->first, this);
      button->SetImages({kImgButton, kImgButtonHover, kImgButtonPressed, kImgButtonDisabled, 0, {}});
      button->SetCaptionStyle(SkinFont(14), QColor(skin_color::kDialogText), QColor(skin_color::kDisabledText));
      button->setText(LoadString(it->second));
      button->setObjectName(QString("answer%1").arg(it->first));
      const int w = std::max(84, QFontMetrics(button->font()).horizontalAdvance(button->text()) + 32);
      x -= w;
      button->setGeometry(x, buttons_top, w, 30);
      x -= 10;
    }
    resize(420, buttons_top + 30 + 16);
  }

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override {
    if (msg == kWmCommand) {
      endModal(static_cast<int>(w));
      return 0;
    }
    return SkinnedDialog::onMessage(msg, w, l);
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) {
      endModal(escape_);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
      endModal(default_);
    } else {
      SkinnedDialog::keyPressEvent(event);
    }
  }

  void closeEvent(QCloseEvent* event) override {
    endModal(escape_);
    SkinnedDialog::closeEvent(event);
  }

  void paintEvent(QPaintEvent* event) override {
    SkinnedDialog::paintEvent(event);
    if (icon_ == BoxIcon::kNone) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(24, kTitleHeight + 22, 32, 32);
    const QColor color = icon_ == BoxIcon::kWarning ? QColor(0xFFE0A030) : QColor(skin_color::kAccent);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(disc);
    painter.setPen(Qt::white);
    painter.setFont(SkinFont(20, 700));
    painter.drawText(disc, Qt::AlignCenter, icon_ == BoxIcon::kQuestion ? "?" : icon_ == BoxIcon::kWarning ? "!" : "i");
  }

 private:
  BoxIcon icon_;
  QLabel* label_ = nullptr;
  int default_ = kIdOk;
  int escape_ = kIdCancel;
};

}  // namespace

int MessageBox(QWidget* parent, const QString& text, const QString& caption, BoxButtons buttons, BoxIcon icon) {
  // The text goes to the log as well, for bug reports and for tests that watch the program.
  Tracef("message box: %s", text.toUtf8().constData());
  MessageBoxDialog box(parent, text, caption, buttons, icon);
  box.CentreOn();
  box.raise();
  box.activateWindow();
  box.setFocus();
  const int answer = box.runModal();
  // The keyboard goes back to the window the box was about.
  if (parent != nullptr) parent->window()->activateWindow();
  return answer;
}

bool OpenExternally(QWidget* parent, const QUrl& url) {
  if (QDesktopServices::openUrl(url)) return true;
  const QString name = url.isLocalFile() ? url.toLocalFile() : url.toString();
  MessageBox(parent, QString::fromUtf8(LoadString(kStrNoLauncher)).replace("%s", name), {}, BoxButtons::kOk,
             BoxIcon::kWarning);
  return false;
}

}  // namespace spherolux::ui

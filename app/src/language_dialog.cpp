#include "app/language_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPolygonF>

#include "app/keys.h"
#include "platform/messages.h"
#include "ui/button_ex.h"
#include "ui/settings.h"
#include "ui/skin.h"

namespace spherolux::app {

namespace {

// A drop-down that reads as one: the field, a separator and a chevron on its right. The style
// sheet gives the field its look; the arrow is drawn here, as a style sheet drops the style's.
class DropDownList final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  static constexpr int kButtonWidth = 24;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int x = width() - kButtonWidth;
    painter.setPen(QColor(0xB4, 0xBC, 0xC7));
    painter.drawLine(QPointF(x + 0.5, 5), QPointF(x + 0.5, height() - 5));
    QPen chevron(QColor(ui::skin_color::kDialogText), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(chevron);
    const QPointF centre(x + kButtonWidth / 2.0, height() / 2.0 + 1);
    painter.drawPolyline(QPolygonF({centre + QPointF(-4, -2.5), centre + QPointF(0, 1.5), centre + QPointF(4, -2.5)}));
  }
};

}  // namespace

CDlgSetLanguage::CDlgSetLanguage(platform::MessageWindow* owner, std::string language_file, ui::Language current,
                                 std::function<bool()> restart)
    : SkinnedDialog(owner, kSize),
      owner_(owner),
      language_file_(std::move(language_file)),
      current_(current),
      restart_(std::move(restart)) {
  setObjectName("languageDialog");
  AddCloseButton(1);
  label_ = new QLabel(Text(ui::kStrSelectLanguage), this);
  label_->setGeometry(20, kTitleHeight + 14, 200, 22);
  list_ = new DropDownList(this);
  list_->setObjectName("languageList");
  // The names stay in their own language whatever the interface shows.
  list_->addItem(QString::fromUtf8("English(United States)"));
  list_->addItem(QString::fromUtf8("中文(简体，中国)"));
  list_->setGeometry(20, kTitleHeight + 40, 200, 26);
  list_->setAccessibleName(Text(ui::kStrLanguage));
  list_->setAccessibleDescription(Text(ui::kStrDescLanguageList));
  list_->setStyleSheet(
      "QComboBox { background: #ffffff; border: 1px solid #b4bcc7; border-radius: 4px; padding: 1px 8px; "
      "color: #2b3038; }"
      "QComboBox:hover { border-color: #6fb0e8; }"
      "QComboBox::drop-down { border: none; width: 24px; }"
      "QComboBox QAbstractItemView { background: #ffffff; selection-background-color: #cfe4f8; "
      "selection-color: #1b2430; }");
  auto* ok = new ui::CButtonEx(kOk, this);
  ok->setObjectName("languageOk");
  ok->SetImages({ui::kImgButton, ui::kImgButtonHover, ui::kImgButtonPressed, ui::kImgButtonDisabled, 0, {}});
  ok->SetCaptionStyle(ui::SkinFont(14), QColor(ui::skin_color::kDialogText), QColor(ui::skin_color::kDisabledText));
  ok->setText(Text(ui::kStrConfirm));
  ok->setAccessibleName(Text(ui::kStrConfirm));
  ok->setAccessibleDescription(Text(ui::kStrDescConfirm));
  ok->setGeometry(140, kTitleHeight + 76, 80, 28);
}

int CDlgSetLanguage::PreselectedItem(ui::Language language) {
  switch (language) {
    case ui::Language::kEnglish:
      return 0;
    case ui::Language::kChinese:
      return 1;
    case ui::Language::kOther:
      break;
  }
  return -1;
}

void CDlgSetLanguage::Open() {
  list_->setCurrentIndex(PreselectedItem(current_));
  CentreOn(owner_);
  show();
  raise();
  activateWindow();
}

void CDlgSetLanguage::OnOk() {
  const int selected = list_->currentIndex();
  hide();
  if (selected < 0 || selected == PreselectedItem(current_)) return;
  const uint32_t locale = selected == 0 ? ui::kLocaleEnglishUs : ui::kLocaleChinesePrc;
  if (!ui::WriteLanguageFile(language_file_, locale)) {
    // Restarting would only bring the same language back: say why nothing changes.
    ui::MessageBox(owner_, Text(ui::kStrLanguageSaveFailed, QString::fromStdString(language_file_)), {},
                   ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
    return;
  }
  if (restart_ && restart_() && owner_ != nullptr) owner_->post(platform::kMsgClose);
}

platform::LParam CDlgSetLanguage::onMessage(unsigned msg, WParam w, LParam l) {
  if (msg == ui::kWmCommand && w == kOk) {
    OnOk();
    return 0;
  }
  return SkinnedDialog::onMessage(msg, w, l);
}

}  // namespace spherolux::app

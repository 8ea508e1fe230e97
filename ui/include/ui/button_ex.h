// CButtonEx: a skinned push button drawn from skin images (skin.h).
//
// Four state images (normal, hover, pressed, disabled; each optional), an optional active image
// for toggles that show their state, a background cut from a strip image so that the button
// blends into the bar under it (or a plain colour), and caption text. The hover image is drawn
// over the normal one; the others replace it. Without any image the button draws only its
// background and still works.
//
// A click sends kWmCommand (wparam: the control id) to the parent when the parent is a
// MessageWindow; the clicked() signal fires as for any button. Tooltips appear after 2000 ms of
// hovering. UI thread only.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPoint>
#include <QTimer>

namespace spherolux::ui {

// The notification a button sends its parent window when clicked: wparam = control id.
constexpr unsigned kWmCommand = 0x0111;

struct ButtonImages {
  int normal = 0, hover = 0, pressed = 0, disabled = 0;
  int strip = 0;              // background strip image, 0 for none
  QPoint strip_origin{0, 0};  // where the button sits on the strip
};

class CButtonEx : public QAbstractButton {
 public:
  CButtonEx(int control_id, QWidget* parent);

  int controlId() const { return control_id_; }
  // Replaces the images; the button takes the normal image's natural size.
  void SetImages(const ButtonImages& images);
  const ButtonImages& images() const { return images_; }
  // The image drawn instead of the normal one while `active` (0: none).
  void SetActiveImage(int image) { active_image_ = image; }
  void SetActive(bool active);
  bool active() const { return active_; }
  // The background when no strip image is set (invalid: the parent's background shows).
  void SetFallbackBackground(const QColor& color) { fallback_ = color; }
  // Draws the state image stretched into the button inset by 3 pixels instead of centred.
  void SetStretch(bool stretch) { stretch_ = stretch; }
  // The tooltip is the button's accessible name as well (a screen reader reads it).
  void SetTooltipText(const QString& text);
  const QString& tooltipText() const { return tooltip_; }
  // Caption font and colour (text is QAbstractButton::setText).
  void SetCaptionStyle(const QFont& font, const QColor& color, const QColor& disabled_color);
  bool hovered() const { return hovered_; }
  // Runs from the pointer's arrival until the tooltip shows.
  const QTimer& tooltipTimer() const { return tooltip_timer_; }
  // The image the next paint shows (0 when none applies), following the state rules.
  int CurrentImage() const;

  QSize sizeHint() const override;

  static constexpr int kTooltipDelayMs = 2000;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void OnClicked();
  void ShowTooltip();

  int control_id_;
  ButtonImages images_;
  int active_image_ = 0;
  bool active_ = false;
  QColor fallback_;
  bool stretch_ = false;
  QString tooltip_;
  QColor text_color_{0xFF2B3038};
  QColor disabled_text_color_{0xFF9AA0A8};
  bool hovered_ = false;
  QTimer tooltip_timer_;
};

}  // namespace spherolux::ui

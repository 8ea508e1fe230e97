// SkinnedDialog: the look every dialog of the program shares: a borderless window with a
// 30-pixel title band (skin images 189, 158 and 188: the logo, the band, its end), the title
// text on it, a body of RGB(237, 237, 237), and optional minimise and close buttons on the
// band. Pressing the band moves the window. Buttons placed on the dialog send kWmCommand with
// their control id to it (button_ex.h); a subclass handles them in onMessage.
//
// MessageBox: the program's message box in the same look, with its texts in the UI language.
// UI thread only.
#pragma once

#include <QString>

class QUrl;

#include "platform/message_window.h"

namespace spherolux::ui {

class CButtonEx;

class SkinnedDialog : public platform::MessageWindow {
 public:
  static constexpr int kTitleHeight = 30;

  // A top-level dialog over `parent` (may be null) with the given client size.
  SkinnedDialog(QWidget* parent, QSize size);

  void SetTitle(const QString& title);
  const QString& title() const { return title_; }
  // Puts a close (or minimise) button on the title band that sends kWmCommand with `control_id`.
  CButtonEx* AddCloseButton(int control_id);
  CButtonEx* AddMinimiseButton(int control_id);
  // Distance of the close button's right edge from the dialog's right edge (6 by default);
  // minimise sits left of close. The buttons keep off the frame's top and right lines.
  void SetTitleButtonsMargin(int right);
  // Centres the dialog on `over` (its parent's window when null).
  void CentreOn(QWidget* over = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Close and minimise buttons end up here unless a subclass handles their ids itself:
  // close ends a modal run with 0 and hides the dialog; minimise minimises it.
  LParam onMessage(unsigned msg, WParam w, LParam l) override;

 private:
  void PlaceTitleButtons();

  QString title_;
  int title_buttons_margin_ = 6;
  CButtonEx* close_ = nullptr;
  CButtonEx* minimise_ = nullptr;
};

// Buttons of a message box and its answers (the numbers of the classic message box).
enum class BoxButtons { kOk, kOkCancel, kYesNo };
enum BoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };
enum class BoxIcon { kNone, kInformation, kQuestion, kWarning };

// Shows `text` modally over `parent` and returns the answer (Cancel or No when closed otherwise).
// `caption` may be empty; the band then shows only the logo.
int MessageBox(QWidget* parent, const QString& text, const QString& caption, BoxButtons buttons = BoxButtons::kOk,
               BoxIcon icon = BoxIcon::kNone);

// Hands `url` (a folder, a file or a web page) to the desktop's program for it. Where the
// desktop has none, says so in a message box over `parent`; returns whether it was handed on.
bool OpenExternally(QWidget* parent, const QUrl& url);

}  // namespace spherolux::ui

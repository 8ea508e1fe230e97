// CUploadDlg: the upload shortcuts, a small child window of the converter with one button
// per video-sharing service. A click opens the service's upload page in the default
// browser (QDesktopServices) and hides the window; the program uploads nothing itself.
// UI thread only.
#pragma once

#include <span>

#include "ui/skinned_dialog.h"

namespace spherolux::dialogs {

struct UploadService {
  int control_id;
  const char* name;  // the service's own name, shown under its button
  int image;         // skin image id
  bool visible;      // Youku's button exists but is never shown
  const char* url;   // the page where a video is uploaded
};
std::span<const UploadService> UploadServices();

class CUploadDlg : public ui::SkinnedDialog {
 public:
  static constexpr QSize kSize{210, 150};

  explicit CUploadDlg(QWidget* parent);
  // Shows the window when it is hidden, hides it otherwise.
  void Toggle();

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
};

}  // namespace spherolux::dialogs

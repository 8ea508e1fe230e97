// The program's one tooltip: skinned like the bars, placed beside the control it explains (below
// it, or above where the screen ends), always inside the screen and never under the pointer.
//
// Skinned controls show it themselves (CButtonEx after its delay, the seek bar's time);
// InstallSkinnedTooltips turns every other widget's toolTip() into it as well.
//
// UI thread only.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

class QWidget;

namespace spherolux::ui {

// Shows `text` for `anchor`, centred on the anchor's x coordinate `centre_x` (widget
// coordinates; -1: the middle), for at most `timeout_ms`. An empty text hides the tooltip.
void ShowTooltip(QWidget* anchor, const QString& text, int centre_x = -1, int timeout_ms = 20000);
// Hides the tooltip when it belongs to `anchor` (null: whoever it belongs to).
void HideTooltip(const QWidget* anchor = nullptr);
// The tooltip's window while shown, else null (tests, screen readers).
QWidget* ShownTooltip();

// Where a tooltip of `size` goes for a control covering `anchor` (global coordinates), centred
// on `centre_x`: 6 pixels below the control, or above it where the screen ends below; moved
// sideways into `screen`; never over `pointer`.
QRect PlaceTooltip(QSize size, const QRect& anchor, int centre_x, const QRect& screen, QPoint pointer);

// Shows the skinned tooltip instead of the style's for every widget of the program.
void InstallSkinnedTooltips();

}  // namespace spherolux::ui

// Sizing and placing the two dialogs the way their templates lay them out.
//
// The forms (newfile.ui, preferences.ui) hold every control at its template
// position measured in dialog units and drawn at the reference scale: 1.5 pixels
// across and 1.625 down per unit, which is what an 8-point "MS Sans Serif" gives at
// 96 dpi. At run time each position is turned back into dialog units and then into
// pixels of the dialog's own font, so the dialogs grow with a larger font instead
// of cutting their texts.
//
// Threads: user-interface thread only.
#pragma once

#include <QRect>
#include <QSize>

class QDialog;
class QFont;
class QWidget;

// Pixels per four dialog units across and per eight down for `font`: the average
// width of the Latin letters and the line height, as the dialog manager measures
// them.
QSize DialogBaseUnits(const QFont& font);

// A rectangle in dialog units to pixels for `baseUnits`.
QRect DialogUnitsToPixels(const QRect& units, QSize baseUnits);

// The form's reference pixels back to dialog units.
QRect ReferencePixelsToDialogUnits(const QRect& pixels);

// Moves and sizes every child control and the dialog's client area from the
// form's reference pixels to the dialog's font, and fixes the size (the frame is
// not resizable).
void ScaleToDialogFont(QDialog* dialog);

// Puts the dialog's frame at the top-left corner of the owner's client area, as
// the templates ask (0, 0 relative to the owner, not centred). No owner: left
// where the window system puts it.
void PlaceAtOwner(QDialog* dialog, QWidget* owner);

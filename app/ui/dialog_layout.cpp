#include "dialog_layout.h"

#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QMainWindow>
#include <QString>
#include <QWidget>
#include <cmath>

namespace {

// Pixels per dialog unit at the reference scale the forms are drawn in.
constexpr double kReferenceAcross = 1.5;
constexpr double kReferenceDown = 1.625;

int ToUnits(int pixels, double perUnit) { return static_cast<int>(std::lround(pixels / perUnit)); }

// Units to pixels, rounded to the nearest pixel: units * base / divisor.
int ToPixels(int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

}  // namespace

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average of the 52 letters, rounded half up.
    return QSize((letters / 26 + 1) / 2, metrics.height());
}

QRect DialogUnitsToPixels(const QRect& units, QSize baseUnits) {
    return QRect(ToPixels(units.x(), baseUnits.width(), 4),
                 ToPixels(units.y(), baseUnits.height(), 8),
                 ToPixels(units.width(), baseUnits.width(), 4),
                 ToPixels(units.height(), baseUnits.height(), 8));
}

QRect ReferencePixelsToDialogUnits(const QRect& pixels) {
    return QRect(ToUnits(pixels.x(), kReferenceAcross), ToUnits(pixels.y(), kReferenceDown),
                 ToUnits(pixels.width(), kReferenceAcross),
                 ToUnits(pixels.height(), kReferenceDown));
}

void ScaleToDialogFont(QDialog* dialog) {
    const QSize base = DialogBaseUnits(dialog->font());
    for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) continue;
        child->setGeometry(
            DialogUnitsToPixels(ReferencePixelsToDialogUnits(child->geometry()), base));
    }
    const QRect client = DialogUnitsToPixels(
        ReferencePixelsToDialogUnits(QRect(QPoint(0, 0), dialog->size())), base);
    dialog->setFixedSize(client.size());
}

void PlaceAtOwner(QDialog* dialog, QWidget* owner) {
    if (owner == nullptr) return;
    // The client area of a main window starts below its menu bar.
    QWidget* client = owner;
    if (auto* mainWindow = qobject_cast<QMainWindow*>(owner)) {
        if (mainWindow->centralWidget() != nullptr) client = mainWindow->centralWidget();
    }
    dialog->move(client->mapToGlobal(QPoint(0, 0)));
}

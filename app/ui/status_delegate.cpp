#include "status_delegate.h"

#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QVariant>
#include <algorithm>

#include "download_job.h"

double ProgressFraction(const DownloadJob& job) {
    return ProgressFraction(job.status.load(std::memory_order_relaxed),
                            job.totalSize.load(std::memory_order_relaxed));
}

double ProgressFraction(long long status, std::uint64_t total) {
    if (status < 0 || total == 0 || total == SIZE_UNKNOWN) return -1.0;
    return std::min(1.0, static_cast<double>(status) / static_cast<double>(total));
}

void StatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    const QVariant value = index.data(kProgressRole);
    if (!value.isValid()) return;
    const double fraction = std::clamp(value.toDouble(), 0.0, 1.0);

    // Under the text, inset like the text itself, in the colours of the row's
    // state so the bar stays visible on a selected row.
    const QRect cell = option.rect.adjusted(2, 0, -2, 0);
    const QRect track(cell.left(), cell.bottom() - kBarMargin - kBarHeight + 1, cell.width(),
                      kBarHeight);
    if (track.width() <= 0) return;
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const QPalette& palette = option.palette;
    painter->save();
    painter->fillRect(track, selected ? palette.color(QPalette::HighlightedText).darker(130)
                                      : palette.color(QPalette::Midlight));
    QRect done = track;
    done.setWidth(static_cast<int>(track.width() * fraction + 0.5));
    if (done.width() > 0) {
        painter->fillRect(done, selected ? palette.color(QPalette::HighlightedText)
                                         : palette.color(QPalette::Highlight));
    }
    painter->restore();
}

QSize StatusDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    // Every row gets the room, bar or not, so rows keep one height as jobs start
    // and end.
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(size.height() + kBarHeight + kBarMargin);
    return size;
}

// The Status cell of a running job whose length is known: its text exactly as
// always, and a thin progress bar along the bottom of the cell.
//
// The fraction is stored in the cell under kProgressRole when the row is updated
// (job_table_model.h), so painting never reads the jobs.
//
// Threads: user-interface thread only.
#pragma once

#include <QStyledItemDelegate>
#include <cstdint>

class DownloadJob;

// Item data role of the Status cell holding the fraction done, a double in [0, 1];
// absent when no bar is drawn.
inline constexpr int kProgressRole = Qt::UserRole + 1;

// The fraction of the job's bytes in hand while its data arrives and its length
// is known; a negative value otherwise (no bar).
double ProgressFraction(const DownloadJob& job);
// The same from one reading of the status and the length.
double ProgressFraction(long long status, std::uint64_t total);

class StatusDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // Height of the bar and the gap below it, in pixels; the rows grow by it.
    static constexpr int kBarHeight = 3;
    static constexpr int kBarMargin = 1;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

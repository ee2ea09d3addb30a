#include "job_filter.h"

#include "job_table_model.h"
#include "main_thread.h"

namespace {

constexpr const char* kNames[kViewFilterCount] = {"All",     "Running", "Waiting",
                                                   "Paused",  "Done",    "Failed"};

// The row state each filter keeps (All keeps every row).
RowState StateFor(ViewFilter filter) {
    switch (filter) {
        case ViewFilter::kRunning:
            return RowState::kRunning;
        case ViewFilter::kPaused:
            return RowState::kPaused;
        case ViewFilter::kDone:
            return RowState::kDone;
        case ViewFilter::kFailed:
            return RowState::kFailed;
        default:
            return RowState::kWaiting;
    }
}

}  // namespace

const char* ViewFilterName(ViewFilter filter) { return kNames[static_cast<int>(filter)]; }

ViewFilter ViewFilterNamed(const std::string& name) {
    for (int i = 0; i < kViewFilterCount; ++i) {
        if (name == kNames[i]) return static_cast<ViewFilter>(i);
    }
    return ViewFilter::kAll;
}

JobFilterProxy::JobFilterProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setObjectName(QStringLiteral("jobFilter"));
    // Never re-sorted or re-filtered by a change of a row: see Settle.
    setDynamicSortFilter(false);
    setSortRole(kSortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    timer_.setInterval(kSettleMs);
    connect(&timer_, &QTimer::timeout, this, &JobFilterProxy::Settle);
    timer_.start();
}

void JobFilterProxy::setSourceModel(QAbstractItemModel* source) {
    QSortFilterProxyModel::setSourceModel(source);
    rows_ = qobject_cast<const JobTableModel*>(source);
    if (source != nullptr) {
        connect(source, &QAbstractItemModel::dataChanged, this, [this] { changed_ = true; });
    }
}

void JobFilterProxy::SetStateFilter(ViewFilter filter) {
    VANTOREL_ASSERT_UI_THREAD();
    if (filter == state_) return;
    state_ = filter;
    invalidateFilter();
}

void JobFilterProxy::SetText(const QString& text) {
    VANTOREL_ASSERT_UI_THREAD();
    if (text == text_) return;
    text_ = text;
    invalidateFilter();
}

bool JobFilterProxy::Active() const {
    return sortColumn() >= 0 || state_ != ViewFilter::kAll || !text_.isEmpty();
}

void JobFilterProxy::Settle() {
    if (!changed_ || !Active()) return;
    changed_ = false;
    invalidate();  // keeps the selection and the current row
}

bool JobFilterProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (rows_ == nullptr) return QSortFilterProxyModel::lessThan(left, right);
    return rows_->RowLess(left.row(), right.row(), left.column());
}

bool JobFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (rows_ != nullptr) {
        if (state_ != ViewFilter::kAll && rows_->StateAt(sourceRow) != StateFor(state_)) {
            return false;
        }
        return text_.isEmpty() || rows_->RowHolds(sourceRow, text_);
    }
    const QAbstractItemModel* source = sourceModel();
    if (state_ != ViewFilter::kAll &&
        source->index(sourceRow, 0, sourceParent).data(kStateRole).toInt() !=
            static_cast<int>(StateFor(state_))) {
        return false;
    }
    if (text_.isEmpty()) return true;
    for (int column : {kUrlColumn, kFileColumn}) {
        if (source->index(sourceRow, column, sourceParent)
                .data(Qt::DisplayRole)
                .toString()
                .contains(text_, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

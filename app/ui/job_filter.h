// Which rows the list shows and in what order: a proxy over the job model
// (job_table_model.h), whose own order stays the queue's.
//
// A filter by what the job is doing (All, Running, Waiting, Paused, Done, Failed)
// and by a text found in its URL or file name, and a sort by a column when the
// user clicks its header. Neither follows every change of a row: rows change
// many times a second, and a re-sort of a long list at each change would cost
// the list's length per change. The proxy sorts and filters when the user asks,
// when the rows are rebuilt, and on a slow timer when rows changed meanwhile.
//
// Threads: user-interface thread only.
#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <QTimer>
#include <string>

class JobTableModel;

enum class ViewFilter { kAll, kRunning, kWaiting, kPaused, kDone, kFailed };
inline constexpr int kViewFilterCount = 6;

// "All", "Running", "Waiting", "Paused", "Done", "Failed": shown, and stored in
// the settings.
const char* ViewFilterName(ViewFilter filter);
// The filter of that name; All for any other text.
ViewFilter ViewFilterNamed(const std::string& name);

class JobFilterProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    // How often changed rows are sorted and filtered again while a sort or a
    // filter is on.
    static constexpr int kSettleMs = 2000;

    explicit JobFilterProxy(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* source) override;

    ViewFilter stateFilter() const { return state_; }
    void SetStateFilter(ViewFilter filter);
    // Rows whose URL or file name holds `text` (any case); "" for all.
    void SetText(const QString& text);

    // Sorts and filters again when rows changed since the last time and a sort
    // or a filter is on: the slow timer's tick.
    void Settle();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool Active() const;

    const JobTableModel* rows_ = nullptr;  // the source, when it is the job model
    ViewFilter state_ = ViewFilter::kAll;
    QString text_;
    bool changed_ = false;
    QTimer timer_;
};

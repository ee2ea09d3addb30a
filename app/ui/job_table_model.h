// The rows of the main window's list as a table model: row i shows job i of
// jobList, in list order, in five columns (URL, File, Status, LastError, Size).
// Views sort and filter it through a proxy (job_filter.h); its own order is the
// queue's.
//
// Each row holds what it shows: its texts, the Status cell's progress fraction,
// the LastError tooltip, and the keys a sort or a filter reads. A refresh takes
// one reading of the job's status and length and produces all of them from it;
// data() only hands them out and never reads a job. That matters beyond a
// consistent row: producing the LastError text of a job answered with 404 adds
// to its `tries` (job_texts.h), so it is produced only by the refreshes that
// renew LastError (a fill, a whole refresh, a job collected or started), never
// by sorting, filtering or painting.
//
// Threads: user-interface thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class DownloadJob;

// Column indexes of the list.
enum JobColumn { kUrlColumn, kFileColumn, kStatusColumn, kLastErrorColumn, kSizeColumn };

// What a row's job is doing, as the view filter tells them apart.
enum class RowState { kRunning, kWaiting, kPaused, kDone, kFailed };

// Data roles beyond Qt's (the progress fraction's is status_delegate.h's).
// The key a sort by the column compares: the text, or a number for Status
// (the status code or bytes received) and Size (the length, -1 unknown).
inline constexpr int kSortRole = Qt::UserRole + 3;
// The row's RowState, as an int, in every column.
inline constexpr int kStateRole = Qt::UserRole + 4;

class JobTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit JobTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Rebuilds every row from jobList, LastError included (a reset: views lose
    // their selection).
    void Fill();
    // Renews Status and Size, and LastError too when `withLastError`, of the rows
    // of `jobs`, then announces them with one dataChanged per run of adjacent
    // rows. Jobs without a row are passed over (compared, never read).
    void Refresh(const std::vector<DownloadJob*>& jobs, bool withLastError);
    // The same for every row.
    void RefreshAll(bool withLastError);
    // Takes the row of `job` out; the other rows stay as they are.
    void RemoveJobRow(const DownloadJob* job);

    // The row showing `job`, or -1. Constant time.
    int RowOf(const DownloadJob* job) const;
    // The job row `row` shows, or null.
    DownloadJob* JobAt(int row) const;

    // For the sort and the filter, straight from the rows (no QVariant per
    // comparison: a sort of a long list makes millions): whether row `a` goes
    // before row `b` by `column` (the numbers of Status and Size, the texts of the
    // others in any case), the row's state, and whether its URL or file name
    // holds `text` in any case. Rows must exist.
    bool RowLess(int a, int b, int column) const;
    RowState StateAt(int row) const;
    bool RowHolds(int row, const QString& text) const;

    // What follows a running row's Status text (its speed and time left), asked
    // for at every refresh of the row, after its reading; unset: nothing.
    std::function<QString(const DownloadJob* job)> speedText;

private:
    struct Row {
        DownloadJob* job = nullptr;
        QString texts[5];
        QString lastErrorTip;
        double progress = -1.0;  // negative: no bar
        long long status = 0;
        long long size = -1;
        RowState state = RowState::kWaiting;
    };

    void Produce(Row& row, bool withLastError) const;
    void Announce(int first, int last);

    std::vector<Row> rows_;
    std::unordered_map<const DownloadJob*, int> rowOf_;
};

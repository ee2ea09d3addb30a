// The list of jobs as the user sees it, for the widget tests: rows counted from
// the top of the view, read and selected through the view's own model, so the
// tests do not depend on how the rows are held.
#pragma once

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <QPoint>
#include <QString>
#include <QTreeView>
#include <QVariant>

#include "main_window.h"

namespace vtest {

inline QModelIndex CellIndex(MainWindow& window, int row, int column = 0) {
    return window.jobView()->model()->index(row, column);
}

inline int RowCount(MainWindow& window) { return window.jobView()->model()->rowCount(); }

inline QVariant CellData(MainWindow& window, int row, int column, int role) {
    return CellIndex(window, row, column).data(role);
}

inline QString CellText(MainWindow& window, int row, int column) {
    return CellData(window, row, column, Qt::DisplayRole).toString();
}

inline QString CellTip(MainWindow& window, int row, int column) {
    return CellData(window, row, column, Qt::ToolTipRole).toString();
}

// Adds the row to the selection.
inline void SelectRow(MainWindow& window, int row) {
    window.jobView()->selectionModel()->select(
        CellIndex(window, row), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

inline bool IsRowSelected(MainWindow& window, int row) {
    return window.jobView()->selectionModel()->isRowSelected(row, QModelIndex());
}

// The row becomes the current and only selected one, as a click makes it.
inline void SetCurrentRow(MainWindow& window, int row) {
    window.jobView()->setCurrentIndex(CellIndex(window, row));
}

// The current row, or -1.
inline int CurrentRow(MainWindow& window) {
    const QModelIndex current = window.jobView()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

// The middle of the row's first cell, in viewport coordinates.
inline QPoint RowCentre(MainWindow& window, int row) {
    return window.jobView()->visualRect(CellIndex(window, row)).center();
}

inline void DoubleClickRow(MainWindow& window, int row) {
    emit window.jobView()->doubleClicked(CellIndex(window, row));
}

}  // namespace vtest

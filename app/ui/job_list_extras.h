// What the main window shows beyond the five column texts: a progress bar in the
// Status cell and the speed of a running row (after its Status text and in its
// tooltip).
//
// Threads: user-interface thread only.
#pragma once

class JobTableModel;
class QTreeView;

// Installs the Status cell's bar and the speed tooltips on `list`, which shows
// `model`'s rows. Once.
void InstallJobListExtras(QTreeView* list, JobTableModel* model);

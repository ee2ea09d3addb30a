// What the main window shows beyond the five column texts: a progress bar in the
// Status cell, the speed tooltip of a running row, and New File for a dropped URL.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>

class DownloadJob;
class MainWindow;
class QTreeWidgetItem;

// Installs the Status cell's bar, the speed tooltips and the URL drop on `window`
// and its job list. Once, after the list exists.
void InstallJobListExtras(MainWindow* window);

// Call wherever a row's Status text is set, before it is: stores the fraction
// the bar draws, gives the job's speed meter a sample and refreshes the speed
// tooltip when it is the job's. The texts are not touched.
void NoteJobProgress(QTreeWidgetItem* item, const DownloadJob* job);

// What follows the Status text of a running row: its speed and time left,
// "1.50K/s 2:05"; "" when not known (yet).
QString JobSpeedText(QTreeWidgetItem* item, const DownloadJob* job);

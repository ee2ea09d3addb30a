// What the main window shows beyond the five column texts: a progress bar in the
// Status cell, the speed of a running row (after its Status text and in its
// tooltip), and New File for a dropped URL.
//
// Threads: user-interface thread only.
#pragma once

class MainWindow;

// Installs the Status cell's bar, the speed tooltips and the URL drop on `window`
// and its job list. Once, after the list exists.
void InstallJobListExtras(MainWindow* window);

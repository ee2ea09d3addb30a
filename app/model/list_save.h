// When the list file is written: at once after an add or a delete, but the saves
// that many runs ending together would cause are merged into one.
//
// A busy queue finishes jobs by the hundred a second; rewriting and syncing the
// whole file for each would cost n writes of n records. So the end of a Done run
// only asks for a save, and the main loop writes it at once after a quiet spell,
// else when kListSaveDelayMs have passed since its last save: one save per
// delay at most, and one at shutdown. Threads: user-interface thread only.
#pragma once

// How long a requested save may wait for the ones that follow it.
constexpr int kListSaveDelayMs = 250;

// Asks for a save; the main loop writes it within kListSaveDelayMs.
void SaveJobListSoon();

// True while a save has been asked for and not yet written.
bool JobListSavePending();

// Writes the list file now if a save is pending (SaveJobList); nothing otherwise.
void SaveJobListIfPending();

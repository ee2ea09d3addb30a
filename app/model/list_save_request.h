// A save of the list file asked for and not yet taken (list_save.h takes it).
//
// Anything that changes what the list file would hold asks here, low in the
// model, so that the queue and the own-file checks can ask without depending on
// the writer, which reads the queue.
//
// Threads: user-interface thread only.
#pragma once

// How long a requested save may wait for the ones that follow it.
constexpr int kListSaveDelayMs = 250;

// Asks for a save; the main loop takes it within kListSaveDelayMs.
void SaveJobListSoon();

// True while a save has been asked for and not yet taken.
bool JobListSavePending();

// Drops the request: the save it asked for is being written, or a whole save
// follows at once.
void DropJobListSaveRequest();

// What a download caught from a browser came with beyond its URL and file name:
// the page it was started from (sent as the first request's Referer), the
// browser's User-Agent and the cookies the browser would have sent (Netscape
// cookie-file lines). The list file keeps its format; these fields live in a
// file of their own beside it, "caught-downloads.dat" in the state folder, so
// that a resume after a restart still sends them.
//
// Cookies are secrets: the file is the user's alone (0600 from its creation,
// never written through a symbolic link) and replaced atomically. It holds an
// entry for every job with fields that the list file keeps (not Done, not marked
// for deletion), written with each save of the list; the entry of a Done or
// deleted job is gone with the next save. An entry is found again after a restart
// by the job's URL and file name as the list file holds them.
//
// Format: per job, fields "name=value" each ended by a NUL ("url", "file",
// "referer", "agent", then one "cookie" per cookie), the job closed by a lone NUL.
//
// Threads: user-interface thread only, like the queue.
#pragma once

#include <string>

#include "download_job.h"

// Gives `job` the fields: its runs send them. Never during a run.
void AttachCaughtFields(DownloadJob* job, CaughtFields fields);

// The fields of `job`, or null when it has none.
const CaughtFields* CaughtFieldsOf(const DownloadJob* job);

// "caught-downloads.dat" in the folder of the list file.
std::string CaughtFieldsPath();

// The file's bytes: an entry for each job with fields that the list keeps.
std::string CaughtFieldsBytes();

// Replaces the file when its bytes changed since the last save (no file is made
// while no job has fields). SaveJobList and the background save call it.
void SaveCaughtFields();

// Reads the file and gives each job of jobList the fields of the entry with its
// URL and file name. A missing, unreadable or cut file gives what it holds whole.
void LoadCaughtFields();

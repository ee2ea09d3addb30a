// A desktop notification when a download has finished: Done, or failed with no
// tries left. It goes to the freedesktop notification service on the session bus
// and no answer is awaited, so the window never waits on it; without a bus or a
// service nothing is shown and nothing is reported.
//
// A queue of many small files finishes downloads by the hundred a second, and a
// notice for each would bury the desktop. So within each stretch of
// desktopNoticeWindowMs the first kNoticesPerWindow finished downloads get a
// notice of their own at once; the ones after them are counted and told in one
// notice when the stretch ends ("Downloads finished": how many more completed,
// how many more failed), which starts the next stretch.
//
// Threads: user-interface thread only.
#pragma once

#include <QDBusMessage>
#include <QString>
#include <functional>

class DownloadJob;

// The org.freedesktop.Notifications Notify call showing `summary` and `body`
// (plain text: markup characters are escaped).
QDBusMessage DesktopNoticeCall(const QString& summary, const QString& body);

// Where notices are sent: the session bus by default. Tests put a recorder here.
extern std::function<void(const QDBusMessage& call)> sendDesktopNotice;

// How many finished downloads get a notice of their own within one stretch.
inline constexpr int kNoticesPerWindow = 3;
// The length of a stretch: 5 s (tests shorten it).
extern int desktopNoticeWindowMs;

// Tells the desktop when the run just collected finished the job for good: Done,
// or Failed with its tries used up (the scheduler, already run, did not restart
// it). A paused job's end says nothing.
void NoticeJobFinished(const DownloadJob* job);

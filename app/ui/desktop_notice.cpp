#include "desktop_notice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <algorithm>

#include "job_control.h"
#include "job_queue.h"

namespace {

void SendOnSessionBus(const QDBusMessage& call) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // send, not call: an answer (or the error of an absent service) is never
    // waited for.
    if (bus.isConnected()) bus.send(call);
}

// The notices of the current stretch. User-interface thread only.
struct Stretch {
    QElapsedTimer started;  // invalid before the first notice
    int sent = 0;           // notices of their own in this stretch
    int moreComplete = 0;   // finished after those, told at the stretch's end
    int moreFailed = 0;
    bool summaryDue = false;
};

Stretch& Current() {
    static Stretch stretch;
    return stretch;
}

void StartStretch(Stretch& stretch) {
    stretch.started.start();
    stretch.sent = 0;
}

void SendSummary() {
    Stretch& stretch = Current();
    stretch.summaryDue = false;
    QStringList lines;
    if (stretch.moreComplete > 0) {
        lines << QStringLiteral("%1 more downloads complete").arg(stretch.moreComplete);
    }
    if (stretch.moreFailed > 0) {
        lines << QStringLiteral("%1 more downloads failed").arg(stretch.moreFailed);
    }
    stretch.moreComplete = 0;
    stretch.moreFailed = 0;
    StartStretch(stretch);
    stretch.sent = 1;  // the summary is this stretch's first notice
    if (sendDesktopNotice) {
        sendDesktopNotice(
            DesktopNoticeCall(QStringLiteral("Downloads finished"), lines.join('\n')));
    }
}

}  // namespace

std::function<void(const QDBusMessage& call)> sendDesktopNotice = SendOnSessionBus;
int desktopNoticeWindowMs = 5000;

QDBusMessage DesktopNoticeCall(const QString& summary, const QString& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vantorel"));
    // Servers may read the body as markup: a file name holding '&' or '<' must
    // show as typed, not as a tag.
    call << QStringLiteral("Vantorel") << uint(0) << QStringLiteral("vantorel") << summary
         << body.toHtmlEscaped() << QStringList() << hints << int(-1);
    return call;
}

void NoticeJobFinished(const DownloadJob* job) {
    if (!sendDesktopNotice || job->thread != nullptr || job->paused != kNotPaused) return;
    const long long status = job->status.load(std::memory_order_relaxed);
    QString summary;
    if (status == STATUS_DONE) {
        summary = QStringLiteral("Download complete");
    } else if (status == STATUS_FAILED && job->tries >= maxTries) {
        summary = QStringLiteral("Download failed");
    } else {
        return;
    }
    Stretch& stretch = Current();
    if (!stretch.summaryDue &&
        (!stretch.started.isValid() || stretch.started.elapsed() >= desktopNoticeWindowMs)) {
        StartStretch(stretch);
    }
    if (stretch.sent >= kNoticesPerWindow) {
        ++(status == STATUS_DONE ? stretch.moreComplete : stretch.moreFailed);
        if (!stretch.summaryDue) {
            stretch.summaryDue = true;
            const qint64 left = desktopNoticeWindowMs - stretch.started.elapsed();
            QTimer::singleShot(static_cast<int>(std::max<qint64>(left, 0)),
                               QCoreApplication::instance(), SendSummary);
        }
        return;
    }
    ++stretch.sent;
    const QString name = job->fileName != nullptr ? QFile::decodeName(job->fileName) : QString();
    const QString url = QString::fromUtf8(job->url != nullptr ? job->url : "");
    sendDesktopNotice(DesktopNoticeCall(summary, name.isEmpty() ? url : name + "\n" + url));
}

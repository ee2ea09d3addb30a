#include "desktop_notice.h"

#include <QDBusConnection>
#include <QFile>
#include <QStringList>
#include <QVariantMap>

#include "job_control.h"
#include "job_queue.h"

namespace {

void SendOnSessionBus(const QDBusMessage& call) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // send, not call: an answer (or the error of an absent service) is never
    // waited for.
    if (bus.isConnected()) bus.send(call);
}

}  // namespace

std::function<void(const QDBusMessage& call)> sendDesktopNotice = SendOnSessionBus;

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
    const QString name = job->fileName != nullptr ? QFile::decodeName(job->fileName) : QString();
    const QString url = QString::fromUtf8(job->url != nullptr ? job->url : "");
    sendDesktopNotice(DesktopNoticeCall(summary, name.isEmpty() ? url : name + "\n" + url));
}

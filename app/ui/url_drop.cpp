#include "url_drop.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QList>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

QString DroppedUrl(const QMimeData* data) {
    if (data == nullptr) return QString();
    if (data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            // Encoded as the link was: the server gets the bytes the page named.
            const QString text = QString::fromUtf8(url.toEncoded());
            if (!text.isEmpty()) return text;
        }
    }
    if (data->hasText()) {
        const QString text = data->text().trimmed();
        return text.left(text.indexOf(QLatin1Char('\n'))).trimmed();
    }
    return QString();
}

UrlDrop::UrlDrop(QWidget* window) : QObject(window), window_(window) {
    setObjectName(QStringLiteral("urlDrop"));
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

bool UrlDrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_) return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (DroppedUrl(drag->mimeData()).isEmpty()) {
                drag->ignore();
            } else {
                drag->acceptProposedAction();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QByteArray url = DroppedUrl(drop->mimeData()).toUtf8();
            if (url.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // The dialog runs a loop of its own: open it once the drag has been
            // answered, so the source does not wait on a modal dialog.
            QTimer::singleShot(0, this, [this, url] { emit urlDropped(url); });
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}

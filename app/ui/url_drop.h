// A URL dragged onto the main window (a link from a browser, or its text) is
// handed on as urlDropped, which the window answers with New File with that URL
// in its box and the file name proposed as if typed.
//
// Threads: user-interface thread only.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QMimeData;

// The URL a drag carries: the first URL of a uri-list, else the first line of its
// plain text, trimmed; "" when it carries neither.
QString DroppedUrl(const QMimeData* data);

class UrlDrop : public QObject {
    Q_OBJECT

public:
    // Child of `window`; makes the window take drops and watches them.
    explicit UrlDrop(QWidget* window);

signals:
    // A URL was dropped, its drag answered: emitted from the event loop, so a
    // dialog opened here does not keep the drag's source waiting.
    void urlDropped(const QByteArray& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
};

#include "url_handoff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "file_name_chars.h"
#include "program_paths.h"

namespace {

// Unix socket paths are short (108 bytes with the NUL); a longer runtime folder
// leaves the name alone, which Qt places in the temporary folder.
constexpr int kMaxSocketPath = 100;
constexpr int kHandoffPatienceMs = 5000;

// The property of a connection's socket holding the bytes not yet split.
constexpr char kPendingProperty[] = "vantorelPending";

}  // namespace

void ReportIgnoredUrl(const char* text, bool nameTooLong) {
    if (nameTooLong) {
        std::fprintf(stderr, "vantorel: ignored \"%s\": the file name it proposes is over %zu bytes\n",
                     text, kLongestFileName);
        return;
    }
    std::fprintf(stderr, "vantorel: ignored \"%s\": a URL has at least %zu characters\n", text,
                 kShortestUrl);
}

std::vector<std::string> UrlArguments(int argc, char** argv) {
    std::vector<std::string> urls;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const std::string url = CutDialogText(argv[i], kDialogTextMax);
        if (DialogTextLength(url) < kShortestUrl) {
            ReportIgnoredUrl(argv[i]);
            continue;
        }
        urls.push_back(url);
    }
    return urls;
}

QString HandoffSocketName(const std::string& listPath) {
    const std::string folder = FolderOf(listPath);
    struct stat info {};
    QString name = QStringLiteral("vantorel-%1").arg(::getuid());
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) == 0) {
        name += QStringLiteral("-%1-%2")
                    .arg(static_cast<qulonglong>(info.st_dev), 0, 16)
                    .arg(static_cast<qulonglong>(info.st_ino), 0, 16);
    } else {
        // No folder to identify: its path, as the lock would try it.
        name += QLatin1Char('-') + QString::number(qHash(QByteArray::fromStdString(folder)), 16);
    }
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) return name;
    const QString path = QDir(runtime).filePath(name);
    return path.toLocal8Bit().size() <= kMaxSocketPath ? path : name;
}

bool HandUrlsToRunningInstance(const QString& socketName, const std::vector<std::string>& urls) {
    QByteArray batch;
    for (const std::string& url : urls) {
        batch.append(url.data(), static_cast<qsizetype>(url.size()));
        batch.append('\0');
    }
    // The lock holder listens a moment after taking its lock: try again until then.
    const QDeadlineTimer deadline(kHandoffPatienceMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketName);
        if (socket.waitForConnected(1000)) break;
        socket.abort();
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "vantorel: the running instance did not take the URLs\n");
            return false;
        }
        QThread::msleep(100);
    }
    socket.write(batch);
    bool sent = true;
    while (sent && socket.bytesToWrite() > 0) {
        sent = socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()) + 1000);
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
    if (!sent) std::fprintf(stderr, "vantorel: the running instance did not take the URLs\n");
    return sent;
}

UrlHandoffServer::UrlHandoffServer() : server_(new QLocalServer(this)) {
    // Only this user may connect: the URLs are theirs.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &UrlHandoffServer::OnNewConnection);
}

UrlHandoffServer::~UrlHandoffServer() { Close(); }

void UrlHandoffServer::Close() { server_->close(); }

bool UrlHandoffServer::Listen(const QString& socketName) {
    QLocalServer::removeServer(socketName);
    return server_->listen(socketName);
}

void UrlHandoffServer::OnNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that never finishes must not hold a connection for ever.
        QTimer::singleShot(kConnectionPatienceMs, socket, [socket] { socket->abort(); });
        OnReadable(socket);
    }
}

void UrlHandoffServer::OnReadable(QLocalSocket* socket) {
    QByteArray pending = socket->property(kPendingProperty).toByteArray() + socket->readAll();
    std::vector<std::string> urls;
    qsizetype start = 0;
    for (qsizetype end; (end = pending.indexOf('\0', start)) >= 0; start = end + 1) {
        urls.emplace_back(pending.constData() + start, static_cast<std::size_t>(end - start));
    }
    pending.remove(0, start);
    // Whatever arrives after the limit is not a batch of URLs: end the connection.
    // What came whole before it is still taken; an unfinished tail never is.
    if (pending.size() > kMaxBatchBytes) {
        pending.clear();
        socket->abort();
    }
    socket->setProperty(kPendingProperty, pending);
    if (!urls.empty()) emit UrlsArrived(urls);
}

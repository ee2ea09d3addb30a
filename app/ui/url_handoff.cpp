#include "url_handoff.h"

#include <sys/stat.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "command_line.h"
#include "file_name_chars.h"
#include "program_paths.h"
#include "user_only.h"

namespace {

// How long a second start waits for the lock holder to listen, and then for its
// answer (queuing a long batch saves the list, which a busy disk may slow down).
constexpr int kHandoffPatienceMs = 5000;
constexpr int kAnswerPatienceMs = 60000;

void SayUnreachable() {
    std::fprintf(stderr, "vantorel: the running instance did not take the URLs\n");
}

// Connects to `socketName`, trying again until the lock holder listens.
bool ConnectWithPatience(QLocalSocket& socket, const QString& socketName,
                         const QDeadlineTimer& deadline) {
    for (;;) {
        socket.connectToServer(socketName);
        if (socket.waitForConnected(1000)) return true;
        socket.abort();
        if (deadline.hasExpired()) return false;
        QThread::msleep(100);
    }
}

// Sends one batch of `count` downloads and reads its answers (as many as arrived
// whole, never more than asked for).
std::vector<std::string> SendBatch(QLocalSocket& socket, const std::string& batch,
                                   std::size_t count) {
    const QDeadlineTimer deadline(kAnswerPatienceMs);
    socket.write(batch.data(), static_cast<qint64>(batch.size()));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return {};
    }
    HandoffAnswerReader reader;
    bool readable = true;
    while (readable && reader.answers().size() < count) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            readable = false;  // closed after the last answer, or no answer in time
        }
        const QByteArray bytes = socket.readAll();
        if (!reader.Feed(
                std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
            break;
        }
    }
    std::vector<std::string> answers = reader.answers();
    if (answers.size() > count) answers.resize(count);
    return answers;
}

// Why a caught download's own fields cannot go on the wire as they are; "" when
// they can. Cookie lines hold tabs between their fields, nothing else below ' '.
std::string FieldProblem(const HandedDownload& download) {
    const auto controlled = [](const std::string& text, bool tabs) {
        return std::any_of(text.begin(), text.end(), [tabs](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return (byte < 0x20 && !(tabs && c == '\t')) || byte == 0x7f;
        });
    };
    if (download.referer.size() > kLongestUrl) return "the Referer is too long";
    if (controlled(download.referer, false) || controlled(download.agent, false) ||
        controlled(download.fileName, false)) {
        return "a field holds a control character";
    }
    for (const std::string& cookie : download.cookies) {
        if (controlled(cookie, true)) return "a cookie holds a control character";
    }
    return std::string();
}

}  // namespace

std::string RefusalReason(NewFileOutcome outcome) {
    switch (outcome) {
        case kJobAdded:
            return std::string();
        case kUrlTooShort:
            return UrlLengthProblem("");
        case kUrlTooLong:
            return "a URL has at most " + std::to_string(kLongestUrl) + " bytes";
        case kFileNameTooLong:
            return "the file name it proposes is over " + std::to_string(kLongestFileName) +
                   " bytes";
    }
    return "it could not be queued";
}

QString HandoffSocketName(const std::string& listPath) {
    const std::string folder = FolderOf(listPath);
    struct stat info {};
    std::string name = "vantorel";
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) == 0) {
        name += QStringLiteral("-%1-%2")
                    .arg(static_cast<qulonglong>(info.st_dev), 0, 16)
                    .arg(static_cast<qulonglong>(info.st_ino), 0, 16)
                    .toStdString();
    } else {
        // No folder to identify: its path, as the lock would try it.
        name += '-' + QString::number(qHash(QByteArray::fromStdString(folder)), 16).toStdString();
    }
    const std::string socketFolder =
        PrivateSocketFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp", ::geteuid(), name.size());
    if (socketFolder.empty()) return QString();
    return QFile::decodeName(QByteArray::fromStdString(socketFolder + '/' + name));
}

int HandUrlsToRunningInstance(const QString& socketName, const std::vector<std::string>& urls,
                              uid_t user) {
    if (socketName.isEmpty()) {
        std::fprintf(stderr, "vantorel: no private folder for the hand-off socket\n");
        SayUnreachable();
        return kExitRefused;
    }
    const QDeadlineTimer connectDeadline(kHandoffPatienceMs);
    int status = kExitOk;
    std::size_t unanswered = 0;
    // Batches within the receiver's limit, each on a connection of its own.
    for (std::size_t first = 0; first < urls.size();) {
        std::string downloads;
        std::size_t end = first;
        while (end < urls.size()) {
            const std::string download = EncodeHandedDownload(urls[end]);
            // The greeting with its NUL, the downloads, the end's NUL.
            const std::size_t batchSize =
                sizeof kHandoffGreeting + downloads.size() + download.size() + 1;
            if (end > first && batchSize > kMaxHandoffBatchBytes) {
                break;
            }
            downloads += download;
            ++end;
        }
        QLocalSocket socket;
        if (!ConnectWithPatience(socket, socketName, connectDeadline)) {
            SayUnreachable();
            return kExitRefused;
        }
        if (!PeerIsUser(static_cast<int>(socket.socketDescriptor()), user)) {
            std::fprintf(stderr,
                         "vantorel: the hand-off socket is served by another user: "
                         "nothing was sent\n");
            return kExitRefused;
        }
        const std::vector<std::string> answers =
            SendBatch(socket, EncodeHandoffBatch(downloads), end - first);
        socket.abort();
        for (std::size_t i = first; i < end; ++i) {
            if (i - first >= answers.size()) {
                ++unanswered;
            } else if (!answers[i - first].empty()) {
                PrintRefusal(urls[i], answers[i - first]);
                status = kExitRefused;
            }
        }
        first = end;
    }
    if (unanswered > 0) {
        std::fprintf(stderr,
                     "vantorel: the running instance did not answer for %zu URL(s): they may "
                     "not be queued\n",
                     unanswered);
        status = kExitRefused;
    }
    return status;
}

HandoffReach HandDownloadsToRunningInstance(const QString& socketName,
                                            const std::vector<HandedDownload>& downloads,
                                            int patienceMs, std::vector<std::string>* answers,
                                            uid_t user) {
    answers->clear();
    if (socketName.isEmpty()) return HandoffReach::kUnreachable;
    QLocalSocket socket;
    if (!ConnectWithPatience(socket, socketName, QDeadlineTimer(patienceMs))) {
        return HandoffReach::kUnreachable;
    }
    if (!PeerIsUser(static_cast<int>(socket.socketDescriptor()), user)) {
        return HandoffReach::kOtherUser;
    }
    std::string bytes;
    for (const HandedDownload& download : downloads) bytes += EncodeHandedDownload(download);
    *answers = SendBatch(socket, EncodeHandoffBatch(bytes), downloads.size());
    socket.abort();
    return HandoffReach::kAnswered;
}

UrlHandoffServer::UrlHandoffServer(Handler handler, uid_t user)
    : handler_(std::move(handler)), user_(user), server_(new QLocalServer(this)) {
    // The folder is private already; the socket's own mode says so too.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &UrlHandoffServer::OnNewConnection);
}

UrlHandoffServer::~UrlHandoffServer() { Close(); }

void UrlHandoffServer::Close() { server_->close(); }

bool UrlHandoffServer::Listen(const QString& socketName) {
    if (socketName.isEmpty()) return false;
    QLocalServer::removeServer(socketName);
    return server_->listen(socketName);
}

void UrlHandoffServer::OnNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // Another user's process takes nothing from us and gives us nothing.
        if (!PeerIsUser(static_cast<int>(socket->socketDescriptor()), user_)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(this);
        auto reader = std::make_shared<HandoffBatchReader>();
        const auto onReadable = [this, socket, reader] {
            const QByteArray bytes = socket->readAll();
            const auto before = reader->state();
            const auto state = reader->Feed(
                std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
            if (state == HandoffBatchReader::State::kBroken) {
                // Not a batch of ours: nothing of it is taken.
                if (before == HandoffBatchReader::State::kMore) socket->abort();
            } else if (state == HandoffBatchReader::State::kDone &&
                       before == HandoffBatchReader::State::kMore) {
                Answer(socket, reader->downloads());
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, onReadable);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that never finishes, or never reads its answer, must not hold a
        // connection for ever.
        auto* patience = new QTimer(socket);
        patience->setObjectName(QStringLiteral("patience"));
        patience->setSingleShot(true);
        connect(patience, &QTimer::timeout, socket, [socket] { socket->abort(); });
        patience->start(kConnectionPatienceMs);
        if (socket->bytesAvailable() > 0) onReadable();
    }
}

void UrlHandoffServer::Answer(QLocalSocket* socket, const std::vector<HandedDownload>& downloads) {
    std::vector<std::string> reasons(downloads.size());
    std::vector<HandedDownload> taken;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < downloads.size(); ++i) {
        const std::string& url = downloads[i].url;
        if (url.empty()) {
            reasons[i] = "no URL given";
        } else if (url.size() > kLongestUrl) {
            reasons[i] = UrlLengthProblem(url);
        } else if (std::string problem = FieldProblem(downloads[i]); !problem.empty()) {
            reasons[i] = std::move(problem);
        } else {
            taken.push_back(downloads[i]);
            asked.push_back(i);
        }
    }
    const std::vector<NewFileOutcome> outcomes =
        taken.empty() || !handler_ ? std::vector<NewFileOutcome>() : handler_(taken);
    for (std::size_t j = 0; j < asked.size(); ++j) {
        reasons[asked[j]] =
            j < outcomes.size() ? RefusalReason(outcomes[j]) : std::string("it was not queued");
    }
    std::string answer;
    for (const std::string& reason : reasons) answer += EncodeHandoffAnswer(reason);
    socket->write(answer.data(), static_cast<qint64>(answer.size()));
    // Closes once the answer is written.
    socket->disconnectFromServer();
    if (auto* patience = socket->findChild<QTimer*>(QStringLiteral("patience"))) {
        patience->start(kConnectionPatienceMs);
    }
}

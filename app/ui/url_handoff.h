// URLs given on the command line, `vantorel URL [URL...]` (command_line.h). With
// an instance already running for the same state folder, they are handed to it
// over a local socket; it answers for each whether it was queued, and the new
// process prints the refusals and ends. Otherwise the program starts with them.
// Either way each is queued as New File with OK would queue it after the URL was
// typed (job_control.h).
//
// The socket is the user's alone: it lives in $XDG_RUNTIME_DIR, or when that is no
// private folder of the user's in /tmp/vantorel-UID (user_only.h), never in a
// folder others may write; and each end checks that the other runs as the same
// user before anything is sent or taken. It is named after the folder of the list
// file (its device and inode, which is what the instance lock holds), so it
// follows that folder wherever it is and however it is reached. Only the instance
// holding the lock serves it. What travels: handoff_protocol.h.
//
// Threads: user-interface thread only.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "handoff_protocol.h"
#include "job_control.h"

class QLocalServer;
class QLocalSocket;

// The socket of the instance whose list file is `listPath`; "" when the user has
// no private folder to hold it (then there are no hand-offs).
QString HandoffSocketName(const std::string& listPath);

// Why an outcome of AddUrlAsNewFile is a refusal; "" for kJobAdded.
std::string RefusalReason(NewFileOutcome outcome);

// Second process: hands `urls` to the instance serving `socketName`, waiting a
// few seconds for it to listen (it may be starting), and prints a line on stderr
// for every URL it refused. Returns the exit status: 0 when all were queued, 1
// when any was refused, or (with a line on stderr) when the instance could not be
// reached, ran as another user than `user`, or did not answer for every URL.
// Needs a QCoreApplication.
int HandUrlsToRunningInstance(const QString& socketName, const std::vector<std::string>& urls,
                              uid_t user = ::geteuid());

// What HandDownloadsToRunningInstance found.
enum class HandoffReach { kAnswered, kUnreachable, kOtherUser };

// Hands `downloads` (one batch, within kMaxHandoffBatchBytes) to the instance
// serving `socketName`, waiting up to `patienceMs` for it to listen. kAnswered
// with `answers` holding one entry per download that was answered ("" when
// queued, else the reason), in order; fewer entries than downloads when the
// instance stopped answering. Needs a QCoreApplication.
HandoffReach HandDownloadsToRunningInstance(const QString& socketName,
                                            const std::vector<HandedDownload>& downloads,
                                            int patienceMs, std::vector<std::string>* answers,
                                            uid_t user = ::geteuid());

// First process: serves the socket. Every whole batch from a connection of
// `user` goes to the handler, which queues the downloads and returns the outcome
// of each, in order; the sender is answered with them. A URL or Referer longer
// than kLongestUrl, a download without a URL, or a field holding a control
// character (a line break would add a header line) is refused without reaching it.
class UrlHandoffServer : public QObject {
    Q_OBJECT

public:
    using Handler =
        std::function<std::vector<NewFileOutcome>(const std::vector<HandedDownload>& downloads)>;

    // How long a connection may take to send its batch, and then to read the answer.
    static constexpr int kConnectionPatienceMs = 10000;

    explicit UrlHandoffServer(Handler handler, uid_t user = ::geteuid());
    ~UrlHandoffServer() override;

    // Replaces a socket left by an instance that ended without removing it (only
    // the lock holder gets here). False when the socket cannot be served; the
    // program then runs without hand-offs.
    bool Listen(const QString& socketName);
    // Stops serving and removes the socket.
    void Close();

private:
    void OnNewConnection();
    void Answer(QLocalSocket* socket, const std::vector<HandedDownload>& downloads);

    Handler handler_;
    uid_t user_;
    QLocalServer* server_;
};

// URLs given on the command line, `vantorel URL [URL...]`. With an instance
// already running for the same program folder, they are handed to it over a
// local socket and the new process ends; otherwise the program starts with them.
// Either way each is queued as New File with OK would queue it after the URL was
// typed (job_control.h).
//
// The socket lives in the user's runtime folder and is named after the folder of
// the list file (its device and inode, which is what the instance lock holds), so
// it follows that folder wherever it is and however it is reached. Only the
// instance holding the lock serves it. What travels is each URL followed by a NUL
// byte; the connection's end ends the batch.
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

// The command line's URLs, in order. An argument shorter than 6 characters is
// left out with a line on stderr.
std::vector<std::string> UrlArguments(int argc, char** argv);

// The line on stderr for an argument or a handed-over text that adds no job: too
// short for a URL, or (`nameTooLong`) proposing a file name no file can have.
void ReportIgnoredUrl(const char* text, bool nameTooLong = false);

// The socket of the instance whose list file is `listPath`.
QString HandoffSocketName(const std::string& listPath);

// Second process: hands `urls` to the instance serving `socketName`, waiting a
// few seconds for it to listen (it may be starting). False, with a line on
// stderr, when it could not be reached. Needs a QCoreApplication.
bool HandUrlsToRunningInstance(const QString& socketName, const std::vector<std::string>& urls);

// First process: serves the socket and reports every URL that arrives.
class UrlHandoffServer : public QObject {
    Q_OBJECT

public:
    // The longest batch one connection may send, and how long it may take.
    static constexpr qint64 kMaxBatchBytes = 1 << 20;
    static constexpr int kConnectionPatienceMs = 10000;

    UrlHandoffServer();
    ~UrlHandoffServer() override;

    // Replaces a socket left by an instance that ended without removing it (only
    // the lock holder gets here). False when the socket cannot be served; the
    // program then runs without hand-offs.
    bool Listen(const QString& socketName);
    // Stops serving and removes the socket.
    void Close();

signals:
    // The URLs of one connection, each whole and in the order sent.
    void UrlsArrived(const std::vector<std::string>& urls);

private:
    void OnNewConnection();
    void OnReadable(QLocalSocket* socket);

    QLocalServer* server_;
};

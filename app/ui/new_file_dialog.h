// New File: the URL to fetch and the name to save it as. While the URL is edited
// the dialog proposes the file name from its tail; OK adds the job, saves the list
// file and starts the scheduler.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class NewFileDialog;
}

class NewFileDialog : public QDialog {
    Q_OBJECT

public:
    // Modal, owned by `owner` (may be null), at the owner's top-left corner.
    explicit NewFileDialog(QWidget* owner);
    ~NewFileDialog() override;

    // Puts `url` into the URL box, which proposes the file name as typing would.
    void SetUrl(const QString& url);

    // OK: a URL shorter than 6 characters gets "Give me a URL!", one longer than
    // kLongestUrl bytes "URL too long!", a free file name (numbered when the name
    // is taken) longer than 255 bytes "Filename too long!", and the dialog stays
    // open with its texts; otherwise the job is added and the dialog ends with 1.
    void accept() override;

private:
    // Every change of the URL box, typed or set, replaces the file name box.
    void ProposeName(const QString& url);

    std::unique_ptr<Ui::NewFileDialog> ui_;
};

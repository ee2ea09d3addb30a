#include "new_file_dialog.h"

#include <QLineEdit>
#include <QString>
#include <string>

#include "dialog_layout.h"
#include "dialogs.h"
#include "file_name_chars.h"
#include "job_control.h"
#include "message_box.h"
#include "ui_newfile.h"

namespace {

// A box's text as the program's narrow string, cut like the fixed buffer that
// reads it.
std::string BoxText(const QLineEdit* box, std::size_t maxBytes) {
    return CutDialogText(box->text().toStdString(), maxBytes);
}

// The URL box holds as much as a line edit can, so that a URL past kLongestUrl
// is refused with a word instead of cut into another address without one.
constexpr int kUrlBoxCharacters = 32767;
static_assert(kUrlBoxCharacters > static_cast<int>(kLongestUrl));

}  // namespace

NewFileDialog::NewFileDialog(QWidget* owner) : QDialog(owner), ui_(new Ui::NewFileDialog) {
    ui_->setupUi(this);
    // A fixed frame with a caption and a close box: no resizing, no help button.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ScaleToDialogFont(this);
    PlaceAtOwner(this, owner);
    ui_->urlEdit->setMaxLength(kUrlBoxCharacters);
    // textChanged, not textEdited: the proposal follows every change of the box,
    // also a URL put there by a drop.
    connect(ui_->urlEdit, &QLineEdit::textChanged, this, &NewFileDialog::ProposeName);
    ui_->urlEdit->setFocus();
}

NewFileDialog::~NewFileDialog() = default;

void NewFileDialog::SetUrl(const QString& url) { ui_->urlEdit->setText(url); }

void NewFileDialog::ProposeName(const QString& url) {
    const std::string text = url.toStdString();
    ui_->fileEdit->setText(QString::fromStdString(ProposeFileName(text)));
}

void NewFileDialog::accept() {
    const std::string url = BoxText(ui_->urlEdit, std::string::npos);
    switch (AddNewFileJob(url, BoxText(ui_->fileEdit, kDialogTextMax))) {
    case kUrlTooShort:
        ShowMessage(this, "Give me a URL!");
        return;
    case kUrlTooLong:
        ShowMessage(this, "URL too long!");
        return;
    case kFileNameTooLong:
        ShowMessage(this, "Filename too long!");
        return;
    case kJobAdded:
        break;
    }
    QDialog::accept();
}

int RunNewFileDialog(QWidget* owner) {
    NewFileDialog dialog(owner);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

int RunNewFileDialogWithUrl(QWidget* owner, const char* url) {
    NewFileDialog dialog(owner);
    dialog.SetUrl(QString::fromUtf8(url != nullptr ? url : ""));
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

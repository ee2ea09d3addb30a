#include "preferences_dialog.h"

#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QString>
#include <cstdint>
#include <string>

#include "app_settings.h"
#include "dialog_layout.h"
#include "dialogs.h"
#include "file_name_chars.h"
#include "job_queue.h"
#include "message_box.h"
#include "network_settings.h"
#include "ui_preferences.h"

namespace {

QString UnsignedText(int value) { return QString::number(static_cast<std::uint32_t>(value)); }

static_assert(kMostFiles == 100 && kMostTries == 1000, "the refusals name the two limits");

}  // namespace

PreferencesDialog::PreferencesDialog(QWidget* owner)
    : QDialog(owner), ui_(new Ui::PreferencesDialog) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ScaleToDialogFont(this);
    PlaceAtOwner(this, owner);
    // Typing or pasting anything but digits is refused; an empty box is allowed
    // (it reads as 0).
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    ui_->maxFilesEdit->setValidator(digits);
    ui_->maxTriesEdit->setValidator(digits);
    ui_->folderEdit->setText(QString::fromStdString(defPath));
    ui_->maxFilesEdit->setText(UnsignedText(maxFiles));
    ui_->maxTriesEdit->setText(UnsignedText(maxTries));
    ui_->connectionsSpin->setValue(connectionsPerDownload);
    ui_->maxSpeedEdit->setValidator(digits);
    ui_->proxyPortEdit->setValidator(digits);
    ShowNetworkSettings();
    // The first box has the focus with its text selected, so typing replaces it.
    ui_->maxFilesEdit->setFocus();
    ui_->maxFilesEdit->selectAll();
}

PreferencesDialog::~PreferencesDialog() = default;

void PreferencesDialog::accept() {
    // Taken whole, however long: a deep folder or one with non-ASCII names easily
    // passes any fixed buffer, and a cut one is another folder or none at all
    // (cut before a '/', it is the parent). The file system is the judge; a NUL
    // cannot stand in a path, so a text holding one names no folder.
    // Past its largest value a limit is refused, however many digits were typed:
    // read as the old fixed buffer read it, 99999999999999 came back as 0 and no
    // download ever started again.
    const int files = ReadBoundedNumber(ui_->maxFilesEdit->text().toStdString(), kMostFiles);
    if (files < 0) {
        ShowMessage(this, "At most 100 files at once!");
        return;
    }
    const int tries = ReadBoundedNumber(ui_->maxTriesEdit->text().toStdString(), kMostTries);
    if (tries < 0) {
        ShowMessage(this, "At most 1000 tries!");
        return;
    }
    const std::string folder = ui_->folderEdit->text().toStdString();
    // The folder becomes current for the whole process at once: job file names
    // are relative, so every file opened from now on lands there.
    if (folder.find('\0') != std::string::npos || chdir(folder.c_str()) != 0) {
        ShowMessage(this, "Invalid Directory");
        return;
    }
    // Kept as typed: a relative folder stays relative in the settings file.
    defPath = folder;
    maxFiles = files;
    maxTries = tries;
    // Runs in progress keep the connections they started with; the next run of
    // each download takes the new count.
    connectionsPerDownload = ui_->connectionsSpin->value();
    TakeNetworkSettings();
    StartJobs();
    QDialog::accept();
}

// The proxy choices in the order of the form's list.
static const char* const kProxyChoices[] = {kProxyFromEnvironment, kProxyNone, kProxyManual};

void PreferencesDialog::ShowNetworkSettings() {
    ui_->maxSpeedEdit->setText(QString::number(maxSpeed));
    int choice = 0;
    for (int i = 0; i < 3; ++i) {
        if (proxyMode == kProxyChoices[i]) choice = i;
    }
    ui_->proxyCombo->setCurrentIndex(choice);
    ui_->proxyHostEdit->setText(QString::fromStdString(proxyHost));
    ui_->proxyPortEdit->setText(proxyPort != 0 ? QString::number(proxyPort) : QString());
    ui_->proxyUserEdit->setText(QString::fromStdString(proxyUser));
    ui_->proxyPasswordEdit->setText(QString::fromStdString(proxyPassword));
    // The manual proxy's boxes count only for "Manual".
    auto enableManual = [this](int index) {
        for (QLineEdit* box :
             {ui_->proxyHostEdit, ui_->proxyPortEdit, ui_->proxyUserEdit, ui_->proxyPasswordEdit}) {
            box->setEnabled(index == 2);
        }
    };
    enableManual(choice);
    connect(ui_->proxyCombo, &QComboBox::currentIndexChanged, this, enableManual);
}

void PreferencesDialog::TakeNetworkSettings() {
    maxSpeed = ReadDialogNumber(ui_->maxSpeedEdit->text().toStdString());
    const int choice = ui_->proxyCombo->currentIndex();
    proxyMode = kProxyChoices[choice >= 0 && choice < 3 ? choice : 0];
    proxyHost = ui_->proxyHostEdit->text().trimmed().toStdString();
    proxyPort = ReadDialogNumber(ui_->proxyPortEdit->text().toStdString());
    proxyUser = ui_->proxyUserEdit->text().toStdString();
    proxyPassword = ui_->proxyPasswordEdit->text().toStdString();
    NormaliseNetworkSettings();
    ApplyNetworkSettings();
}

int RunPreferencesDialog(QWidget* owner) {
    PreferencesDialog dialog(owner);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

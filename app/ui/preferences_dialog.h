// Preferences: how many files run at once, how many tries a failing one gets, the
// folder downloads are saved in, the speed limit, how many connections each
// download may open (1 to 16) and the proxy. OK makes the folder current, takes
// the values as typed, hands the speed limit and the proxy to the library and
// runs the scheduler, so a raised limit takes effect at once; the connections
// count applies from each download's next run. The values stay in memory until
// the shutdown writes the settings file.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class PreferencesDialog;
}

class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    // Modal, owned by `owner` (may be null), at the owner's top-left corner,
    // showing defPath, maxFiles and maxTries (the limits as unsigned numbers),
    // connectionsPerDownload and the network settings.
    explicit PreferencesDialog(QWidget* owner);
    ~PreferencesDialog() override;

    // OK: a Max Simultaneous Files above kMostFiles gets "At most 100 files at
    // once!", a Max Tries above kMostTries "At most 1000 tries!", a folder that
    // cannot be made current "Invalid Directory"; the dialog then stays open and
    // nothing changes. Otherwise the settings are taken, the
    // scheduler runs and the dialog ends with 1.
    void accept() override;

private:
    // The speed and proxy rows (network_settings.h).
    void ShowNetworkSettings();
    void TakeNetworkSettings();

    std::unique_ptr<Ui::PreferencesDialog> ui_;
};

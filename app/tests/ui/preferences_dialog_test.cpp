// Preferences: its form, the values shown, the digits-only number boxes, the
// refused folder, the values taken, the speed and proxy rows, and the scheduler
// run on OK.
#include "preferences_dialog.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <climits>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "dialog_layout.h"
#include "dialogs.h"
#include "job_view.h"
#include "main_window.h"
#include "modal_driver.h"
#include "network_settings.h"
#include "test_server.h"
#include "ui_fixture.h"

namespace vtest {
namespace {

class PreferencesDialogTest : public UiTest {
protected:
    static QLineEdit* Box(QDialog& dialog, const char* name) {
        return dialog.findChild<QLineEdit*>(name);
    }
    static QSpinBox* Spin(QDialog& dialog) {
        return dialog.findChild<QSpinBox*>("connectionsSpin");
    }
    static void ClickOk(QDialog& dialog) {
        QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    }
    // Replaces a box's text by typing.
    static void Retype(QLineEdit* box, const QString& text) {
        box->selectAll();
        box->del();
        QTest::keyClicks(box, text);
    }
    // A job whose run goes on for much longer than a test.
    DownloadJob* AddSlowJob(TestServer& server, const std::string& name) {
        Route slow;
        slow.size = 1 << 20;
        slow.bytesPerSecond = 20000;
        server.Set("/" + name, slow);
        return AddJob(server.Url("/" + name), name);
    }

    ModalGuard guard;
};

TEST_F(PreferencesDialogTest, FormMatchesTheTemplate) {
    MainWindow window;
    window.show();
    PreferencesDialog dialog(&window);
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_TRUE(dialog.isModal());

    struct LabelCase {
        const char* label;
        const char* text;
        const char* buddy;
        bool right;
    };
    const LabelCase labels[] = {
        {"maxFilesLabel", "&Max Simultaneous Files:", "maxFilesEdit", true},
        {"maxTriesLabel", "Max &Tries for failures:", "maxTriesEdit", true},
        {"folderLabel", "&Default Save Location:", "folderEdit", false},
        {"maxSpeedLabel", "Max download &speed (KiB/s):", "maxSpeedEdit", true},
        {"connectionsLabel", "Co&nnections per download:", "connectionsSpin", true},
        {"proxyLabel", "Pro&xy:", "proxyCombo", true},
        {"proxyHostLabel", "&Host:", "proxyHostEdit", true},
        {"proxyPortLabel", "&Port:", "proxyPortEdit", true},
        {"proxyUserLabel", "&User:", "proxyUserEdit", true},
        {"proxyPasswordLabel", "Pass&word:", "proxyPasswordEdit", true},
    };
    for (const LabelCase& c : labels) {
        auto* label = dialog.findChild<QLabel*>(c.label);
        ASSERT_NE(label, nullptr) << c.label;
        EXPECT_EQ(label->text(), c.text);
        ASSERT_NE(label->buddy(), nullptr);
        EXPECT_EQ(label->buddy()->objectName(), c.buddy);
        EXPECT_EQ((label->alignment() & Qt::AlignRight) != 0, c.right) << c.label;
    }
    // Any folder the system can enter fits (PATH_MAX less its NUL).
    EXPECT_GE(Box(dialog, "folderEdit")->maxLength(), 4095);
    EXPECT_TRUE(dialog.findChild<QPushButton*>("okButton")->isDefault());
    EXPECT_EQ(dialog.findChild<QPushButton*>("okButton")->text(), "&OK");
    EXPECT_EQ(dialog.findChild<QPushButton*>("cancelButton")->text(), "&Cancel");

    std::vector<QString> order;
    QWidget* widget = Box(dialog, "maxFilesEdit");
    for (int i = 0; i < 12; ++i, widget = widget->nextInFocusChain()) {
        // The spin box's own editor follows it in the chain: the box stands for both.
        while (widget->focusPolicy() == Qt::NoFocus ||
               qobject_cast<QSpinBox*>(widget->parentWidget()) != nullptr) {
            widget = widget->nextInFocusChain();
        }
        order.push_back(widget->objectName());
    }
    EXPECT_EQ(order, (std::vector<QString>{"maxFilesEdit", "maxTriesEdit", "folderEdit",
                                           "maxSpeedEdit", "connectionsSpin", "proxyCombo",
                                           "proxyHostEdit", "proxyPortEdit", "proxyUserEdit",
                                           "proxyPasswordEdit", "okButton", "cancelButton"}));

    const QSize base = DialogBaseUnits(dialog.font());
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(QRect(0, 0, 186, 211), base).size());
    EXPECT_EQ(Box(dialog, "maxTriesEdit")->geometry(),
              DialogUnitsToPixels(QRect(101, 23, 37, 12), base));
    EXPECT_EQ(dialog.findChild<QPushButton*>("cancelButton")->geometry(),
              DialogUnitsToPixels(QRect(76, 192, 50, 14), base));
    EXPECT_EQ(dialog.pos(), window.centralWidget()->mapToGlobal(QPoint(0, 0)));
}

TEST_F(PreferencesDialogTest, MnemonicsJumpToTheirBoxes) {
    maxFiles = 12;
    PreferencesDialog dialog(nullptr);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    // The first box has the focus with its text selected: typing replaces it.
    EXPECT_TRUE(Box(dialog, "maxFilesEdit")->hasFocus());
    EXPECT_EQ(Box(dialog, "maxFilesEdit")->selectedText(), "12");
    const std::pair<Qt::Key, const char*> jumps[] = {
        {Qt::Key_D, "folderEdit"}, {Qt::Key_T, "maxTriesEdit"}, {Qt::Key_M, "maxFilesEdit"}};
    for (const auto& [key, box] : jumps) {
        QTest::keyClick(&dialog, key, Qt::AltModifier);
        EXPECT_TRUE(Box(dialog, box)->hasFocus()) << box;
    }
}

TEST_F(PreferencesDialogTest, ShowsTheSettingsWithLimitsAsUnsignedNumbers) {
    defPath = "/some/where";
    maxFiles = 3;
    maxTries = INT_MIN;  // stored from 2147483648 earlier
    connectionsPerDownload = 11;
    PreferencesDialog dialog(nullptr);
    EXPECT_EQ(Spin(dialog)->value(), 11);
    EXPECT_EQ(Spin(dialog)->minimum(), 1);
    EXPECT_EQ(Spin(dialog)->maximum(), 16);
    EXPECT_EQ(Box(dialog, "folderEdit")->text(), "/some/where");
    EXPECT_EQ(Box(dialog, "maxFilesEdit")->text(), "3");
    EXPECT_EQ(Box(dialog, "maxTriesEdit")->text(), "2147483648");
    maxTries = -1;
    PreferencesDialog again(nullptr);
    EXPECT_EQ(Box(again, "maxTriesEdit")->text(), "4294967295");
}

TEST_F(PreferencesDialogTest, NumberBoxesTakeOnlyDigits) {
    PreferencesDialog dialog(nullptr);
    dialog.show();
    for (const char* name : {"maxFilesEdit", "maxTriesEdit"}) {
        QLineEdit* box = Box(dialog, name);
        box->setFocus();
        Retype(box, "1a2-3 4.5+");
        EXPECT_EQ(box->text(), "12345") << name;
        // A paste holding anything else is refused whole.
        QGuiApplication::clipboard()->setText("77x");
        box->paste();
        EXPECT_EQ(box->text(), "12345") << name;
        QGuiApplication::clipboard()->setText("6");
        box->paste();
        EXPECT_EQ(box->text(), "123456") << name;
    }
}

TEST_F(PreferencesDialogTest, FolderThatCannotBeMadeCurrentIsRefusedAndNothingChanges) {
    defPath = dir.path();
    maxFiles = 2;
    maxTries = 4;
    const std::filesystem::path before = std::filesystem::current_path();
    WriteWholeFile(dir / "plain.txt", "not a folder");
    for (const std::string& folder : {dir / "missing", dir / "plain.txt", std::string()}) {
        PreferencesDialog dialog(nullptr);
        dialog.show();
        Box(dialog, "folderEdit")->setText(QString::fromStdString(folder));
        Box(dialog, "maxFilesEdit")->setText("9");
        Box(dialog, "maxTriesEdit")->setText("9");
        std::shared_ptr<SeenMessage> seen = AnswerNextMessage();
        ClickOk(dialog);
        ASSERT_TRUE(seen->seen) << folder;
        EXPECT_EQ(seen->text, "Invalid Directory");
        EXPECT_EQ(seen->caption, "Vantorel 1.2");
        EXPECT_EQ(seen->buttons, QMessageBox::Ok);
        EXPECT_EQ(seen->icon, QMessageBox::NoIcon);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(Box(dialog, "folderEdit")->text(), QString::fromStdString(folder));
        EXPECT_EQ(defPath, dir.path());
        EXPECT_EQ(maxFiles, 2);
        EXPECT_EQ(maxTries, 4);
        EXPECT_EQ(std::filesystem::current_path(), before);
    }
}

TEST_F(PreferencesDialogTest, OkTakesTheValuesAsTyped) {
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_directory(dir / "sub/deeper");
    struct Case {
        std::string folder;  // relative folders are taken from the current one
        const char* maxFilesText;
        const char* maxTriesText;
        std::string current;  // the current folder afterwards
        int files;
        int tries;
        int connections;
    };
    const Case cases[] = {
        {dir / "sub", "3", "0", dir / "sub", 3, 0, 1},
        {"deeper", "100", "", dir / "sub/deeper", 100, 0, 16},
        {"..", "0", "1000", dir / "sub", 0, 1000, 9},
        {dir.path(), "007", "12", dir.path(), 7, 12, 4},
    };
    maxFiles = 0;  // so no run starts; the scheduler is tested below
    for (const Case& c : cases) {
        PreferencesDialog dialog(nullptr);
        dialog.show();
        Box(dialog, "folderEdit")->setText(QString::fromStdString(c.folder));
        Box(dialog, "maxFilesEdit")->setText(c.maxFilesText);
        Box(dialog, "maxTriesEdit")->setText(c.maxTriesText);
        Spin(dialog)->setValue(c.connections);
        ClickOk(dialog);
        EXPECT_FALSE(dialog.isVisible()) << c.folder;
        EXPECT_EQ(dialog.result(), 1);
        EXPECT_EQ(defPath, c.folder);  // as typed, relative or not
        EXPECT_EQ(maxFiles, c.files) << c.maxFilesText;
        EXPECT_EQ(maxTries, c.tries) << c.maxTriesText;
        EXPECT_EQ(connectionsPerDownload, c.connections);
        EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(c.current));
    }
}

TEST_F(PreferencesDialogTest, SpeedAndProxyRowsShowTheSettingsAndOkHandsThemToTheLibrary) {
    maxFiles = 0;
    maxSpeed = 64;
    proxyMode = kProxyManual;
    proxyHost = "proxy.lan";
    proxyPort = 3128;
    proxyUser = "me";
    proxyPassword = "pw";
    {
        PreferencesDialog dialog(nullptr);
        EXPECT_EQ(Box(dialog, "maxSpeedEdit")->text(), "64");
        auto* combo = dialog.findChild<QComboBox*>("proxyCombo");
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->currentText(), "Manual");
        EXPECT_EQ(combo->itemText(0), "From the environment");
        EXPECT_EQ(combo->itemText(1), "None");
        EXPECT_EQ(Box(dialog, "proxyPortEdit")->text(), "3128");
        EXPECT_EQ(Box(dialog, "proxyPasswordEdit")->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(Box(dialog, "proxyHostEdit")->isEnabled());
        // The manual proxy's boxes count only for Manual.
        combo->setCurrentIndex(1);
        EXPECT_FALSE(Box(dialog, "proxyHostEdit")->isEnabled());
        dialog.reject();
    }
    EXPECT_EQ(VGetSpeedLimit(), 0u);  // nothing taken on Cancel

    const struct {
        int choice;
        const char* speed;
        const char* port;
        const char* mode;
        int speedKiB;
        int portNumber;
    } cases[] = {
        {0, "2048", "8080", kProxyFromEnvironment, 2048, 8080},
        {2, "", "65536", kProxyManual, 0, 0},
        {1, "0", "1", kProxyNone, 0, 1},
    };
    for (const auto& c : cases) {
        PreferencesDialog dialog(nullptr);
        dialog.show();
        Box(dialog, "folderEdit")->setText(QString::fromStdString(dir.path()));
        dialog.findChild<QComboBox*>("proxyCombo")->setCurrentIndex(c.choice);
        Box(dialog, "maxSpeedEdit")->setText(c.speed);
        Box(dialog, "proxyPortEdit")->setText(c.port);
        Box(dialog, "proxyHostEdit")->setText(" other.lan ");
        ClickOk(dialog);
        EXPECT_EQ(dialog.result(), 1);
        EXPECT_EQ(proxyMode, c.mode);
        EXPECT_EQ(maxSpeed, c.speedKiB);
        EXPECT_EQ(proxyPort, c.portNumber);
        EXPECT_EQ(proxyHost, "other.lan");
        EXPECT_EQ(proxyPassword, "pw");
        // The limit reaches the library at once.
        EXPECT_EQ(VGetSpeedLimit(), static_cast<std::uint64_t>(c.speedKiB) * 1024);
    }
    maxSpeed = 0;
    proxyMode = kProxyFromEnvironment;
    proxyHost = proxyUser = proxyPassword = "";
    proxyPort = 0;
    ApplyNetworkSettings();
}

TEST_F(PreferencesDialogTest, LimitsPastTheirLargestValueAreRefusedAndNothingChanges) {
    std::filesystem::create_directory(dir / "other");
    defPath = dir.path();
    maxFiles = 2;
    maxTries = 4;
    const std::filesystem::path before = std::filesystem::current_path();
    struct Case {
        const char* files;
        const char* tries;
        const char* message;
    };
    const Case cases[] = {
        {"99999999999999", "5", "At most 100 files at once!"},
        {"101", "5", "At most 100 files at once!"},
        {"4294967296", "5", "At most 100 files at once!"},
        {"3", "1001", "At most 1000 tries!"},
        {"3", "2147483648", "At most 1000 tries!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files + std::string(" ") + c.tries);
        PreferencesDialog dialog(nullptr);
        dialog.show();
        Box(dialog, "folderEdit")->setText(QString::fromStdString(dir / "other"));
        Box(dialog, "maxFilesEdit")->setText(c.files);
        Box(dialog, "maxTriesEdit")->setText(c.tries);
        std::shared_ptr<SeenMessage> seen = AnswerNextMessage();
        ClickOk(dialog);
        ASSERT_TRUE(seen->seen);
        EXPECT_EQ(seen->text, c.message);
        EXPECT_EQ(seen->caption, "Vantorel 1.2");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(maxFiles, 2);
        EXPECT_EQ(maxTries, 4);
        EXPECT_EQ(defPath, dir.path());
        EXPECT_EQ(std::filesystem::current_path(), before);
    }
}

TEST_F(PreferencesDialogTest, LongFolderIsTakenWholeWhenOnlyALimitChanges) {
    const std::string base = dir.path();
    ASSERT_GE(base.size(), 3u);
    ASSERT_LE(base.size(), 200u);
    // Far past 259 bytes with about 200 Cyrillic letters; and one whose byte 260
    // is a '/', where a cut would be the parent folder, which exists.
    const std::string letters = [] {
        std::string text;
        for (int i = 0; i < 100; ++i) text += "\xD0\xB4";
        return text;
    }();
    const std::string atSlash = base + "/" + std::string(258 - base.size(), 'a');
    ASSERT_EQ(atSlash.size(), 259u);
    for (const std::string& folder : {base + "/" + letters + "/" + letters, atSlash + "/leaf"}) {
        SCOPED_TRACE(folder.size());
        ASSERT_TRUE(std::filesystem::create_directories(folder));
        defPath = folder;
        maxFiles = 0;
        PreferencesDialog dialog(nullptr);
        dialog.show();
        Retype(Box(dialog, "maxFilesEdit"), "2");
        ClickOk(dialog);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(defPath, folder);
        EXPECT_EQ(maxFiles, 2);
        EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(folder));
    }
}

TEST_F(PreferencesDialogTest, RaisedLimitStartsMoreRunsAndZeroStartsNone) {
    TestServer server;
    DownloadJob* first = AddSlowJob(server, "one.bin");
    DownloadJob* second = AddSlowJob(server, "two.bin");
    DownloadJob* third = AddSlowJob(server, "three.bin");
    defPath = dir.path();
    maxFiles = 1;
    MainWindow window;
    window.show();
    StartJobs();
    FillJobView(&window);
    window.watcher().Sync();
    ASSERT_NE(first->thread, nullptr);
    ASSERT_EQ(second->thread, nullptr);

    // Raised to 2: OK starts the second at once.
    WhenModal<PreferencesDialog>([](PreferencesDialog* dialog) {
        Retype(Box(*dialog, "maxFilesEdit"), "2");
        QTest::keyClick(Box(*dialog, "maxFilesEdit"), Qt::Key_Return);
    });
    EXPECT_EQ(RunPreferencesDialog(&window), 1);
    EXPECT_EQ(maxFiles, 2);
    ASSERT_NE(second->thread, nullptr);
    EXPECT_EQ(third->thread, nullptr);
    window.watcher().Sync();

    // Down to 0: when the second run ends, neither it (tries left) nor the third
    // starts, and the first goes on.
    WhenModal<PreferencesDialog>([](PreferencesDialog* dialog) {
        Retype(Box(*dialog, "maxFilesEdit"), "0");
        ClickOk(*dialog);
    });
    EXPECT_EQ(RunPreferencesDialog(&window), 1);
    EXPECT_EQ(maxFiles, 0);
    VSetEvent(second->stopEvent);
    ASSERT_TRUE(LoopUntil([&] { return second->thread == nullptr; }));  // collected
    EXPECT_EQ(second->status, STATUS_FAILED);
    EXPECT_EQ(third->thread, nullptr);
    EXPECT_EQ(third->status, STATUS_WAIT);
    const long long firstBytes = first->status.load();
    EXPECT_TRUE(LoopUntil([&] { return first->status.load() > firstBytes + 1000; }));
    EXPECT_NE(first->thread, nullptr);
}

}  // namespace
}  // namespace vtest

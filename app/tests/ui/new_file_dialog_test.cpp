// New File: its form, the proposed file name, the cleaned name, the URL length
// rule, and what OK does to the queue, the list file and the scheduler.
#include "new_file_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "concat.h"
#include "dialog_layout.h"
#include "dialogs.h"
#include "file_name_chars.h"
#include "main_window.h"
#include "modal_driver.h"
#include "test_server.h"
#include "ui_fixture.h"

namespace vtest {
namespace {

class NewFileDialogTest : public UiTest {
protected:
    static QLineEdit* UrlBox(QDialog& dialog) { return dialog.findChild<QLineEdit*>("urlEdit"); }
    static QLineEdit* FileBox(QDialog& dialog) { return dialog.findChild<QLineEdit*>("fileEdit"); }
    static QPushButton* Button(QDialog& dialog, const char* name) {
        return dialog.findChild<QPushButton*>(name);
    }

    // Types `text` into `box` one key at a time, as a user would.
    static void Type(QLineEdit* box, const QString& text) {
        box->setFocus();
        QTest::keyClicks(box, text);
    }

    ModalGuard guard;
};

TEST_F(NewFileDialogTest, FormMatchesTheTemplate) {
    MainWindow window;
    window.show();
    NewFileDialog dialog(&window);

    EXPECT_EQ(dialog.windowTitle(), "New File");
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.parentWidget(), &window);

    struct LabelCase {
        const char* label;
        const char* text;
        const char* buddy;
    };
    for (const LabelCase& c : {LabelCase{"urlLabel", "&URL to add:", "urlEdit"},
                               LabelCase{"fileLabel", "&Filename to save as:", "fileEdit"}}) {
        auto* label = dialog.findChild<QLabel*>(c.label);
        ASSERT_NE(label, nullptr) << c.label;
        EXPECT_EQ(label->text(), c.text);
        ASSERT_NE(label->buddy(), nullptr);
        EXPECT_EQ(label->buddy()->objectName(), c.buddy);
    }
    EXPECT_GT(UrlBox(dialog)->maxLength(), static_cast<int>(kLongestUrl));
    EXPECT_EQ(FileBox(dialog)->maxLength(), 1023);
    EXPECT_EQ(Button(dialog, "okButton")->text(), "&OK");
    EXPECT_TRUE(Button(dialog, "okButton")->isDefault());
    EXPECT_EQ(Button(dialog, "cancelButton")->text(), "&Cancel");

    // Tab order is the template's control order, OK before Cancel.
    std::vector<QString> order;
    QWidget* widget = UrlBox(dialog);
    for (int i = 0; i < 4; ++i, widget = widget->nextInFocusChain()) {
        while (widget->focusPolicy() == Qt::NoFocus) widget = widget->nextInFocusChain();
        order.push_back(widget->objectName());
    }
    EXPECT_EQ(order, (std::vector<QString>{"urlEdit", "fileEdit", "okButton", "cancelButton"}));

    // Sized in dialog units of the dialog's font: 186 by 81, OK at 129, 60, 50 by 14.
    const QSize base = DialogBaseUnits(dialog.font());
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(QRect(0, 0, 186, 81), base).size());
    EXPECT_EQ(Button(dialog, "okButton")->geometry(),
              DialogUnitsToPixels(QRect(129, 60, 50, 14), base));
    EXPECT_EQ(FileBox(dialog)->geometry(), DialogUnitsToPixels(QRect(7, 44, 172, 12), base));
    // At the owner's client area's top-left corner, not centred.
    EXPECT_EQ(dialog.pos(), window.centralWidget()->mapToGlobal(QPoint(0, 0)));
}

TEST_F(NewFileDialogTest, MnemonicsJumpToTheirBoxes) {
    NewFileDialog dialog(nullptr);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_TRUE(UrlBox(dialog)->hasFocus());  // the default focus
    QTest::keyClick(&dialog, Qt::Key_F, Qt::AltModifier);
    EXPECT_TRUE(FileBox(dialog)->hasFocus());
    QTest::keyClick(&dialog, Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(UrlBox(dialog)->hasFocus());
}

TEST_F(NewFileDialogTest, ProposalFollowsEveryUrlEdit) {
    struct Case {
        const char* url;
        const char* proposed;
    };
    const Case cases[] = {
        {"http://host/dir/file.zip", "file.zip"},
        {"http://host/get.php?id=7", "id=7"},
        {"http://host/dir/", ""},
        {"http://host/a|b*c", "c"},
    };
    for (const Case& c : cases) {
        NewFileDialog dialog(nullptr);
        dialog.show();
        Type(UrlBox(dialog), c.url);
        EXPECT_EQ(FileBox(dialog)->text(), c.proposed) << c.url;
    }
}

TEST_F(NewFileDialogTest, TypedNameIsKeptUntilTheUrlChanges) {
    NewFileDialog dialog(nullptr);
    dialog.show();
    Type(UrlBox(dialog), "http://host/file.zip");
    FileBox(dialog)->clear();
    Type(FileBox(dialog), "mine.zip");
    EXPECT_EQ(UrlBox(dialog)->text(), "http://host/file.zip");
    EXPECT_EQ(FileBox(dialog)->text(), "mine.zip");

    // One more key in the URL box proposes afresh, overwriting the typed name.
    Type(UrlBox(dialog), "2");
    EXPECT_EQ(FileBox(dialog)->text(), "file.zip2");
    // So does a URL put there by the program (a drop).
    dialog.SetUrl("http://host/other.bin");
    EXPECT_EQ(FileBox(dialog)->text(), "other.bin");
}

TEST_F(NewFileDialogTest, OkStoresTheCleanedNameAppendsSavesAndReturnsOne) {
    maxFiles = 0;  // nothing starts: the jobs stay as OK left them
    struct Case {
        const char* fileName;
        const char* stored;
    };
    const Case cases[] = {
        {"a*b?c.txt", "a-b-c.txt"},
        {"", "index.html"},
        {"dir\\x:y.bin", "dir\\x:y.bin"},  // backslash and colon pass unchanged
        {"<|>", "---"},
    };
    std::string expectedFile;
    for (const Case& c : cases) {
        NewFileDialog dialog(nullptr);
        dialog.show();
        const std::string url = std::string("http://127.0.0.1:9/") + c.fileName;
        UrlBox(dialog)->setText(QString::fromStdString(url));
        FileBox(dialog)->setText(c.fileName);
        QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), 1);
        EXPECT_FALSE(dialog.isVisible());
        DownloadJob* last = jobList;
        while (last->next != nullptr) last = last->next;
        EXPECT_STREQ(last->url, url.c_str());
        EXPECT_STREQ(last->fileName, c.stored);
        EXPECT_EQ(last->status, STATUS_WAIT);
        expectedFile += "\"" + url + "\" \"" + c.stored + "\"\n";
    }
    EXPECT_EQ(JobCount(), 4);
    // Saved after every addition, in the order added.
    EXPECT_EQ(ListFileText(), expectedFile);
}

TEST_F(NewFileDialogTest, UrlOfFiveCharactersIsRefusedAndSixAccepted) {
    maxFiles = 0;
    NewFileDialog dialog(nullptr);
    dialog.show();
    UrlBox(dialog)->setText("ab:/x");
    FileBox(dialog)->setText("keep.me");

    std::shared_ptr<SeenMessage> seen = AnswerNextMessage();
    QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
    ASSERT_TRUE(seen->seen);
    EXPECT_EQ(seen->text, "Give me a URL!");
    EXPECT_EQ(seen->caption, "Vantorel 1.2");
    EXPECT_EQ(seen->buttons, QMessageBox::Ok);
    EXPECT_EQ(seen->icon, QMessageBox::NoIcon);
    // Still open, with what was typed, and nothing added or saved.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(UrlBox(dialog)->text(), "ab:/x");
    EXPECT_EQ(FileBox(dialog)->text(), "keep.me");
    EXPECT_EQ(jobList, nullptr);
    EXPECT_FALSE(FileExists(listPath));

    // Characters, not bytes: five letters of two bytes each are still five.
    UrlBox(dialog)->setText(QString::fromUtf8("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"));
    seen = AnswerNextMessage();
    QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
    EXPECT_TRUE(seen->seen);
    EXPECT_EQ(jobList, nullptr);

    UrlBox(dialog)->setText("ab:/xy");
    FileBox(dialog)->setText("keep.me");
    QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_NE(jobList, nullptr);
    EXPECT_STREQ(jobList->url, "ab:/xy");
    EXPECT_STREQ(jobList->fileName, "keep.me");
}

TEST_F(NewFileDialogTest, UrlsUpTo8KiBAreTakenWholeAndLongerOnesRefused) {
    maxFiles = 0;
    auto link = [](std::size_t bytes) {
        return "http://h/" + std::string(bytes - 9 - 10, 'a') + "/video.mp4";
    };
    struct Case {
        std::string url;
        QString typedName;  // typed after the URL; empty keeps the proposal
        std::string storedName;
        bool refused;
    };
    const Case cases[] = {
        {link(1236), "", "video.mp4", false},
        {link(kLongestUrl), "", "video (1).mp4", false},  // the name is taken by then
        // A name the file system can take is stored whole, cleaned: 127 characters
        // of two bytes, each byte replaced by '-'.
        {link(2000), QString(127, QChar(u'\u00E9')), std::string(254, '-'), false},
        {link(kLongestUrl + 1), "", "", true},
        {link(20000), "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.size());
        NewFileDialog dialog(nullptr);
        dialog.show();
        UrlBox(dialog)->setText(QString::fromStdString(c.url));
        EXPECT_EQ(UrlBox(dialog)->text().toStdString(), c.url);
        EXPECT_EQ(FileBox(dialog)->text(), "video.mp4");  // proposed from the whole URL
        if (!c.typedName.isEmpty()) FileBox(dialog)->setText(c.typedName);
        std::shared_ptr<SeenMessage> seen = c.refused ? AnswerNextMessage() : nullptr;
        const int before = JobCount();
        QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
        if (c.refused) {
            ASSERT_TRUE(seen->seen);
            EXPECT_EQ(seen->text, "URL too long!");
            EXPECT_EQ(seen->caption, "Vantorel 1.2");
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(JobCount(), before);
            continue;
        }
        ASSERT_EQ(JobCount(), before + 1);
        DownloadJob* last = jobList;
        while (last->next != nullptr) last = last->next;
        EXPECT_EQ(std::string(last->url), c.url);
        EXPECT_EQ(std::string(last->fileName), c.storedName);
    }
}

TEST_F(NewFileDialogTest, NameTheFileSystemRefusesIsRefusedAndNoQuoteIsStored) {
    maxFiles = 0;
    struct Case {
        QString fileName;
        const char* url;
        const char* message;  // null: accepted
        std::string storedUrl;
        std::string storedName;
    };
    const Case cases[] = {
        {QString(255, QChar(u'n')), "http://h/x", nullptr, "http://h/x", std::string(255, 'n')},
        {QString(256, QChar(u'n')), "http://h/x", "Filename too long!", "", ""},
        // Counted once cleaned: 128 two-byte characters are 256 dashes.
        {QString(128, QChar(u'\u00E9')), "http://h/x", "Filename too long!", "", ""},
        {"say \"hi\".txt", "http://h/a\"b\"", nullptr, "http://h/a%22b%22", "say -hi-.txt"},
    };
    std::string expectedFile;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName.toStdString());
        NewFileDialog dialog(nullptr);
        dialog.show();
        UrlBox(dialog)->setText(c.url);
        FileBox(dialog)->setText(c.fileName);
        // Only where a box is expected: an unanswered one would fail the test.
        std::shared_ptr<SeenMessage> seen = c.message != nullptr ? AnswerNextMessage() : nullptr;
        const int before = JobCount();
        QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
        if (c.message != nullptr) {
            ASSERT_TRUE(seen->seen);
            EXPECT_EQ(seen->text, c.message);
            EXPECT_EQ(seen->caption, "Vantorel 1.2");
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(FileBox(dialog)->text(), c.fileName);
            EXPECT_EQ(JobCount(), before);
            dialog.reject();
            continue;
        }
        EXPECT_FALSE(dialog.isVisible());
        ASSERT_EQ(JobCount(), before + 1);
        DownloadJob* last = jobList;
        while (last->next != nullptr) last = last->next;
        EXPECT_EQ(std::string(last->url), c.storedUrl);
        EXPECT_EQ(std::string(last->fileName), c.storedName);
        expectedFile += "\"" + c.storedUrl + "\" \"" + c.storedName + "\"\n";
    }
    EXPECT_EQ(ListFileText(), expectedFile);
}

TEST_F(NewFileDialogTest, OkStartsTheSchedulerWithARealRun) {
    TestServer server;
    Route slow;
    slow.size = 1 << 20;
    slow.bytesPerSecond = 20000;  // still running when the test looks
    server.Set("/big.iso", slow);
    MainWindow window;
    window.show();

    WhenModal<NewFileDialog>([&](NewFileDialog* dialog) {
        EXPECT_EQ(dialog->parentWidget(), &window);
        Type(UrlBox(*dialog), QString::fromStdString(server.Url("/big.iso")));
        EXPECT_EQ(FileBox(*dialog)->text(), "big.iso");
        QTest::keyClick(FileBox(*dialog), Qt::Key_Return);  // the default button
    });
    EXPECT_EQ(RunNewFileDialog(&window), 1);
    ASSERT_NE(jobList, nullptr);
    EXPECT_NE(jobList->thread, nullptr);  // StartJobs started it
    EXPECT_TRUE(LoopUntil([&] { return jobList->status.load() > 0; }));
    EXPECT_EQ(ListFileText(), Concat("\"", server.Url("/big.iso"), "\" \"big.iso\"\n"));
}

TEST_F(NewFileDialogTest, CancelAddsNothingAndReturnsZero) {
    WhenModal<NewFileDialog>([](NewFileDialog* dialog) {
        UrlBox(*dialog)->setText("http://127.0.0.1:9/x.bin");
        QTest::mouseClick(Button(*dialog, "cancelButton"), Qt::LeftButton);
    });
    EXPECT_EQ(RunNewFileDialog(nullptr), 0);
    WhenModal<NewFileDialog>(
        [](NewFileDialog* dialog) { QTest::keyClick(UrlBox(*dialog), Qt::Key_Escape); });
    EXPECT_EQ(RunNewFileDialog(nullptr), 0);
    EXPECT_EQ(jobList, nullptr);
    EXPECT_FALSE(FileExists(listPath));
}

TEST_F(NewFileDialogTest, WithUrlShowsItAndProposesTheName) {
    maxFiles = 0;
    QString url;
    QString proposed;
    WhenModal<NewFileDialog>([&](NewFileDialog* dialog) {
        url = UrlBox(*dialog)->text();
        proposed = FileBox(*dialog)->text();
        dialog->accept();
    });
    EXPECT_EQ(RunNewFileDialogWithUrl(nullptr, "http://host/pub/f.tar.gz"), 1);
    EXPECT_EQ(url, "http://host/pub/f.tar.gz");
    EXPECT_EQ(proposed, "f.tar.gz");
    ASSERT_NE(jobList, nullptr);
    EXPECT_STREQ(jobList->fileName, "f.tar.gz");
}

}  // namespace
}  // namespace vtest

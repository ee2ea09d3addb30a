// Driving modal windows from a test: a step that runs on the next modal window of
// a given kind once its own loop is running, and a guard that closes any modal
// window left open too long, so a test can fail but never hang on one.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

namespace vtest {

// Runs `step` once on the first modal window of type T to become active. Polls
// from the event loop, which a modal window's own loop keeps serving. Give up
// (with a failure) after `patienceMs`.
template <typename T>
void WhenModal(std::function<void(T*)> step, int patienceMs = 30000) {
    auto* timer = new QTimer(qApp);
    auto waited = std::make_shared<int>(0);
    constexpr int kPollMs = 5;
    QObject::connect(timer, &QTimer::timeout, [timer, waited, step = std::move(step), patienceMs] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
            window != nullptr && window->isVisible()) {
            timer->stop();
            timer->deleteLater();
            step(window);
            return;
        }
        *waited += kPollMs;
        if (*waited > patienceMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected modal window never appeared";
        }
    });
    timer->start(kPollMs);
}

// What a message box showed.
struct SeenMessage {
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Information;
    bool seen = false;
};

// Records the next message box and presses its OK button.
inline std::shared_ptr<SeenMessage> AnswerNextMessage() {
    auto seen = std::make_shared<SeenMessage>();
    WhenModal<QMessageBox>([seen](QMessageBox* box) {
        seen->caption = box->windowTitle();
        seen->text = box->text();
        seen->buttons = box->standardButtons();
        seen->icon = box->icon();
        seen->seen = true;
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    });
    return seen;
}

// While alive, closes every modal window that stays open longer than
// `patienceMs` and fails the test: a step that went wrong leaves no loop running.
class ModalGuard {
public:
    explicit ModalGuard(int patienceMs = 60000) {
        QObject::connect(&timer_, &QTimer::timeout, [] {
            bool closedAny = false;
            while (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
                closedAny = true;
                if (modal->isVisible()) break;
            }
            if (closedAny) ADD_FAILURE() << "a modal window was left open";
        });
        timer_.setSingleShot(true);
        timer_.start(patienceMs);
    }

private:
    QTimer timer_;
};

}  // namespace vtest

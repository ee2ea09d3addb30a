// The list's filter on the toolbar: a choice of the rows to show (All, Running,
// Waiting, Paused, Done, Failed) and a box whose text the URL or file name must
// hold. The choice is kept in the settings ("ViewFilter") and comes back at the
// next start; the text is not kept.
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>

class JobFilterProxy;
class QComboBox;
class QLineEdit;
class QToolBar;

class ViewFilterBar : public QObject {
    Q_OBJECT

public:
    // Child of `bar`; adds its two boxes at the bar's end and sets `proxy` to the
    // choice stored in the settings (All when it names none).
    ViewFilterBar(QToolBar* bar, JobFilterProxy* proxy);

    QComboBox* stateBox() const { return state_; }
    QLineEdit* textBox() const { return text_; }

private:
    QComboBox* state_;
    QLineEdit* text_;
};

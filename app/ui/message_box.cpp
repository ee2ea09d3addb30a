#include "message_box.h"

#include <QMessageBox>
#include <QString>

void ShowMessage(QWidget* owner, const char* text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramCaption),
                    QString::fromUtf8(text), QMessageBox::Ok, owner);
    box.exec();
}

#include "console/QtSeams.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "console/ProgramName.h"

void MessageBoxPrompts::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ProgramName, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void MessageBoxPrompts::error(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.addButton(QStringLiteral("Yes"), QMessageBox::AcceptRole);
    box.exec();
}

bool MessageBoxPrompts::confirm(const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton* yes = box.addButton(QStringLiteral("Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void MessageBoxPrompts::reportUnhandled(const QString& text) {
    QMessageBox box(QMessageBox::Warning, ProgramName, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

std::optional<QString> FileDialogChooser::chooseDatabaseFile() {
    const QString file = QFileDialog::getOpenFileName(
        QApplication::activeWindow(), QString(), QString(),
        QStringLiteral("数据库文件(*.db *.sqlite *.sqlite3);;所有文件(*)"));
    if (file.isEmpty()) return std::nullopt;
    return file;
}

std::optional<QString> FileDialogChooser::chooseSaveFile(const QString& suggestedName,
                                                         const QString& filter) {
    const QString file = QFileDialog::getSaveFileName(QApplication::activeWindow(), QString(),
                                                      suggestedName, filter);
    if (file.isEmpty()) return std::nullopt;
    return file;
}

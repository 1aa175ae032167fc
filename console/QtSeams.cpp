#include "console/QtSeams.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
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

std::optional<QString> MessageBoxPrompts::secret(const QString& text) {
    QDialog box(QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("店主授权"));
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(new QLabel(text, &box));
    auto* field = new QLineEdit(&box);
    field->setObjectName(QStringLiteral("secretField"));
    field->setEchoMode(QLineEdit::Password);  // never shown, and not copied out
    layout->addWidget(field);
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    layout->addWidget(buttons);
    const bool accepted = box.exec() == QDialog::Accepted;
    QString typed = field->text();
    field->clear();
    if (!accepted) return std::nullopt;
    return typed;
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

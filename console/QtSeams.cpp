#include "console/QtSeams.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QVBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "console/ProgramName.h"

int TitleRoom(const QString& title) {
    // The window manager's title font is not known here: a bold face a third larger than the
    // program's, and room for the icon and three buttons of the title bar.
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 4 / 3);
    return QFontMetrics(font).horizontalAdvance(title) + 120;
}

void FitTitle(QMessageBox& box) {
    // A box as narrow as "上机" would cut its title to "青岚… 系统"; a message box takes no
    // minimum width of its own, but its grid takes a spacer.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(TitleRoom(box.windowTitle()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

namespace {

void Show(QMessageBox& box) {
    FitTitle(box);
    box.exec();
}

}  // namespace

void MessageBoxPrompts::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ProgramName, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    Show(box);
}

void MessageBoxPrompts::error(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.addButton(QStringLiteral("Yes"), QMessageBox::AcceptRole);
    Show(box);
}

bool MessageBoxPrompts::confirm(const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton* yes = box.addButton(QStringLiteral("Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    Show(box);
    return box.clickedButton() == yes;
}

void MessageBoxPrompts::reportUnhandled(const QString& text) {
    QMessageBox box(QMessageBox::Warning, ProgramName, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    Show(box);
}

namespace {

const char* const kDatabaseFilter = "数据库文件 (*.db *.sqlite *.sqlite3);;所有文件 (*)";

// Qt's file list takes its dates from the system's locale, not the program's, and Qt's
// translations miss the folders' type: both are put right here.
class ChineseFileList : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files && role == Qt::DisplayRole) {
            const QModelIndex source = mapToSource(index);
            if (index.column() == 2 && files->isDir(source)) return QStringLiteral("文件夹");
            if (index.column() == 3)
                return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

std::optional<QString> Run(QFileDialog* dialog) {
    const std::unique_ptr<QFileDialog> owned(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().first();
}

}  // namespace

QFileDialog* MakeFileDialog(QWidget* parent, const QString& title, const QString& filter) {
    auto* dialog = new QFileDialog(parent, title, QString(), filter);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setProxyModel(new ChineseFileList(dialog));
    return dialog;
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
    QFileDialog* dialog = MakeFileDialog(QApplication::activeWindow(), QStringLiteral("选择数据库"),
                                         QString::fromUtf8(kDatabaseFilter));
    dialog->setFileMode(QFileDialog::ExistingFile);
    return Run(dialog);
}

std::optional<QString> FileDialogChooser::chooseDatabaseLocation() {
    QFileDialog* dialog = MakeFileDialog(
        QApplication::activeWindow(),
        QStringLiteral("选择数据库的位置：选一个已有的数据库，或者输入新数据库的文件名"),
        QString::fromUtf8(kDatabaseFilter));
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("db"));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("确定"));
    return Run(dialog);
}

std::optional<QString> FileDialogChooser::chooseSaveFile(const QString& suggestedName,
                                                         const QString& filter) {
    QFileDialog* dialog = MakeFileDialog(QApplication::activeWindow(), QString(), filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->selectFile(suggestedName);
    return Run(dialog);
}

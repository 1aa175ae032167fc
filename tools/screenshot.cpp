// Draws the main window on a small demonstration database and saves it as a PNG:
//   console-screenshot OUT.png
// Runs without a display (QT_QPA_PLATFORM=offscreen).
#include <QApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

#include "client_channel/NMUDP.h"
#include "console/QtSeams.h"
#include "console/TForm1.h"
#include "desk/Desk.h"
#include "record_store/DataModule.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: console-screenshot OUT.png\n");
        return 2;
    }
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    TDataModule1 module;
    {
        QSqlQuery q(QSqlDatabase::database(module.connectionName()));
        const char* rows[][9] = {
            {"192.168.0.11", "9:5:7", "10:15:07", "1时10分", "2.7元", "1.5", "4.2", "", "正常"},
            {"192.168.0.12", "22:10:00", "22:10:00", "0时40分", "2元", "10", "12", "", "通宵"},
            {"pc03", "", "", "", "", "", "", "", "无"},
            {"pc04", "10:1:30", "10:15:07", "0时14分", "0.7元", "0", "0.7", "", "正常"},
            {"pc05", "", "", "", "", "", "", "", "无"},
        };
        for (const auto& r : rows) {
            q.prepare(QStringLiteral("insert into Tcount values (?,?,?,?,?,?,?,?,?)"));
            for (const char* v : r) q.addBindValue(QString::fromUtf8(v));
            q.exec();
        }
    }
    MessageBoxPrompts prompts;
    SystemClock clock;
    NoFileChooser chooser;
    auto settings = QSettingsStore::forFile(dir.filePath(QStringLiteral("settings.ini")));
    settings->writeDatapath(dir.filePath(QStringLiteral("count.db")));
    QtHostResolver resolver;
    // Port 0: the picture must not take the console's port 1998.
    Desk desk(module, DeskSeams{.prompts = &prompts,
                                .clock = &clock,
                                .settings = settings.get(),
                                .chooser = &chooser,
                                .resolver = &resolver,
                                .remotePort = 1999,
                                .localPort = 0});
    TForm1 form(desk);
    form.show();
    QApplication::processEvents();
    if (!form.grab().save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}

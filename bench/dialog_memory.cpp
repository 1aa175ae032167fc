// Memory over a day of commands: the real main window (offscreen) opens and closes each
// dialog many times, as an operator's F1, Ctrl+I, ... do; the resident size is read after the
// first round and after the last.
//   dialog_memory [rounds]
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "BenchDesk.h"
#include "console/TForm1.h"
#include "record_store/DataModule.h"

namespace {

// Resident set size in kB, from the kernel's own account.
long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(2, atoi(argv[1])) : 1000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TDataModule1 dm;
    BenchDesk bench(dm, dir.path(), QDateTime(QDate(2026, 12, 9), QTime(10, 0)));
    // A machine in session, for the dialogs that need one (the bill, a reminder).
    QSqlQuery(QSqlDatabase::database(dm.connectionName()))
        .exec(QStringLiteral("insert into Tcount (username, Tstart, Tnow, Stime, Tmoney, Tother, "
                             "Tsum, gotime, Cstate) values ('pc', '9:0:0', '9:0:0', '0', '0', "
                             "'0', '0', '', '正常')"));
    TForm1 form(*bench.desk);
    form.show();
    QApplication::processEvents();

    // 添加主机, 自动搜索, 青岚信使, 添加附加费, 转账, 营业报表, 交班, 高级控制, 青岚帮助, 定时提醒,
    // 下机 (the bill, made once and shown again)
    const char* commands[] = {"N2",  "N5", "N10", "N12", "N13", "N70",
                              "N71", "N7", "N34", "N15", "N28"};
    const auto round = [&] {
        for (const char* command : commands) {
            form.action(command)->trigger();
            QApplication::processEvents();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w != &form && w->isVisible()) w->close();
            QApplication::processEvents();
        }
    };
    round();
    const long first = ResidentKb();
    for (int i = 1; i < rounds; ++i) round();
    const long last = ResidentKb();
    std::printf("%d rounds of %zu dialogs opened and closed\n", rounds, std::size(commands));
    std::printf("resident after round 1: %.1f MB, after round %d: %.1f MB, growth %.1f MB\n",
                first / 1024.0, rounds, last / 1024.0, (last - first) / 1024.0);
    std::printf("windows alive: %lld\n",
                static_cast<long long>(QApplication::topLevelWidgets().size()));
    return 0;
}

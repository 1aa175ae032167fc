// How long the machine list (Ctrl+I) takes to open, at 10 machines and at 10,000: the real
// dialog (offscreen), made, filled from the table and shown, until its first paint is done.
//   machine_list [runs] [machines...]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchDesk.h"
#include "client_channel/NMUDP.h"
#include "console/Tadduser.h"
#include "desk/Desk.h"
#include "record_store/DataModule.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    std::vector<int> sizes{10, 10000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) sizes.push_back(atoi(argv[i]));
    }
    std::printf("the machine list opened and painted, median ms of %d\n", runs);
    double first = 0;
    for (const int n : sizes) {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        TDataModule1 dm;
        {
            QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
            db.transaction();
            QSqlQuery q(db);
            q.prepare(QStringLiteral("insert into Tcount (username) values (?)"));
            for (int i = 0; i < n; ++i) {
                // Names in no particular order, mixed case: the sort has work to do.
                q.addBindValue(QStringLiteral("%1pc%2")
                                   .arg(i % 2 ? QStringLiteral("B") : QStringLiteral("a"))
                                   .arg((i * 7919) % 100000, 5, 10, QLatin1Char('0')));
                q.exec();
            }
            db.commit();
        }
        BenchDesk bench(dm, dir.path(), QDateTime(QDate(2026, 12, 9), QTime(10, 0, 15)));
        std::vector<double> ms;
        int shown = 0;
        for (int r = 0; r < runs; ++r) {
            QElapsedTimer t;
            t.start();
            auto* list = new Tadduser(*bench.desk, nullptr);
            list->show();
            (void)QTest::qWaitForWindowExposed(list);
            QCoreApplication::processEvents();
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            shown = list->FlatListBox1->count() - 1;
            delete list;
            QCoreApplication::processEvents();
        }
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        if (!first) first = median;
        std::printf("  %6d machines (%6d listed): %8.1f ms  %5.2fx the first\n", n, shown, median,
                    median / first);
        if (shown != n) return 1;
    }
    return 0;
}

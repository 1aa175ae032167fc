// How long the machine list (Ctrl+I) takes to open, at 10 machines and at 10,000: the real
// dialog (offscreen), made, filled from the table and shown, until its first paint is done;
// the two sizes take turns. The list keeps its order between openings, so the first opening
// (which sorts) is shown apart: one sample, the process's first paint in it too.
//   machine_list [runs] [machines...]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
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
    std::printf("the machine list opened and painted, median ms of %d, the sizes interleaved\n",
                runs);
    // One database per size, each in its folder, filled before any timing.
    struct Size {
        int n;
        QTemporaryDir dir;
        std::unique_ptr<TDataModule1> dm;
        std::unique_ptr<BenchDesk> bench;
        std::vector<double> ms;
        int shown = 0;
    };
    std::vector<std::unique_ptr<Size>> all;
    for (const int n : sizes) {
        auto size = std::make_unique<Size>();
        size->n = n;
        QDir::setCurrent(size->dir.path());
        size->dm = std::make_unique<TDataModule1>();
        {
            QSqlDatabase db = QSqlDatabase::database(size->dm->connectionName());
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
        size->bench = std::make_unique<BenchDesk>(*size->dm, size->dir.path(),
                                                  QDateTime(QDate(2026, 12, 9), QTime(10, 0, 15)));
        all.push_back(std::move(size));
    }
    for (int r = 0; r < runs; ++r)
        for (auto& size : all) {
            QElapsedTimer t;
            t.start();
            auto* list = new Tadduser(*size->bench->desk, nullptr);
            list->show();
            (void)QTest::qWaitForWindowExposed(list);
            QCoreApplication::processEvents();
            size->ms.push_back(double(t.nsecsElapsed()) / 1e6);
            size->shown = list->FlatListBox1->count() - 1;
            delete list;
            QCoreApplication::processEvents();
        }
    double first = 0;
    for (auto& size : all) {
        const double opening = size->ms.front();
        std::sort(size->ms.begin(), size->ms.end());
        const double median = size->ms[size->ms.size() / 2];
        if (!first) first = median;
        std::printf("  %6d machines (%6d listed): %8.1f ms  %5.2fx the first   (first opening %.1f ms)\n",
                    size->n, size->shown, median, median / first, opening);
        if (size->shown != size->n) return 1;
    }
    return 0;
}

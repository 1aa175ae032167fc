// The 营业报表 and the journal's part of a start, at 100,000 and 1,000,000 journal rows: a year,
// and ten years, of a 300-machine café (a checkout every 5 min 15 s, a shift opened every
// 12 hours), the last year alike in both.
//   report_bench [runs] [rows...]
// Each report is timed against one aggregate statement over the same rows (the count and sum
// of the settled bills of the days, by the same index); a day's report should not grow with
// the table. The start's share: the open shift's look-up (on the window's thread), the chain
// check of the rows added since the last verified one (beside it), and, for comparison, the
// whole chain (on demand, or weekly at low priority).
#include "ledger/Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "BenchDesk.h"
#include "BenchJournal.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "ledger/Journal.h"
#include "ledger/Shifts.h"
#include "record_store/Schema.h"

namespace {

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// The floor: one aggregate statement over the settled bills of the days.
qint64 Aggregate(QSqlDatabase db, const QDate& from, const QDate& to) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "select count(*), sum(total_fen) from Tjournal where kind=? and at>=? and at<?"));
    q.addBindValue(JournalKind::Checkout);
    q.addBindValue(from.startOfDay().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    q.addBindValue(to.addDays(1).startOfDay().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!q.exec() || !q.next()) return -1;
    return q.value(1).toLongLong();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    std::vector<int> sizes{100000, 1000000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) sizes.push_back(atoi(argv[i]));
    }
    const QDate day(2026, 6, 15), monthFrom(2026, 6, 1), monthTo(2026, 6, 30);
    std::printf("median ms of %d runs; the floor is one aggregate statement over the same rows\n",
                runs);
    std::printf("  %-40s %8s %10s %10s %8s\n", "", "rows", "product", "floor", "ratio");
    bool ok = true;
    for (const int rows : sizes) {
        QTemporaryDir dir;
        if (qEnvironmentVariableIsSet("CAFE_BENCH_KEEP")) {
            dir.setAutoRemove(false);
            std::printf("  (kept in %s)\n", qPrintable(dir.path()));
        }
        QDir::setCurrent(dir.path());
        TDataModule1 dm;
        BenchDesk bench(dm, dir.path(), QDateTime(QDate(2026, 12, 31), QTime(20, 0)));
        Desk& desk = *bench.desk;
        QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
        QElapsedTimer fill;
        fill.start();
        if (!FillJournal(db, rows)) {
            std::fprintf(stderr, "cannot fill the journal\n");
            return 1;
        }
        QSqlQuery(db).exec(QStringLiteral("analyze"));
        std::printf("  (%d rows filled in %.1f s)\n", rows, fill.elapsed() / 1000.0);

        // As after a start: the chain verified up to its newest row, so a report checks only
        // what was added since.
        {
            std::pair<qint64, QString> newest;
            if (VerifyJournalAfter(dm.connectionName(), {0, QString()}, {}, &newest).result !=
                ChainCheck::Intact) {
                std::fprintf(stderr, "the filled journal does not verify\n");
                return 1;
            }
            SetVerifiedJournalRow(desk, newest);
        }
        // As the start's check leaves them: the kept sums caught up (here all at once, as after
        // the first start of a version that keeps them).
        QElapsedTimer folding;
        folding.start();
        QString foldError;
        if (!FoldReportSums(dm.connectionName(), dm.engine().JournalLock(), &foldError)) {
            std::fprintf(stderr, "cannot fold the sums: %s\n", qPrintable(foldError));
            return 1;
        }
        const double foldMs = double(folding.nsecsElapsed()) / 1e6;
        std::size_t dayBills = 0, monthBills = 0;
        qint64 dayTotal = 0, monthTotal = 0;
        const double dayMs = MedianMs(runs, [&] {
            const auto r = LoadReport(desk, day, day);
            dayBills = size_t(r->billCount);
            dayTotal = r->totalCents;
        });
        const double dayFloor = MedianMs(runs, [&] { Aggregate(db, day, day); });
        const double monthMs = MedianMs(runs, [&] {
            const auto r = LoadReport(desk, monthFrom, monthTo);
            monthBills = size_t(r->billCount);
            monthTotal = r->totalCents;
        });
        const double monthFloor = MedianMs(runs, [&] { Aggregate(db, monthFrom, monthTo); });
        if (dayTotal != Aggregate(db, day, day) || monthTotal != Aggregate(db, monthFrom, monthTo)) {
            std::printf("  the report's total differs from the aggregate's\n");
            ok = false;
        }
        const auto line = [&](const char* what, double product, double floor) {
            std::printf("  %-40s %8d %10.1f %10.1f %7.2fx\n", what, rows, product, floor,
                        product / floor);
        };
        std::printf("  day: %zu bills, month: %zu bills\n", dayBills, monthBills);
        line("report for one day", dayMs, dayFloor);
        line("report for a month", monthMs, monthFloor);

        // The start's share of the journal.
        const double shiftMs = MedianMs(runs, [&] { (void)OpenShiftOf(desk); });
        std::pair<qint64, QString> newest;
        ChainCheck full;
        const double fullMs = MedianMs(1, [&] {
            full = VerifyJournalAfter(dm.connectionName(), {0, QString()}, {}, &newest);
        });
        // A start after a day's work: the 274 rows of a day are new since the last check.
        const std::pair<qint64, QString> verified = [&] {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select id, hash from Tjournal where id=%1").arg(rows - 274));
            q.next();
            return std::pair<qint64, QString>{q.value(0).toLongLong(), q.value(1).toString()};
        }();
        ChainCheck since;
        const double sinceMs = MedianMs(runs, [&] {
            since = VerifyJournalAfter(dm.connectionName(), verified, {}, nullptr);
        });
        if (full.result != ChainCheck::Intact || since.result != ChainCheck::Intact) ok = false;
        std::printf("  %-40s %8d %10.2f\n", "start: open shift look-up (window)", rows, shiftMs);
        std::printf("  %-40s %8d %10.2f\n", "start: check of a day's new rows", rows, sinceMs);
        std::printf("  %-40s %8d %10.1f\n", "sums kept for reports: first fold (once)", rows,
                    foldMs);
        std::printf("  %-40s %8d %10.1f   %s\n", "whole chain (on demand, weekly)", rows, fullMs,
                    full.result == ChainCheck::Intact ? "intact" : "NOT INTACT");
    }
    return ok ? 0 : 1;
}

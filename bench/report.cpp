// The 营业报表 over a year of a 300-machine café: 100,000 journal rows.
//   report [runs]
// Prints the median time to open the report for one day and for a month, to export the month
// as CSV, and to verify the whole chain (what start-up does).
#include "ledger/Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "BenchDesk.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "ledger/Journal.h"

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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const int rows = 100000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TDataModule1 dm;
    BenchDesk bench(dm, dir.path(), QDateTime(QDate(2026, 1, 1), QTime(8, 0)));
    Desk& desk = *bench.desk;
    SteppingClock& clock = bench.clock;
    desk.operatorName = QStringLiteral("小王");

    QElapsedTimer fill;
    fill.start();
    Transaction transaction(dm);
    transaction.Begin();
    for (int i = 0; i < rows; ++i) {
        // A checkout every 5 minutes 15 seconds, round the clock, all year.
        clock.at = clock.at.addSecs(315);
        const QString machine = QStringLiteral("pc%1").arg(i % 300, 3, 10, QLatin1Char('0'));
        if (!AppendJournal(desk, BillEntry(JournalKind::Checkout, machine, QStringLiteral("9:0:0"),
                                           clock.at.time().toString(QStringLiteral("H:mm:ss")),
                                           QStringLiteral("1时10分"), QStringLiteral("2.7元"),
                                           QStringLiteral("1.5"), QStringLiteral("4.2"),
                                           QStringLiteral("正常")))) {
            std::fprintf(stderr, "cannot fill the journal\n");
            return 1;
        }
    }
    if (!transaction.Commit()) return 1;
    std::printf("journal: %d rows from 2026-01-01 to %s, filled in %.1f s\n", rows,
                qPrintable(clock.at.date().toString(Qt::ISODate)), fill.elapsed() / 1000.0);

    const QDate day(2026, 6, 15);
    std::size_t dayBills = 0, monthBills = 0;
    const double dayMs =
        MedianMs(runs, [&] { dayBills = LoadReport(desk, day, day)->bills.size(); });
    const double monthMs = MedianMs(runs, [&] {
        monthBills = LoadReport(desk, QDate(2026, 6, 1), QDate(2026, 6, 30))->bills.size();
    });
    const Report month = *LoadReport(desk, QDate(2026, 6, 1), QDate(2026, 6, 30));
    QByteArray csv;
    const double csvMs = MedianMs(runs, [&] { csv = ReportCsv(month); });
    bool intact = false;
    const double verifyMs = MedianMs(
        std::max(1, runs / 2), [&] { intact = VerifyJournal(desk).result == ChainCheck::Intact; });

    std::printf("median of %d runs\n", runs);
    std::printf("  report for one day   (%5zu bills): %8.1f ms   goal 100 ms\n", dayBills, dayMs);
    std::printf("  report for a month   (%5zu bills): %8.1f ms   goal 1000 ms\n", monthBills,
                monthMs);
    std::printf("  CSV of the month     (%5lld bytes): %7.1f ms\n", (long long)csv.size(), csvMs);
    std::printf("  whole chain verified (%d rows; at start, beside the window): %.1f ms, %s\n",
                rows, verifyMs, intact ? "intact" : "NOT INTACT");
    return intact ? 0 : 1;
}

// What the journal's size costs a start: the real main window (offscreen) made on a database
// with an empty journal and on one with 1,000,000 rows (ten years of a 300-machine café),
// starts interleaved, three hundred machines in both. Timed from the data module's creation to
// the window shown and its event loop reached ("window"), and on to the end of what the start
// sets going beside it ("checks": the chain check of the rows added since the last verified
// one; the daily copy is already made). Each database was verified as a start leaves it.
//   start_bench [starts] [rows]
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
#include "BenchJournal.h"
#include "console/TForm1.h"
#include "desk/Desk.h"
#include "ledger/Journal.h"
#include "record_store/DataModule.h"

namespace {

const QDateTime kNow(QDate(2026, 12, 31), QTime(20, 0));

struct Times {
    double window = 0, checks = 0;
    int boxes = 0;
};

// One start, as main() makes it, on the database of folder.
Times Start(const QString& folder) {
    Times t;
    QDir::setCurrent(folder);
    QElapsedTimer clock;
    clock.start();
    {
        TDataModule1 dm(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
        BenchDesk bench(dm, folder, kNow);
        TForm1 form(*bench.desk);
        form.show();
        (void)QTest::qWaitForWindowExposed(&form);
        QCoreApplication::processEvents();
        t.window = double(clock.nsecsElapsed()) / 1e6;
        while (bench.desk->BackgroundBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::processEvents();
        t.checks = double(clock.nsecsElapsed()) / 1e6;
        t.boxes = bench.prompts.boxes;
    }
    return t;
}

// A database with rows journal rows and 300 idle machines, verified and copied as after a
// start earlier the same day.
bool Prepare(const QString& folder, int rows) {
    QDir::setCurrent(folder);
    TDataModule1 dm;
    BenchDesk bench(dm, folder, kNow);
    QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into Tcount (username) values (?)"));
    for (int i = 0; i < 300; ++i) {
        q.addBindValue(QStringLiteral("pc%1").arg(i, 3, 10, QLatin1Char('0')));
        q.exec();
    }
    if (!db.commit() || (rows > 0 && !FillJournal(db, rows))) return false;
    QSqlQuery(db).exec(QStringLiteral("analyze"));
    std::pair<qint64, QString> newest;
    if (VerifyJournalAfter(dm.connectionName(), {0, QString()}, {}, &newest).result !=
        ChainCheck::Intact)
        return false;
    SetVerifiedJournalRow(*bench.desk, newest);
    bench.desk->SetDatabaseSetting(QStringLiteral("journalFullCheck"),
                                   kNow.date().toString(Qt::ISODate));
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const int rows = argc > 2 ? atoi(argv[2]) : 1000000;
    QTemporaryDir emptyDir, fullDir;
    QElapsedTimer fill;
    fill.start();
    if (!Prepare(emptyDir.path(), 0) || !Prepare(fullDir.path(), rows)) {
        std::fprintf(stderr, "cannot prepare the databases\n");
        return 1;
    }
    std::printf("(databases made in %.1f s)\n", fill.elapsed() / 1000.0);
    // The first start of each makes the daily copy; it is not timed.
    for (const QString& folder : {emptyDir.path(), fullDir.path()}) (void)Start(folder);
    std::vector<double> window[2], checks[2];
    int boxes = 0;
    for (int r = 0; r < starts; ++r)
        for (int which = 0; which < 2; ++which) {
            const Times t = Start(which ? fullDir.path() : emptyDir.path());
            window[which].push_back(t.window);
            checks[which].push_back(t.checks);
            boxes += t.boxes;
        }
    std::printf("a start, median ms of %d, interleaved\n", starts);
    std::printf("  %-34s %10s %10s %8s\n", "", "no rows", "rows", "ratio");
    std::printf("  %-34s %10.1f %10.1f %7.2fx\n", "window shown (event loop reached)",
                Median(window[0]), Median(window[1]), Median(window[1]) / Median(window[0]));
    std::printf("  %-34s %10.1f %10.1f %7.2fx\n", "and the start's checks done",
                Median(checks[0]), Median(checks[1]), Median(checks[1]) / Median(checks[0]));
    std::printf("  (journal rows: %d)\n", rows);
    if (boxes) std::printf("  (unexpected: %d boxes)\n", boxes);
    return boxes ? 1 : 0;
}

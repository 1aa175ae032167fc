// The billing pass and the clock refresh against a floor: a plain SQLite C-API program doing
// the same work (read the tariff and the rows in session, one transaction with one prepared
// update per row, then read all nine columns of every row as the grid shows them), interleaved
// in one run, on identical files. The clock moves 30 s per repetition, so about half the passes
// cross a minute and change every row.
//   billing_pass [runs] [machines...]
// With CAFE_BENCH_POSTGRES (or CAFE_TEST_POSTGRES) set to a server URI, the product's pass on
// PostgreSQL is timed beside SQLite.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "BenchDesk.h"
#include "billing/BillingPass.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "record_store/ConnectDatabase.h"
#include "record_store/DataModule.h"

namespace {

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Ms(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

// n machines in session, started between 8:00 and 9:59, with small extra charges.
void Fill(QSqlDatabase db, int n) {
    db.transaction();
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("insert into Tcount (username, Tstart, Tnow, Stime, Tmoney, Tother, "
                       "Tsum, gotime, Cstate) values (?, ?, ?, '0', '0', ?, '0', '', '正常')"));
    for (int i = 0; i < n; ++i) {
        const QString start = QStringLiteral("%1:%2:%3").arg(8 + i % 2).arg(i % 60).arg(i % 60);
        q.addBindValue(QStringLiteral("pc%1").arg(i, 5, 10, QLatin1Char('0')));
        q.addBindValue(start);
        q.addBindValue(start);
        q.addBindValue(QString::number(i % 7));
        q.exec();
    }
    db.commit();
}

// --- The floor: the same work on SQLite's C API. ---

class Floor {
  public:
    explicit Floor(const QString& path) {
        sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(m_db, 1000);
        // As durable as the product's commits: the journal's delete synced with its folder.
        sqlite3_exec(m_db, "PRAGMA synchronous=EXTRA", nullptr, nullptr, nullptr);
    }
    ~Floor() { sqlite3_close(m_db); }

    void Pass(const QTime& now) {
        double rate = 0;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(m_db, "select OneTime from Tmoney", -1, &s, nullptr);
        if (sqlite3_step(s) == SQLITE_ROW) rate = sqlite3_column_double(s, 0);
        sqlite3_finalize(s);
        struct Row {
            std::string name;
            int hour, minute;
            double other;
        };
        std::vector<Row> rows;
        sqlite3_prepare_v2(m_db, "select username, Tstart, Tother from Tcount where Cstate='正常'",
                           -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW) {
            int h = 0, m = 0;
            std::sscanf(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)), "%d:%d", &h, &m);
            rows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), h, m,
                            sqlite3_column_double(s, 2)});
        }
        sqlite3_finalize(s);
        sqlite3_exec(m_db, "begin", nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(m_db, "update Tcount set Stime=?, Tmoney=?, Tsum=? where username=?", -1,
                           &s, nullptr);
        char used[32], fee[32], sum[32];
        for (const Row& r : rows) {
            const ElapsedTime e = Elapsed(r.hour, r.minute, now.hour(), now.minute());
            const double f = TimeFee(rate, e.hours, e.minutes);
            std::snprintf(used, sizeof used, "%d时%d分", e.hours, e.minutes);
            std::snprintf(fee, sizeof fee, "%.15g元", f);
            std::snprintf(sum, sizeof sum, "%.15g", f + r.other);
            sqlite3_bind_text(s, 1, used, -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 2, fee, -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 3, sum, -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 4, r.name.c_str(), -1, SQLITE_STATIC);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
        sqlite3_finalize(s);
        sqlite3_exec(m_db, "commit", nullptr, nullptr, nullptr);
        ReadGrid();
    }

    void Clock(const QTime& now) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(m_db, "update Tcount set Tnow=? where Cstate='正常'", -1, &s, nullptr);
        const QByteArray text = LongTimeText(now).toUtf8();
        sqlite3_bind_text(s, 1, text.constData(), -1, SQLITE_STATIC);
        sqlite3_step(s);
        sqlite3_finalize(s);
        ReadGrid();
    }

    // Every column of every row as text, as a grid shows them.
    void ReadGrid() {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(m_db,
                           "select username,Tstart,Tnow,Stime,Tmoney,Tother,Tsum,gotime,Cstate "
                           "from Tcount order by username",
                           -1, &s, nullptr);
        std::vector<std::string> cells;
        while (sqlite3_step(s) == SQLITE_ROW)
            for (int c = 0; c < 9; ++c) {
                const unsigned char* t = sqlite3_column_text(s, c);
                cells.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
            }
        sqlite3_finalize(s);
    }

  private:
    sqlite3* m_db = nullptr;
};

// The literal design: every row's update is set up afresh and commits on its own.
void OneStatementPerRow(TDataModule1& dm, double rate, const QTime& now) {
    const QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
    QSqlQuery rows(db);
    rows.exec(QStringLiteral("select username, Tstart, Tother from Tcount where Cstate='正常'"));
    while (rows.next()) {
        const QTime start = ParseDateTime(rows.value(1).toString());
        const ElapsedTime used = Elapsed(start.hour(), start.minute(), now.hour(), now.minute());
        const double fee = TimeFee(rate, used.hours, used.minutes);
        QSqlQuery q3(db);
        q3.prepare(
            QStringLiteral("update Tcount set Stime=:sumtime,Tmoney=:sumMoney,Tsum=:allMoney where "
                           "username=:aid"));
        q3.bindValue(QStringLiteral(":sumtime"),
                     QStringLiteral("%1时%2分").arg(used.hours).arg(used.minutes));
        q3.bindValue(QStringLiteral(":sumMoney"), DecimalText(fee) + QStringLiteral("元"));
        q3.bindValue(QStringLiteral(":allMoney"),
                     DecimalText(fee + ParseDecimal(rows.value(2).toString())));
        q3.bindValue(QStringLiteral(":aid"), rows.value(0).toString());
        q3.exec();
    }
}

struct Figures {
    std::vector<double> crossing, within;  // passes that crossed a minute, and those that did not
};

struct Product {
    TDataModule1 dm;
    BenchDesk bench;
    SilentPrompts& prompts = bench.prompts;
    SteppingClock& clock = bench.clock;
    std::unique_ptr<Desk>& desk = bench.desk;

    explicit Product(const QString& folder)
        : bench(dm, folder, QDateTime(QDate(2026, 12, 9), QTime(10, 0, 15))) {
        desk->RefreshSessionGrid();  // the grid is open, as in the window
    }
};

void Line(const char* what, int n, double product, double floor) {
    std::printf("  %-34s %6d %10.2f %10.2f %7.2fx\n", what, n, product, floor, product / floor);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(4, atoi(argv[1])) : 16;
    std::vector<int> sizes{100, 1000, 10000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) sizes.push_back(atoi(argv[i]));
    }
    QString server = qEnvironmentVariable("CAFE_BENCH_POSTGRES");
    if (server.isEmpty()) server = qEnvironmentVariable("CAFE_TEST_POSTGRES");

    std::printf(
        "median ms of %d repetitions, the clock 30 s further at each; file databases in a "
        "temporary folder\n",
        runs);
    std::printf("  %-34s %6s %10s %10s %8s\n", "", "rows", "product", "floor", "ratio");
    for (const int n : sizes) {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            const QString floorFile = dir.filePath(QStringLiteral("floor.db"));
            TDataModule1::CreateDatabaseFile(floorFile);
            Product product(dir.path());
            Fill(QSqlDatabase::database(product.dm.connectionName()), n);
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
                db.setDatabaseName(floorFile);
                db.open();
                Fill(db, n);
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("fill"));
            Floor floor(floorFile);
            Figures pass, passFloor, clock, clockFloor;
            std::vector<double> perRow;
            const int repeat = n >= 10000 ? std::max(4, runs / 2) : runs;
            for (int r = 0; r < repeat; ++r) {
                const QTime before = product.clock.now();
                product.clock.at = product.clock.at.addSecs(30);
                const QTime now = product.clock.now();
                const bool crossed = before.minute() != now.minute();
                (crossed ? pass.crossing : pass.within).push_back(Ms([&] {
                    BillingPass(*product.desk);
                }));
                (crossed ? passFloor.crossing : passFloor.within).push_back(Ms([&] {
                    floor.Pass(now);
                }));
                (crossed ? clock.crossing : clock.within).push_back(Ms([&] {
                    RefreshClock(*product.desk);
                }));
                (crossed ? clockFloor.crossing : clockFloor.within).push_back(Ms([&] {
                    floor.Clock(now);
                }));
            }
            for (int r = 0; r < std::max(3, repeat / 4); ++r)
                perRow.push_back(
                    Ms([&] { OneStatementPerRow(product.dm, 2.0, product.clock.now()); }));
            if (product.prompts.boxes)
                std::printf("  (unexpected: %d boxes, the last \"%s\")\n", product.prompts.boxes,
                            qPrintable(product.prompts.last));
            const double passAll = Median([&] {
                auto all = pass.crossing;
                all.insert(all.end(), pass.within.begin(), pass.within.end());
                return all;
            }());
            Line("billing pass, crossing a minute", n, Median(pass.crossing),
                 Median(passFloor.crossing));
            Line("billing pass, within a minute", n, Median(pass.within), Median(passFloor.within));
            Line("clock refresh", n, Median([&] {
                     auto all = clock.crossing;
                     all.insert(all.end(), clock.within.begin(), clock.within.end());
                     return all;
                 }()),
                 Median([&] {
                     auto all = clockFloor.crossing;
                     all.insert(all.end(), clockFloor.within.begin(), clockFloor.within.end());
                     return all;
                 }()));
            Line("per-row autocommits (vs the pass)", n, Median(perRow), passAll);
        }
        QDir::setCurrent(previous);
    }

    if (server.isEmpty()) {
        std::printf("PostgreSQL: set CAFE_BENCH_POSTGRES to a server URI to time it too\n");
        return 0;
    }
    std::printf("\nthe product's billing pass on PostgreSQL (%s) beside SQLite, median ms\n",
                qPrintable(server));
    std::printf("  %6s %10s %10s\n", "rows", "sqlite", "postgres");
    QSqlDatabase admin =
        QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
    {
        QString error;
        Engine::For(server)->Configure(admin, server, false, &error);
        admin.open();
    }
    for (const int n : sizes) {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        QSqlQuery(admin).exec(QStringLiteral("drop database if exists cafe_bench with (force)"));
        QSqlQuery(admin).exec(QStringLiteral("create database cafe_bench"));
        QUrl url(server);
        url.setPath(QStringLiteral("/cafe_bench"));
        double lite = 0, pg = 0;
        {
            Product sqlite(dir.path());
            Fill(QSqlDatabase::database(sqlite.dm.connectionName()), n);
            Product postgres(dir.path());
            SwitchConnection(postgres.dm, url.toString());
            Fill(QSqlDatabase::database(postgres.dm.connectionName()), n);
            postgres.desk->RefreshSessionGrid();
            std::vector<double> a, b;
            const int repeat = n >= 10000 ? std::max(4, runs / 2) : runs;
            for (int r = 0; r < repeat; ++r) {
                for (Product* p : {&sqlite, &postgres}) p->clock.at = p->clock.at.addSecs(30);
                a.push_back(Ms([&] { BillingPass(*sqlite.desk); }));
                b.push_back(Ms([&] { BillingPass(*postgres.desk); }));
            }
            lite = Median(a);
            pg = Median(b);
        }
        std::printf("  %6d %10.2f %10.2f\n", n, lite, pg);
        QSqlQuery(admin).exec(QStringLiteral("drop database if exists cafe_bench with (force)"));
        QDir::setCurrent(previous);
    }
    return 0;
}

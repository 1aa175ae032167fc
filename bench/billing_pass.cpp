// The billing pass and the clock refresh against a floor: a plain SQLite C-API program doing
// the same work (read the tariff and the rows in session with the texts they show, one
// transaction with one prepared update per row whose texts change, with the same guards, then
// read all nine columns of every row as the grid shows them), interleaved in one run, on
// identical files. The clock moves 30 s per repetition, so about half the passes cross a
// minute and change every row; the others change nothing and write nothing.
//   billing_pass [runs] [machines...]
// With CAFE_BENCH_POSTGRES (or CAFE_TEST_POSTGRES) set to a server URI, the product's pass on
// PostgreSQL is timed against the same floor through libpq: one transaction, one
// UPDATE ... FROM unnest(...) with the same guards, plus the grid read.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <functional>
#include <vector>

#include "BenchDesk.h"
#include "billing/BillingPass.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "record_store/ConnectDatabase.h"
#include "record_store/DataModule.h"

#ifdef CAFE_BENCH_LIBPQ
#include <libpq-fe.h>
#endif

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

// --- The floors: the same work on SQLite's C API, and on libpq. ---

// A row as read: username, Tstart, Tother, Stime, Tmoney, Tsum.
struct FloorRow {
    std::string text[6];
};

// Puts the row's new bill in place of the texts read; false when they would not change.
bool Price(double rate, const QTime& now, FloorRow& r) {
    int h = 0, m = 0;
    std::sscanf(r.text[1].c_str(), "%d:%d", &h, &m);
    const ElapsedTime e = Elapsed(h, m, now.hour(), now.minute());
    const double f = TimeFee(rate, e.hours, e.minutes);
    char used[32], fee[32], sum[32];
    std::snprintf(used, sizeof used, "%d时%d分", e.hours, e.minutes);
    std::snprintf(fee, sizeof fee, "%.15g元", f);
    std::snprintf(sum, sizeof sum, "%.15g", f + std::atof(r.text[2].c_str()));
    if (r.text[3] == used && r.text[4] == fee && r.text[5] == sum) return false;
    r.text[3] = used;
    r.text[4] = fee;
    r.text[5] = sum;
    return true;
}

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
        std::vector<FloorRow> rows;
        sqlite3_prepare_v2(m_db,
                           "select username,Tstart,Tother,Stime,Tmoney,Tsum from Tcount where "
                           "Cstate='正常' order by username",
                           -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW) {
            FloorRow r;
            for (int c = 0; c < 6; ++c) {
                const unsigned char* t = sqlite3_column_text(s, c);
                r.text[c] = t ? reinterpret_cast<const char*>(t) : "";
            }
            rows.push_back(std::move(r));
        }
        sqlite3_finalize(s);
        bool open = false;
        s = nullptr;
        for (FloorRow& r : rows) {
            if (!Price(rate, now, r)) continue;
            if (!open) {
                sqlite3_exec(m_db, "begin", nullptr, nullptr, nullptr);
                sqlite3_prepare_v2(m_db,
                                   "update Tcount set Stime=?,Tmoney=?,Tsum=? where username=? "
                                   "and Cstate='正常' and Tstart=? and Tother=? and (Stime is "
                                   "distinct from ? or Tmoney is distinct from ? or Tsum is "
                                   "distinct from ?)",
                                   -1, &s, nullptr);
                open = true;
            }
            const std::string* bound[] = {&r.text[3], &r.text[4], &r.text[5],
                                          &r.text[0], &r.text[1], &r.text[2],
                                          &r.text[3], &r.text[4], &r.text[5]};
            for (int b = 0; b < 9; ++b)
                sqlite3_bind_text(s, b + 1, bound[b]->c_str(), int(bound[b]->size()),
                                  SQLITE_STATIC);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
        if (open) {
            sqlite3_finalize(s);
            sqlite3_exec(m_db, "commit", nullptr, nullptr, nullptr);
        }
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

#ifdef CAFE_BENCH_LIBPQ
class PgFloor {
  public:
    explicit PgFloor(const QString& uri) : m_db(PQconnectdb(uri.toUtf8().constData())) {}
    ~PgFloor() { PQfinish(m_db); }
    bool Ok() const { return PQstatus(m_db) == CONNECTION_OK; }

    void Pass(const QTime& now) {
        double rate = 0;
        PGresult* r = PQexec(m_db, "select OneTime from Tmoney");
        if (PQntuples(r) > 0) rate = std::atof(PQgetvalue(r, 0, 0));
        PQclear(r);
        r = PQexec(m_db,
                   "select username,Tstart,Tother,Stime,Tmoney,Tsum from Tcount where "
                   "Cstate='正常' order by username");
        std::vector<FloorRow> changed;
        for (int i = 0; i < PQntuples(r); ++i) {
            FloorRow row;
            for (int c = 0; c < 6; ++c) row.text[c] = PQgetvalue(r, i, c);
            if (Price(rate, now, row)) changed.push_back(std::move(row));
        }
        PQclear(r);
        if (!changed.empty()) {
            std::string arrays[6];
            for (int c = 0; c < 6; ++c) {
                std::string& a = arrays[c];
                a = "{";
                for (size_t i = 0; i < changed.size(); ++i) {
                    if (i) a += ',';
                    a += '"';
                    for (const char ch : changed[i].text[c]) {
                        if (ch == '"' || ch == '\\') a += '\\';
                        a += ch;
                    }
                    a += '"';
                }
                a += '}';
            }
            const char* values[6];
            for (int c = 0; c < 6; ++c) values[c] = arrays[c].c_str();
            PQclear(PQexec(m_db, "begin"));
            r = PQexecParams(
                m_db,
                "with l as (select t.ctid as at, v.* from Tcount as t join "
                "unnest($1::text[],$2::text[],$3::text[],$4::text[],$5::text[],$6::text[]) with "
                "ordinality as v(c0,c1,c2,c3,c4,c5,i) on t.username=v.c0 where Cstate='正常' and "
                "t.Tstart=v.c1 and t.Tother=v.c2 and (t.Stime is distinct from v.c3 or t.Tmoney "
                "is distinct from v.c4 or t.Tsum is distinct from v.c5) for update of t skip "
                "locked) update Tcount as t set Stime=l.c3,Tmoney=l.c4,Tsum=l.c5 from l where "
                "t.ctid=l.at returning l.i",
                6, nullptr, values, nullptr, nullptr, 0);
            if (PQresultStatus(r) != PGRES_TUPLES_OK)
                std::fprintf(stderr, "floor: %s\n", PQerrorMessage(m_db));
            written += PQntuples(r);
            PQclear(r);
            PQclear(PQexec(m_db, "commit"));
        }
        ReadGrid();
    }

    void ReadGrid() {
        PGresult* r = PQexec(m_db,
                             "select username,Tstart,Tnow,Stime,Tmoney,Tother,Tsum,gotime,Cstate "
                             "from Tcount order by username");
        std::vector<std::string> cells;
        cells.reserve(size_t(PQntuples(r)) * 9);
        for (int i = 0; i < PQntuples(r); ++i)
            for (int c = 0; c < 9; ++c) cells.emplace_back(PQgetvalue(r, i, c));
        PQclear(r);
    }

    long long written = 0;

  private:
    PGconn* m_db;
};
#endif

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
        : bench(dm, folder, QDateTime(QDate(2026, 12, 9), QTime(10, 0, 15))) {}

    // The grid open over the n rows filled, as in the window: the pass patches its cells.
    void OpenGrid(int n) {
        desk->RefreshSessionGrid();
        if (dm.ADOQuery1->RecordCount() != n) {
            std::fprintf(stderr, "the grid shows %d rows, not %d\n", dm.ADOQuery1->RecordCount(),
                         n);
            std::exit(1);
        }
    }
};

void Settle() {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

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
            product.OpenGrid(n);
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
            // The first pass bills the rows as filled: it writes them all, crossing or not.
            BillingPass(*product.desk);
            floor.Pass(product.clock.now());
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
#ifndef CAFE_BENCH_LIBPQ
    std::printf("PostgreSQL: built without libpq (libpq-dev), no floor to time it against\n");
    return 0;
#else
    std::printf("\nthe billing pass on PostgreSQL (%s) against its libpq floor, median ms\n",
                qPrintable(MaskedConnectionText(server)));
    std::printf("  %-34s %6s %10s %10s %8s\n", "", "rows", "product", "floor", "ratio");
    QSqlDatabase admin =
        QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
    {
        QString error;
        Engine::For(server)->Configure(admin, server, false, &error);
        admin.open();
    }
    const auto fresh = [&](const QString& name) {
        QSqlQuery(admin).exec(QStringLiteral("drop database if exists %1 with (force)").arg(name));
        QSqlQuery(admin).exec(QStringLiteral("create database %1").arg(name));
        QUrl url(server);
        url.setPath(QLatin1Char('/') + name);
        return url.toString();
    };
    for (const int n : sizes) {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString productUri = fresh(QStringLiteral("cafe_bench"));
        const QString floorUri = fresh(QStringLiteral("cafe_bench_floor"));
        {
            Product postgres(dir.path());
            SwitchConnection(postgres.dm, productUri);
            Fill(QSqlDatabase::database(postgres.dm.connectionName()), n);
            postgres.OpenGrid(n);
            {
                // The floor's database made by the product's own schema, then filled alike.
                Product maker(dir.path());
                SwitchConnection(maker.dm, floorUri);
                Fill(QSqlDatabase::database(maker.dm.connectionName()), n);
            }
            PgFloor floor(floorUri);
            if (!floor.Ok()) {
                std::fprintf(stderr, "floor: cannot connect\n");
                return 1;
            }
            Figures pass, passFloor;
            const int repeat = n >= 10000 ? std::max(4, runs / 2) : runs;
            // The first pass bills the rows as filled: it writes them all, crossing or not.
            BillingPass(*postgres.desk);
            floor.Pass(postgres.clock.now());
            Settle();
            for (int r = 0; r < repeat; ++r) {
                // Each pass meets a server that had 30 s to itself, as at the desk: not one
                // still busy with the floor's write of a moment ago.
                Settle();
                const QTime before = postgres.clock.now();
                postgres.clock.at = postgres.clock.at.addSecs(30);
                const QTime now = postgres.clock.now();
                const bool crossed = before.minute() != now.minute();
                // As the timer runs it: on the desk's worker, whose connection has no
                // window's statement time limit.
                (crossed ? pass.crossing : pass.within).push_back(Ms([&] {
                    BillingPassBeside(*postgres.desk);
                    while (postgres.desk->billingPassRunning)
                        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                }));
                // What the pass set going (the grid read again on the other desks' notice,
                // this desk's among them) is let finish before the floor is timed.
                Settle();
                (crossed ? passFloor.crossing : passFloor.within).push_back(Ms([&] {
                    floor.Pass(now);
                }));
            }
            if (postgres.prompts.boxes)
                std::printf("  (unexpected: %d boxes, the last \"%s\")\n", postgres.prompts.boxes,
                            qPrintable(postgres.prompts.last));
            if (qEnvironmentVariableIsSet("CAFE_BENCH_ALL"))
                for (const auto* v : {&pass.crossing, &passFloor.crossing, &pass.within,
                                      &passFloor.within}) {
                    for (const double ms : *v) std::printf(" %.1f", ms);
                    std::printf("\n");
                }
            Line("pg pass, crossing a minute", n, Median(pass.crossing),
                 Median(passFloor.crossing));
            Line("pg pass, within a minute", n, Median(pass.within), Median(passFloor.within));
        }
        QSqlQuery(admin).exec(QStringLiteral("drop database if exists cafe_bench with (force)"));
        QSqlQuery(admin).exec(
            QStringLiteral("drop database if exists cafe_bench_floor with (force)"));
        QDir::setCurrent(previous);
    }
    return 0;
#endif
}

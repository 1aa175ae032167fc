// The billing pass under a price plan (three zones, five bands a weekday, a weekend rate)
// against the same pass without a plan, interleaved in one run on identical files (which goes
// first alternates). The clock moves 30 s per repetition, so about half the passes cross a
// minute and change every row. Wall-clock time, and the process's CPU time, which a machine
// shared with other work disturbs less.
//   plan_pass [runs] [machines...]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include "BenchDesk.h"
#include "billing/BillingPass.h"
#include "plans/Plans.h"
#include "record_store/DataModule.h"

namespace {

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

const char* const kZones[] = {"普通区", "电竞区", "包间"};

QByteArray ThreeZones() {
    QStringList zones;
    for (int z = 0; z < 3; ++z) {
        const int base = 3 + 2 * z;
        zones << QStringLiteral(
                     R"({"name": "%1", "rates": [
          {"days": ["mon","tue","wed","thu","fri"], "from": "00:00", "to": "08:00", "hourly": "%2"},
          {"days": ["mon","tue","wed","thu","fri"], "from": "08:00", "to": "12:00", "hourly": "%3"},
          {"days": ["mon","tue","wed","thu","fri"], "from": "12:00", "to": "18:00", "hourly": "%4"},
          {"days": ["mon","tue","wed","thu","fri"], "from": "18:00", "to": "22:00", "hourly": "%5"},
          {"days": ["mon","tue","wed","thu","fri"], "from": "22:00", "to": "24:00", "hourly": "%2"},
          {"days": ["sat","sun","holiday"], "from": "00:00", "to": "24:00", "hourly": "%5"}],
         "overnight": {"price": "10", "sell_from": "20:00", "sell_to": "04:00", "ends": "08:00"}})")
                     .arg(QString::fromUtf8(kZones[z]))
                     .arg(base - 1)
                     .arg(base - 0.5)
                     .arg(base)
                     .arg(base + 1.5);
    }
    return (QStringLiteral(R"({"zones": [)") + zones.join(u',') + QStringLiteral("]}")).toUtf8();
}

// n machines in session, started between 8:00 and 9:59 today, with small extra charges; under
// the plan a third of them in each zone, each with its full start.
void Fill(TDataModule1& dm, int n, bool plan) {
    QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
    db.transaction();
    QSqlQuery q(db), zone(db), session(db);
    q.prepare(QStringLiteral("insert into Tcount (username, Tstart, Tnow, Stime, Tmoney, Tother, "
                             "Tsum, gotime, Cstate) values (?, ?, ?, '0', '0', ?, '0', '', '正常')"));
    zone.prepare(QStringLiteral("insert into Tzone (username, zone) values (?, ?)"));
    session.prepare(QStringLiteral("insert into Tsession (username, started, zone, carried, "
                                   "night_ends, warned, kept) values (?, ?, '', '0', '', 0, 0)"));
    for (int i = 0; i < n; ++i) {
        const QString name = QStringLiteral("pc%1").arg(i, 5, 10, QLatin1Char('0'));
        const QTime at(8 + i % 2, i % 60, i % 60);
        const QString start = ClockText(at);
        q.addBindValue(name);
        q.addBindValue(start);
        q.addBindValue(start);
        q.addBindValue(QString::number(i % 7));
        q.exec();
        if (!plan) continue;
        if (i % 3) {
            zone.addBindValue(name);
            zone.addBindValue(QString::fromUtf8(kZones[i % 3]));
            zone.exec();
        }
        session.addBindValue(name);
        session.addBindValue(QDateTime(QDate(2026, 12, 9), at).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        session.exec();
    }
    db.commit();
}

struct Product {
    QTemporaryDir dir;
    std::unique_ptr<TDataModule1> dm;
    std::unique_ptr<BenchDesk> bench;
    Product(int n, bool plan) {
        QDir::setCurrent(dir.path());
        dm = std::make_unique<TDataModule1>();
        bench = std::make_unique<BenchDesk>(*dm, dir.path(),
                                            QDateTime(QDate(2026, 12, 9), QTime(7, 0, 15)));
        if (plan) {
            PlanProblem problem;
            QString why;
            if (!SavePlan(*bench->desk, *PlanFromJson(ThreeZones(), &problem), {}, &why))
                qFatal("plan: %s %s", qPrintable(problem.text), qPrintable(why));
        }
        bench->clock.at = QDateTime(QDate(2026, 12, 9), QTime(10, 0, 15));
        Fill(*dm, n, plan);
        bench->desk->RefreshSessionGrid();  // the grid is open, as in the window
    }
    struct Took {
        double wall, cpu;  // ms
    };
    Took Pass() {
        QElapsedTimer t;
        timespec before{}, after{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
        t.start();
        BillingPass(*bench->desk);
        const double wall = double(t.nsecsElapsed()) / 1e6;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
        return {wall, double(after.tv_sec - before.tv_sec) * 1e3 +
                          double(after.tv_nsec - before.tv_nsec) / 1e6};
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(4, atoi(argv[1])) : 16;
    std::vector<int> sizes{1000, 10000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) sizes.push_back(atoi(argv[i]));
    }
    std::printf("median ms of %d passes, the clock 30 s further at each; SQLite files\n", runs);
    std::printf("  %-24s %6s %10s %10s %7s %9s %9s %7s\n", "", "rows", "plan", "no plan", "ratio",
                "cpu plan", "cpu no", "ratio");
    for (const int n : sizes) {
        Product plain(n, false), plan(n, true);
        // [crossing][plan]: wall and CPU times
        std::vector<double> wall[2][2], cpu[2][2];
        for (int r = 0; r < runs; ++r) {
            const QTime before = plain.bench->clock.now();
            for (Product* p : {&plain, &plan}) p->bench->clock.at = p->bench->clock.at.addSecs(30);
            const int crossed = before.minute() != plain.bench->clock.now().minute();
            Product::Took withPlan{}, without{};
            if (r % 4 < 2) {
                withPlan = plan.Pass();
                without = plain.Pass();
            } else {
                without = plain.Pass();
                withPlan = plan.Pass();
            }
            wall[crossed][1].push_back(withPlan.wall);
            wall[crossed][0].push_back(without.wall);
            cpu[crossed][1].push_back(withPlan.cpu);
            cpu[crossed][0].push_back(without.cpu);
        }
        for (Product* p : {&plain, &plan})
            if (p->bench->prompts.boxes)
                std::printf("unexpected box: %s\n", qPrintable(p->bench->prompts.last));
        const auto line = [&](const char* what, int crossed) {
            const double x = Median(wall[crossed][1]), y = Median(wall[crossed][0]);
            const double cx = Median(cpu[crossed][1]), cy = Median(cpu[crossed][0]);
            std::printf("  %-24s %6d %10.2f %10.2f %6.2fx %9.2f %9.2f %6.2fx\n", what, n, x, y,
                        x / y, cx, cy, cx / cy);
        };
        line("pass, crossing a minute", 1);
        line("pass, within a minute", 0);
    }
    return 0;
}

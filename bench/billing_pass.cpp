// Median time of one billing pass over N machines in session, against the same row updates
// made one autocommitted statement at a time.
//   billing_pass [runs [machines]]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "billing/BillingPass.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "record_store/DataModule.h"

namespace {

class SilentPrompts : public Prompts {
  public:
    int boxes = 0;
    void message(const QString&) override { ++boxes; }
    void error(const QString&) override { ++boxes; }
    bool confirm(const QString&) override { return ++boxes, false; }
    void reportUnhandled(const QString&) override { ++boxes; }
};

class NoFiles : public FileChooser {
  public:
    std::optional<QString> chooseDatabaseFile() override { return std::nullopt; }
};

class NoNames : public HostResolver {
  public:
    std::optional<quint32> resolveIPv4(const QString&) override { return std::nullopt; }
};

class FixedClock : public Clock {
  public:
    QTime now() const override { return QTime(23, 0, 0); }
    QDateTime nowDateTime() const override { return QDateTime(QDate(2026, 12, 9), now()); }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The literal design: every row's update is set up afresh (close, clear, add the statement,
// prepare) and commits on its own.
void OneStatementPerRow(TDataModule1& dm, double rate, const QTime& now) {
    Query* q2 = dm.ADOQuery2;
    q2->Close();
    q2->SetSql(QStringLiteral("select * from Tcount where Cstate='正常'"));
    q2->Open();
    const QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
    for (q2->First(); !q2->Eof(); q2->Next()) {
        const QTime start = ParseDateTime(q2->FieldText(QStringLiteral("Tstart")));
        const ElapsedTime used = Elapsed(start.hour(), start.minute(), now.hour(), now.minute());
        const double fee = TimeFee(rate, used.hours, used.minutes);
        const double other = ParseDecimal(q2->FieldText(QStringLiteral("Tother")));
        QSqlQuery q3(db);
        q3.prepare(
            QStringLiteral("update Tcount set Stime=:sumtime,Tmoney=:sumMoney,Tsum=:allMoney where "
                           "username=:aid"));
        q3.bindValue(QStringLiteral(":sumtime"),
                     QStringLiteral("%1时%2分").arg(used.hours).arg(used.minutes));
        q3.bindValue(QStringLiteral(":sumMoney"), DecimalText(fee) + QStringLiteral("元"));
        q3.bindValue(QStringLiteral(":allMoney"), DecimalText(fee + other));
        q3.bindValue(QStringLiteral(":aid"), q2->FieldText(QStringLiteral("username")));
        q3.exec();
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    std::printf("billing pass, median of %d runs, file database in a temporary folder\n", runs);
    std::printf("%8s %14s %18s %8s\n", "machines", "pass ms", "per-row commit ms", "ratio");
    std::vector<int> sizes{100, 1000, 10000};
    if (argc > 2) sizes = {atoi(argv[2])};
    for (int n : sizes) {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            TDataModule1 dm;
            {
                QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
                db.transaction();
                QSqlQuery q(db);
                q.prepare(QStringLiteral(
                    "insert into Tcount values (?, ?, ?, '0', '0', ?, '0', '', '正常')"));
                for (int i = 0; i < n; ++i) {
                    const QString start =
                        QStringLiteral("%1:%2:%3").arg(10 + i % 12).arg(i % 60).arg(i % 60);
                    q.addBindValue(QStringLiteral("pc%1").arg(i, 5, 10, QLatin1Char('0')));
                    q.addBindValue(start);
                    q.addBindValue(start);
                    q.addBindValue(QString::number(i % 7));
                    q.exec();
                }
                db.commit();
            }
            SilentPrompts prompts;
            FixedClock clock;
            NoFiles files;
            NoNames names;
            auto settings = QSettingsStore::forFile(dir.filePath(QStringLiteral("s.ini")));
            Desk desk(dm, DeskSeams{.prompts = &prompts,
                                    .clock = &clock,
                                    .settings = settings.get(),
                                    .chooser = &files,
                                    .resolver = &names,
                                    .remotePort = 1999,
                                    .localPort = 0});

            const int repeat = n >= 10000 ? std::max(3, runs / 3) : runs;
            std::vector<double> pass, perRow;
            for (int r = 0; r < repeat; ++r) {
                QElapsedTimer t;
                t.start();
                BillingPass(desk);
                pass.push_back(t.nsecsElapsed() / 1e6);
                t.restart();
                OneStatementPerRow(dm, 2.0, clock.now());
                perRow.push_back(t.nsecsElapsed() / 1e6);
            }
            if (prompts.boxes) std::printf("(unexpected: %d boxes)\n", prompts.boxes);
            const double a = median(pass), b = median(perRow);
            std::printf("%8d %14.2f %18.2f %7.0fx\n", n, a, b, b / a);
        }
        QDir::setCurrent(previous);
    }
    return 0;
}

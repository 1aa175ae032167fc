#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QTest>

#include "accounts/Accounts.h"
#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/Transfer.h"
#include "ledger/Report.h"
#include "ledger/Shifts.h"
#include "machines/Machines.h"
#include "packages/Packages.h"
#include "plans/Plans.h"
#include "record_store/Formats.h"
#include "support/AccountFixtures.h"
#include "support/LedgerFixtures.h"
#include "support/TestPlan.h"

// Packages sold, warned about and ended on real databases, with their datagrams on 127.0.0.1.
namespace {

const QString kOwnerPassword = QStringLiteral("店主的密码-2026");
const QString kPin = QStringLiteral("4711");

const SaleContext kZone{QStringLiteral("普通区"), {}, {QStringLiteral("普通区")}};

void SaveSample(Env& env) {
    QString problem;
    const std::optional<Catalogue> c = CatalogueFromJson(kTestCatalogue, &problem);
    QVERIFY2(c, qPrintable(problem));
    QVERIFY2(SaveCatalogue(*env.desk, *c, kZone.zones, &problem), qPrintable(problem));
}

void UseTestPlan(Env& env) {
    PlanProblem read;
    const std::optional<Plan> plan = PlanFromJson(kTestPlan, &read);
    QVERIFY(plan);
    QString problem;
    QVERIFY2(SavePlan(*env.desk, *plan, {}, &problem), qPrintable(problem));
}

// A machine whose commands reach the stand-in client on 127.0.0.1.
void AddMachine(Env& env, const QString& name = QStringLiteral("m1")) {
    env.addMachine(name);
    env.resolver.table.insert(name, 0x7F000001);
}

void SetClock(FakeClock& clock, const QString& text) {
    const QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    clock.date = t.date();
    clock.time = t.time();
}

// The texts the client got, decoded as it decodes them.
QStringList Texts(Env& env, int atLeast = 0) {
    QStringList texts;
    for (const Receiver::Datagram& d : env.client.take(atLeast, atLeast ? 2000 : 200)) {
        const int end = d.bytes.indexOf('\0');
        QStringDecoder gbk("GBK");
        texts << QString(gbk(end < 0 ? d.bytes : d.bytes.left(end)));
    }
    return texts;
}

QString PackageField(Env& env, const QString& machine, const QString& column) {
    QSqlQuery q(QSqlDatabase::database(env.module->connectionName(), false));
    q.prepare(QStringLiteral("select %1 from Tpackage where machine=:m").arg(column));
    q.bindValue(QStringLiteral(":m"), machine);
    if (!q.exec() || !q.next()) return QStringLiteral("<none>");
    return q.value(0).toString();
}

}  // namespace

class PackagesTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void aSaleOnAnIdleMachineStartsItOnThePackage() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:03:25"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("sj")});
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Cstate")), QStringLiteral("正常"));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tstart")), QStringLiteral("14:3:25"));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("gotime")), QStringLiteral("17:03"));
        // Its length counts from the very second of the start.
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("ends")),
                 QStringLiteral("2026-12-11 17:03:25"));
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("paid")), QStringLiteral("1000"));
        const std::vector<JournalRow> rows = AllJournalRows(env);
        QCOMPARE(rows.back().entry.kind, JournalKind::PackageSale);
        QCOMPARE(rows.back().entry.amount, QStringLiteral("10.00"));
        QCOMPARE(rows.back().entry.machine, QStringLiteral("m1"));
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("id")), QString::number(rows.back().id));
        // The described start's box names the machine; then what to take.
        QCOMPARE(env.prompts.take(),
                 (QStringList{QStringLiteral("message|m1"),
                              QStringLiteral("message|已售出“三小时”，收款 10 元，到 12月11日 17:03:25 结束。")}));
    }

    void aSaleInSessionStartsThePackageNow() {
        Env env;
        SaveSample(env);
        env.addSession(QStringLiteral("m1"), QStringLiteral("13:0:0"), QStringLiteral("2"));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        QCOMPARE(Texts(env), QStringList{});  // the client is already open
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tstart")), QStringLiteral("13:0:0"));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tother")), QStringLiteral("2"));
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("ends")),
                 QStringLiteral("2026-12-11 17:00:00"));
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageSale), 1);
    }

    void aSaleThatCannotBeMadeSaysWhy_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("box");
        QTest::newRow("outside its hours") << "包夜" << "普通区" << "2026-12-11 19:59:00"
            << "“包夜”现在不出售：它只在周一、周二、周三、周四、周五、周六、周日 20:00–04:00出售。";
        QTest::newRow("wrong zone") << "三小时" << "包间" << "2026-12-11 14:00:00"
            << "“三小时”不能卖给这台机器：它只用于普通区，这台机器在包间。";
        QTest::newRow("not in the catalogue") << "五小时" << "普通区" << "2026-12-11 14:00:00"
            << "没有名为“五小时”的包时。";
    }
    void aSaleThatCannotBeMadeSaysWhy() {
        QFETCH(QString, name);
        QFETCH(QString, zone);
        QFETCH(QString, at);
        QFETCH(QString, box);
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, at);
        const int before = int(AllJournalRows(env).size());
        QVERIFY(!SellPackage(*env.desk, QStringLiteral("m1"), name, {zone, {}, {}}));
        QCOMPARE(env.prompts.take(), QStringList{"message|" + box});
        QCOMPARE(Texts(env), QStringList{});
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Cstate")), QStringLiteral("无"));
        QCOMPARE(int(AllJournalRows(env).size()), before);
    }

    void aMachineHoldsOnePackageAtATime() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        env.prompts.take();
        Texts(env, 1);
        QVERIFY(!SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("一小时锁"), kZone));
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|这台机器已经有一个包时，不能再买“一小时锁”（到期后再买，或用续时）。")});
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageSale), 1);
    }

    void warningsComeAtTenAndOneMinutes() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        env.prompts.take();
        Texts(env, 1);
        const auto tickAt = [&](const char* at) {
            SetClock(env.clock, QString::fromLatin1(at));
            WatchPackages(*env.desk);
        };
        tickAt("2026-12-11 16:49:59");
        QCOMPARE(Texts(env), QStringList{});
        tickAt("2026-12-11 16:50:00");
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时还剩10分钟")});
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|机器“m1”的包时“三小时”还剩10分钟（17:00 结束）。"
                                            "已给它发了消息“包时还剩10分钟”。")});
        tickAt("2026-12-11 16:50:30");  // told once
        QCOMPARE(Texts(env), QStringList{});
        tickAt("2026-12-11 16:59:00");
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时还剩1分钟")});
        QCOMPARE(env.prompts.take().size(), 1);
        tickAt("2026-12-11 17:00:00");
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时已到，开始按时计费")});
        QCOMPARE(env.prompts.take(), QStringList{});  // the reminder at 提示时间 tells the operator
        tickAt("2026-12-11 18:00:00");  // continues at the hourly rate: nothing more to send
        QCOMPARE(Texts(env), QStringList{});
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Cstate")), QStringLiteral("正常"));
    }

    void theLockComesAfterAGraceMinute() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 23:30:10"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("一小时锁"), kZone));
        env.prompts.take();
        Texts(env, 1);
        SetClock(env.clock, QStringLiteral("2026-12-12 00:30:10"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时已到，1分钟后锁机")});
        SetClock(env.clock, QStringLiteral("2026-12-12 00:31:09"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env), QStringList{});
        SetClock(env.clock, QStringLiteral("2026-12-12 00:31:10"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|机器“m1”的包时“一小时锁”已到，已锁机，等待结账。")});
        // It waits for its checkout: nothing more is sent.
        SetClock(env.clock, QStringLiteral("2026-12-12 01:31:10"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env), QStringList{});
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Cstate")), QStringLiteral("正常"));
    }

    // A console closed across the end: no stale warning, the end at the next tick, and the
    // player still gets the grace minute before the lock.
    void aRestartAcrossTheEnd() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("一小时锁"), kZone));
        env.prompts.take();
        Texts(env, 1);
        SecondDesk later(env.connectionText(), env.path(QStringLiteral("later")),
                         QStringLiteral("前台"), env.client.port());
        later.resolver.table.insert(QStringLiteral("m1"), 0x7F000001);
        SetClock(later.clock, QStringLiteral("2026-12-11 17:00:00"));
        WatchPackages(*later.desk);
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时已到，1分钟后锁机")});
        SetClock(later.clock, QStringLiteral("2026-12-11 17:00:30"));
        WatchPackages(*later.desk);
        QCOMPARE(Texts(env), QStringList{});
        SetClock(later.clock, QStringLiteral("2026-12-11 17:01:00"));
        WatchPackages(*later.desk);
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(later.prompts.take().size(), 1);
        QCOMPARE(env.prompts.take(), QStringList{});
    }

    void twoDesksOneWarning() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        env.prompts.take();
        Texts(env, 1);
        SecondDesk other(env.connectionText(), env.path(QStringLiteral("second")),
                         QStringLiteral("前台二"), env.client.port());
        other.resolver.table.insert(QStringLiteral("m1"), 0x7F000001);
        SetClock(env.clock, QStringLiteral("2026-12-11 16:55:00"));
        SetClock(other.clock, QStringLiteral("2026-12-11 16:55:01"));
        WatchPackages(*other.desk);
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时还剩10分钟")});
        QCOMPARE(other.prompts.take().size() + env.prompts.take().size(), 1);
    }

    void warningsAreSetInSettings() {
        Env env;
        SaveSample(env);
        QString problem;
        QVERIFY(!SaveWarnings(*env.desk, {1, 5}, &problem));
        QVERIFY(problem.contains(QStringLiteral("第一次要比第二次早")));
        QVERIFY(SaveWarnings(*env.desk, {15, 0}, &problem));
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        env.prompts.take();
        Texts(env, 1);
        SetClock(env.clock, QStringLiteral("2026-12-11 16:45:00"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("包时还剩15分钟")});
        SetClock(env.clock, QStringLiteral("2026-12-11 16:59:30"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env), QStringList{});
    }

    void theExpectedCashCountsSales() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("100")));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        const std::optional<ShiftCount> count = CountShift(*env.desk, QStringLiteral("110"));
        QVERIFY(count);
        QCOMPARE(count->expectedCents, qint64(11000));
        QCOMPARE(count->differenceCents, qint64(0));
    }

    // 营业报表 lists each kind of package money on its own line, per shift; with the bills it
    // is the cash the shift took.
    void theReportListsPackagesBesideTheBills() {
        Env env;
        InstallPackageHooks(*env.desk);
        SaveSample(env);
        AddMachine(env);
        AddMachine(env, QStringLiteral("m2"));
        SetClock(env.clock, QStringLiteral("2026-12-11 13:00:00"));
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("100")));
        const std::optional<Report> before = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(before);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m2"), QStringLiteral("一小时锁"), kZone));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:02:00"));
        QVERIFY(VoidPackage(*env.desk, QStringLiteral("m2"), QStringLiteral("卖错了")));
        QVERIFY(ExtendPackage(*env.desk, QStringLiteral("m1"), {QString(), 60, 300}, kZone));
        SetClock(env.clock, QStringLiteral("2026-12-11 15:00:00"));
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("m1")));
        SetClock(env.clock, QStringLiteral("2026-12-11 15:10:00"));
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("m2")));
        env.prompts.take();

        const std::optional<Report> report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QStringList lines;
        for (const ReportPackageLine& line : report->packages)
            lines << QStringLiteral("%1|%2|%3|%4").arg(line.kind).arg(line.count).arg(CentsText(line.cents)).arg(line.shift);
        // 13 元 for 240 minutes, 180 of them unused: 9.75 down to 9.7.
        const QString shift = QStringLiteral("小王（%1 2026-12-11 13:00开班）").arg(env.desk->deskName);
        QCOMPARE(lines, (QStringList{QStringLiteral("包时售出|2|14.00|") + shift,
                                     QStringLiteral("包时续时|1|3.00|") + shift,
                                     QStringLiteral("包时作废|1|-4.00|") + shift,
                                     QStringLiteral("包时退款|1|-9.70|") + shift}));
        QCOMPARE(report->packageCents, qint64(1400 + 300 - 400 - 970));
        QCOMPARE(report->bills.size(), size_t(2));
        const std::optional<ShiftCount> count = CountShift(*env.desk, QStringLiteral("100"));
        QVERIFY(count);
        QCOMPARE(count->expectedCents - 10000, report->totalCents + report->packageCents);
        QVERIFY(QString::fromUtf8(ReportCsv(*report))
                    .endsWith(QStringLiteral("\r\n\r\n包时,笔数,金额,值班员\r\n包时售出,2,14.00,") +
                              shift + QStringLiteral("\r\n包时续时,1,3.00,") + shift +
                              QStringLiteral("\r\n包时作废,1,-4.00,") + shift +
                              QStringLiteral("\r\n包时退款,1,-9.70,") + shift + QStringLiteral("\r\n")));
        // Before any package the report is as it always was.
        QVERIFY(before->packages.empty());
        QCOMPARE(before->packageCents, qint64(0));
        QVERIFY(!QString::fromUtf8(ReportCsv(*before)).contains(QStringLiteral("包时")));
    }

    void anEarlyCheckoutRefundsProRata_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("checkout");
        QTest::addColumn<QString>("refund");  // the journal's amount; empty: no row
        // 10 元 for 180 minutes, 119 whole minutes unused: 6.61… down to 6.6.
        QTest::newRow("pro rata") << "三小时" << "2026-12-11 15:00:30" << "-6.60";
        QTest::newRow("used up") << "三小时" << "2026-12-11 17:30:00" << "";
        QTest::newRow("no refund") << "一小时锁" << "2026-12-11 14:10:00" << "";
    }
    void anEarlyCheckoutRefundsProRata() {
        QFETCH(QString, name);
        QFETCH(QString, checkout);
        QFETCH(QString, refund);
        Env env;
        InstallPackageHooks(*env.desk);
        SaveSample(env);
        AddMachine(env);
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("100")));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), name, kZone));
        Texts(env, 1);
        SetClock(env.clock, checkout);
        env.desk->RefreshSessionGrid();
        bool failed = false;
        const std::optional<PackageBill> shown = PackageAtCheckout(*env.desk, QStringLiteral("m1"), &failed);
        QVERIFY(shown);
        QCOMPARE(shown->refund, refund.isEmpty() ? qint64(0) : -*ParseCents(refund));
        QVERIFY(CheckOut(*env.desk, QStringLiteral("m1")));
        QCOMPARE(Texts(env, 1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageRefund), refund.isEmpty() ? 0 : 1);
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind == JournalKind::PackageRefund) QCOMPARE(row.entry.amount, refund);
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("state")), QStringLiteral("closed"));
        QVERIFY(!RunningPackage(*env.desk, QStringLiteral("m1"), &failed));
        // The checkout's row lists the package for the receipt: what was paid, the refund.
        BillDetail detail;
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind == JournalKind::Checkout) detail = DetailOfNote(row.entry.note);
        QStringList listed;
        for (const BillRun& run : detail.runs) listed << run.label + "|" + run.detail + "|" + run.amount;
        QStringList expected{name == QStringLiteral("三小时") ? QStringLiteral("包时“三小时”|3小时，已预付|10")
                                                             : QStringLiteral("包时“一小时锁”|1小时，已预付|4")};
        if (!refund.isEmpty())
            expected << QStringLiteral("包时退款|未用时间按比例退还|") + refund.chopped(1);
        QCOMPARE(listed, expected);
        // The drawer: the float, the sale, the bill's total (nothing billed yet here), the refund.
        const std::optional<ShiftCount> count = CountShift(*env.desk, QStringLiteral("100"));
        QVERIFY(count);
        const qint64 price = name == QStringLiteral("三小时") ? 1000 : 400;
        qint64 billed = 0;
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind == JournalKind::Checkout) billed += ParseCents(row.entry.total).value_or(0);
        QCOMPARE(count->expectedCents,
                 10000 + price + billed + (refund.isEmpty() ? 0 : *ParseCents(refund)));
    }

    void aTransferCarriesThePackage() {
        Env env;
        InstallPackageHooks(*env.desk);
        SaveSample(env);
        AddMachine(env);
        AddMachine(env, QStringLiteral("m2"));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        Texts(env, 1);
        QVERIFY(TransferSession(*env.desk, QStringLiteral("m1"), QStringLiteral("m2")));
        bool failed = false;
        QVERIFY(!RunningPackage(*env.desk, QStringLiteral("m1"), &failed));
        const std::optional<SoldPackage> moved = RunningPackage(*env.desk, QStringLiteral("m2"), &failed);
        QVERIFY(moved);
        QCOMPARE(moved->ends, QDateTime(QDate(2026, 12, 11), QTime(17, 0)));
        QCOMPARE(env.field(QStringLiteral("m2"), QStringLiteral("gotime")), QStringLiteral("17:00"));
        // The warning goes to the machine the package is on now.
        SetClock(env.clock, QStringLiteral("2026-12-11 16:50:00"));
        env.prompts.take();
        WatchPackages(*env.desk);
        QVERIFY(env.prompts.take().join(QString()).contains(QStringLiteral("机器“m2”的包时")));
    }

    void aTransferIntoAnotherZoneIsFlagged() {
        Env env;
        InstallPackageHooks(*env.desk);
        SetClock(env.clock, QStringLiteral("2026-12-11 09:00:00"));
        UseTestPlan(env);
        SaveSample(env);
        AddMachine(env);
        AddMachine(env, QStringLiteral("m2"));
        AddMachine(env, QStringLiteral("pc07"));  // 电竞区
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        QCOMPARE(CrossZoneMove(*env.desk, QStringLiteral("m1"), QStringLiteral("m2")), std::nullopt);
        QCOMPARE(CrossZoneMove(*env.desk, QStringLiteral("m1"), QStringLiteral("pc07")),
                 QStringLiteral("把“m1”的包时“三小时”（普通区）转到电竞区的“pc07”"));
        QVERIFY(TransferSession(*env.desk, QStringLiteral("m1"), QStringLiteral("m2")));
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageCrossZone), 0);
        QVERIFY(TransferSession(*env.desk, QStringLiteral("m2"), QStringLiteral("pc07")));
        const std::vector<JournalRow> rows = AllJournalRows(env);
        const auto moved = std::find_if(rows.begin(), rows.end(), [](const JournalRow& r) {
            return r.entry.kind == JournalKind::PackageCrossZone;
        });
        QVERIFY(moved != rows.end());
        QVERIFY(moved->entry.flagged);
        QCOMPARE(moved->entry.note, QStringLiteral("三小时：普通区 → 电竞区"));
        bool failed = false;
        QVERIFY(RunningPackage(*env.desk, QStringLiteral("pc07"), &failed));
    }

    // Deleted in mid-session: the bill is left to the owner (flagged), the package ends without
    // a refund, and a machine of that name added again starts clean.
    void aMachineDeletedInSessionEndsItsPackage() {
        Env env;
        InstallPackageHooks(*env.desk);
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        Texts(env, 1);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:30:00"));
        QVERIFY(DeleteMachine(*env.desk, QStringLiteral("m1")));
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("state")), QStringLiteral("dropped"));
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageRefund), 0);
        const JournalRow row = AllJournalRows(env).back();
        QCOMPARE(row.entry.kind, JournalKind::DeletedInSession);
        QVERIFY(row.entry.flagged);
        QCOMPARE(row.entry.note, QStringLiteral("在上机中被删除，账未结；包时“三小时”已收 10 元，未退"));
        AddMachine(env);
        env.prompts.take();
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
    }

    // 普通区 bills 3 an hour on weekdays: nothing while the package covers, then from the
    // very second it ended, whole minutes; a locking package bills nothing after its end.
    void afterTheEndTimeIsBilledFromThatMinute_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("fee");
        QTest::newRow("covered") << "三小时" << "2026-12-11 16:00:00" << "1时57分" << "0元";
        QTest::newRow("4 min 59 s after") << "三小时" << "2026-12-11 17:08:24" << "3时5分" << "0元";
        QTest::newRow("5 minutes after") << "三小时" << "2026-12-11 17:08:25" << "3时5分" << "1元";
        QTest::newRow("an hour after") << "三小时" << "2026-12-11 18:03:25" << "4时0分" << "3元";
        QTest::newRow("locked: nothing after") << "一小时锁" << "2026-12-11 18:00:00" << "3时57分" << "0元";
    }
    void afterTheEndTimeIsBilledFromThatMinute() {
        QFETCH(QString, name);
        QFETCH(QString, at);
        QFETCH(QString, used);
        QFETCH(QString, fee);
        Env env;
        SetClock(env.clock, QStringLiteral("2026-12-11 09:00:00"));
        UseTestPlan(env);
        SaveSample(env);
        AddMachine(env);
        env.sql(QStringLiteral("update Tcount set Tother='1.5' where username='m1'"));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:03:25"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), name, kZone));
        SetClock(env.clock, at);
        env.desk->Guard([&] { BillingPass(*env.desk); });
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Stime")), used);
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tmoney")), fee);
    }

    // A night paid for is billed on past midnight, not asked about as an overnight (a "no"
    // would stop its billing and the pass at its row).
    void aNightIsNotAskedAboutAtMidnight() {
        Env env;
        SetClock(env.clock, QStringLiteral("2026-12-11 09:00:00"));
        UseTestPlan(env);
        SaveSample(env);
        AddMachine(env);
        AddMachine(env, QStringLiteral("m2"));
        SetClock(env.clock, QStringLiteral("2026-12-11 21:30:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("包夜"), kZone));
        env.prompts.take();
        for (const char* at : {"2026-12-12 00:30:00", "2026-12-12 09:15:00"}) {
            SetClock(env.clock, QString::fromLatin1(at));
            env.desk->Guard([&] { BillingPass(*env.desk); });
            QCOMPARE(env.prompts.take(), QStringList{});
        }
        // 75 minutes after its end at Saturday's 4 an hour: an hour and the part hour's band.
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Stime")), QStringLiteral("11时45分"));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tsum")), QStringLiteral("5.3"));
    }

    void theTimeBeforeAPackageStaysBilled() {
        Env env;
        SetClock(env.clock, QStringLiteral("2026-12-11 09:00:00"));
        UseTestPlan(env);
        SaveSample(env);
        env.addSession(QStringLiteral("m1"), QStringLiteral("13:0:0"), QStringLiteral("2"));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:10:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        SetClock(env.clock, QStringLiteral("2026-12-11 16:00:00"));
        env.desk->Guard([&] { BillingPass(*env.desk); });
        // 1 h 10 min before the package: 3 + a third of 3.
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tmoney")), QStringLiteral("4元"));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tsum")), QStringLiteral("6"));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Stime")), QStringLiteral("3时0分"));
    }

    // The cashier 小王 is signed in: a void within five minutes is theirs, later the owner's.
    void aVoidWithinFiveMinutesOrWithTheOwner_data() {
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("typed");  // the owner's password; empty: cancelled
        QTest::addColumn<bool>("voided");
        QTest::newRow("at five minutes") << "2026-12-11 14:05:00" << "" << true;
        QTest::newRow("after, cancelled") << "2026-12-11 14:05:01" << "" << false;
        QTest::newRow("after, a wrong password") << "2026-12-11 14:30:00" << "猜的" << false;
        QTest::newRow("after, with the owner") << "2026-12-11 14:30:00" << kOwnerPassword << true;
    }
    void aVoidWithinFiveMinutesOrWithTheOwner() {
        QFETCH(QString, at);
        QFETCH(QString, typed);
        QFETCH(bool, voided);
        Env env;
        SetClock(env.clock, QStringLiteral("2026-12-11 09:00:00"));
        UseTestPlan(env);
        SaveSample(env);
        AddMachine(env);
        TurnOnSignIn(env, kOwnerPassword, kPin);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Ok);
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("100")));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        SetClock(env.clock, at);
        env.prompts.take();
        if (!typed.isEmpty()) env.prompts.secrets.push_back(typed);
        QCOMPARE(VoidPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("卖错了机器")), voided);
        const QStringList boxes = env.prompts.take();
        const bool late = at > QStringLiteral("2026-12-11 14:05:00");
        QCOMPARE(boxes.first().startsWith(QStringLiteral("secret|")), late);
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageVoid), voided ? 1 : 0);
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("state")),
                 voided ? QStringLiteral("void") : QStringLiteral("on"));
        const std::optional<ShiftCount> count = CountShift(*env.desk, QStringLiteral("100"));
        QVERIFY(count);
        QCOMPARE(count->expectedCents, voided ? qint64(10000) : qint64(11000));
        if (!voided) return;
        QCOMPARE(boxes.last(), QStringLiteral("message|已作废机器“m1”的包时“三小时”，退还 10 元；该机从上机时起按时计费。"));
        JournalRow row;
        for (const JournalRow& r : AllJournalRows(env))
            if (r.entry.kind == JournalKind::PackageVoid) row = r;
        QCOMPARE(row.entry.amount, QStringLiteral("-10.00"));
        QVERIFY(row.entry.note.startsWith(QStringLiteral("卖错了机器；三小时")));
        QCOMPARE(row.approver.isEmpty(), !late);
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("gotime")), QString());
        // Billed by the clock from its start: an hour at 3.
        SetClock(env.clock, QStringLiteral("2026-12-11 15:00:00"));
        env.desk->Guard([&] { BillingPass(*env.desk); });
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tmoney")), QStringLiteral("3元"));
    }

    void aVoidNeedsAReason() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        env.prompts.take();
        QVERIFY(!VoidPackage(*env.desk, QStringLiteral("m1"), QStringLiteral(" \n ")));
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|作废包时要写明原因。")});
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageVoid), 0);
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("state")), QStringLiteral("on"));
    }

    void anExtensionMovesTheEnd_data() {
        QTest::addColumn<QString>("package");  // empty: minutes for money
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("ends");
        QTest::newRow("30 minutes for 2") << "" << 30 << "2" << "2026-12-11 17:30:00";
        QTest::newRow("another length") << "三小时" << 0 << "10" << "2026-12-11 20:00:00";
    }
    void anExtensionMovesTheEnd() {
        QFETCH(QString, package);
        QFETCH(int, minutes);
        QFETCH(QString, price);
        QFETCH(QString, ends);
        Env env;
        SetClock(env.clock, QStringLiteral("2026-12-11 09:00:00"));
        UseTestPlan(env);
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        Texts(env, 1);
        SetClock(env.clock, QStringLiteral("2026-12-11 16:51:00"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env, 1), QStringList{PackageText::Warning(10)});
        QVERIFY(ExtendPackage(*env.desk, QStringLiteral("m1"), {package, minutes, *ParseCents(price)}, kZone));
        env.prompts.take();
        const QDateTime end = QDateTime::fromString(ends, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        bool failed = false;
        QCOMPARE(RunningPackage(*env.desk, QStringLiteral("m1"), &failed)->ends, end);
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("paid")),
                 QString::number(1000 + *ParseCents(price)));
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("gotime")), PackageEndText(end));
        const JournalRow row = AllJournalRows(env).back();
        QCOMPARE(row.entry.kind, JournalKind::PackageExtend);
        QCOMPARE(row.entry.amount, CentsText(*ParseCents(price)));
        // Still covered after the old end; the warnings come again before the new one.
        SetClock(env.clock, end.addSecs(-9 * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        env.desk->Guard([&] { BillingPass(*env.desk); });
        QCOMPARE(env.field(QStringLiteral("m1"), QStringLiteral("Tmoney")), QStringLiteral("0元"));
        WatchPackages(*env.desk);
        QCOMPARE(Texts(env, 1), QStringList{PackageText::Warning(10)});
    }

    void aWindowExtendsToItsNextEnd() {
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 19:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        SetClock(env.clock, QStringLiteral("2026-12-11 19:59:00"));
        // 包夜 is sold from 20:00: not before, as a sale.
        env.prompts.take();
        QVERIFY(!ExtendPackage(*env.desk, QStringLiteral("m1"), {QStringLiteral("包夜"), 0, 0}, kZone));
        QVERIFY(env.prompts.take().join(QString()).contains(QStringLiteral("现在不出售")));
        SetClock(env.clock, QStringLiteral("2026-12-11 21:00:00"));
        QVERIFY(ExtendPackage(*env.desk, QStringLiteral("m1"), {QStringLiteral("包夜"), 0, 0}, kZone));
        bool failed = false;
        QCOMPARE(RunningPackage(*env.desk, QStringLiteral("m1"), &failed)->ends,
                 QDateTime(QDate(2026, 12, 12), QTime(8, 0)));
    }

    void noExtensionOnceItEnded_data() {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("box");
        QTest::newRow("ended") << 30 << "2" << "2026-12-11 17:00:00"
                               << "机器“m1”的包时“三小时”已经结束，不能续时。";
        QTest::newRow("no minutes") << 0 << "2" << "2026-12-11 16:00:00"
                                    << "续时要写分钟数（1到10080）和收款金额（大于0，最多10000元）。";
        QTest::newRow("no money") << 30 << "0" << "2026-12-11 16:00:00"
                                  << "续时要写分钟数（1到10080）和收款金额（大于0，最多10000元）。";
    }
    void noExtensionOnceItEnded() {
        QFETCH(int, minutes);
        QFETCH(QString, price);
        QFETCH(QString, at);
        QFETCH(QString, box);
        Env env;
        SaveSample(env);
        AddMachine(env);
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m1"), QStringLiteral("三小时"), kZone));
        SetClock(env.clock, at);
        env.prompts.take();
        QVERIFY(!ExtendPackage(*env.desk, QStringLiteral("m1"), {{}, minutes, *ParseCents(price)}, kZone));
        QCOMPARE(env.prompts.take(), QStringList{"message|" + box});
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageExtend), 0);
        QCOMPARE(PackageField(env, QStringLiteral("m1"), QStringLiteral("ends")), QStringLiteral("2026-12-11 17:00:00"));
    }

    void theCatalogueIsSavedWholeOrNotAtAll() {
        Env env;
        SaveSample(env);
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageCatalogue), 1);
        std::optional<Catalogue> stored = StoredCatalogue(*env.desk);
        QVERIFY(stored);
        QCOMPARE(stored->packages.size(), size_t(3));
        Catalogue bad = *stored;
        bad.packages[0].zones = QStringList{QStringLiteral("VIP区")};
        QString problem;
        QVERIFY(!SaveCatalogue(*env.desk, bad, kZone.zones, &problem));
        QCOMPARE(problem, QStringLiteral("包时“三小时”：区域“VIP区”不在价格方案里"));
        env.failOn(QStringLiteral("insert"), QStringLiteral("Tjournal"));
        stored->packages.pop_back();
        QVERIFY(!SaveCatalogue(*env.desk, *stored, kZone.zones, &problem));
        env.clearFailure();
        QCOMPARE(StoredCatalogue(*env.desk)->packages.size(), size_t(3));
        // A package the reader would refuse is never stored: the catalogue stays readable.
        Catalogue unreadable = *StoredCatalogue(*env.desk);
        unreadable.packages[2].from = unreadable.packages[2].to = unreadable.packages[2].sellTo;
        QVERIFY(!SaveCatalogue(*env.desk, unreadable, kZone.zones, &problem));
        QCOMPARE(problem, QStringLiteral("包时“包夜”：时段不对（格式 22:00，from 与 to 不能相同）"));
        QVERIFY(StoredCatalogue(*env.desk));
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageCatalogue), 1);
    }

    void machinesHoldingAPackage() {
        Env env;
        InstallPackageHooks(*env.desk);
        SaveSample(env);
        for (const char* m : {"m2", "M1", "m3"}) AddMachine(env, QString::fromUtf8(m));
        SetClock(env.clock, QStringLiteral("2026-12-11 14:00:00"));
        QCOMPARE(MachinesHolding(*env.desk), QStringList());
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m2"), QStringLiteral("三小时"), kZone));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("M1"), QStringLiteral("三小时"), kZone));
        QVERIFY(SellPackage(*env.desk, QStringLiteral("m3"), QStringLiteral("一小时锁"), kZone));
        QCOMPARE(MachinesHolding(*env.desk, QStringLiteral("三小时")),
                 (QStringList{QStringLiteral("M1"), QStringLiteral("m2")}));
        QCOMPARE(MachinesHolding(*env.desk, QStringLiteral("包夜")), QStringList());
        QCOMPARE(MachinesHolding(*env.desk)->size(), 3);
        // Closed at checkout, it is held no more.
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("m2")));
        QCOMPARE(MachinesHolding(*env.desk, QStringLiteral("三小时")), QStringList{QStringLiteral("M1")});
        env.sql(QStringLiteral("drop table Tpackage"));
        QCOMPARE(MachinesHolding(*env.desk), std::nullopt);
    }
};

int runPackagesTest(int argc, char** argv) {
    PackagesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_packages.moc"

#include <QTest>
#include <QTimer>
#include <QUrl>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/Overnight.h"
#include "billing/PlanWatch.h"
#include "billing/Prices.h"
#include "billing/SessionStart.h"
#include "billing/Transfer.h"
#include "client_channel/Datagram.h"
#include "ledger/Report.h"
#include "plans/Plans.h"
#include "support/LedgerFixtures.h"
#include "support/PausableProxy.h"
#include "support/TestPlan.h"

namespace {

Plan TestPlan() {
    PlanProblem problem;
    const std::optional<Plan> plan = PlanFromJson(kTestPlan, &problem);
    if (!plan) qFatal("test plan: %s", qPrintable(problem.text));
    return *plan;
}

Pricing PricingOf(const Plan& plan, const QDateTime& from = QDateTime(QDate(2000, 1, 1), {})) {
    Pricing pricing;
    pricing.base = Rate::FromFen(200);
    pricing.versions.push_back({from, WallMinute(from), plan.zones, {}});
    for (const QString& d : plan.holidays)
        pricing.holidays.insert(QDate::fromString(d, QStringLiteral("yyyy-MM-dd")).toJulianDay());
    return pricing;
}

// One rate all day, every day.
Plan FlatPlan(const QString& rate) {
    PlanProblem problem;
    const QByteArray json = QStringLiteral(
                                R"({"zones": [{"name": "A", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "24:00", "hourly": "%1"}]}]})")
                                .arg(rate)
                                .toUtf8();
    return *PlanFromJson(json, &problem);
}

QDateTime At(const QString& text) { return ParsePlanDateTime(text); }

void UsePlan(Env& env, const Plan& plan = TestPlan()) {
    QString problem;
    QVERIFY2(SavePlan(*env.desk, plan, {}, &problem), qPrintable(problem));
}

void SetClock(Env& env, const QString& at) {
    const QDateTime t = QDateTime::fromString(at, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    env.clock.date = t.date();
    env.clock.time = t.time();
}

// A machine whose commands reach the stand-in client on 127.0.0.1.
void AddPc(Env& env, const QString& name) {
    env.addMachine(name);
    env.resolver.table.insert(name, 0x7F000001);
}

void Pass(Env& env) { env.desk->Guard([&] { BillingPass(*env.desk); }); }

void Start(Env& env, const QString& machine) {
    env.prompts.take();
    env.desk->SelectedMachine = machine;
    env.desk->Guard([&] { StartSession(*env.desk); });
    QCOMPARE(env.field(machine, QStringLiteral("Cstate")), QStringLiteral("正常"));
    env.prompts.take();
}

// The test plan saved at 09:00 on Wednesday 2026-12-09, machine in session from 10:00 and
// billed at 10:20 (what the pass keeps from tick to tick is filled).
void InSessionSinceTen(Env& env, const QString& machine) {
    SetClock(env, QStringLiteral("2026-12-09 09:00:00"));
    UsePlan(env);
    SetClock(env, QStringLiteral("2026-12-09 10:00:00"));
    Start(env, machine);
    SetClock(env, QStringLiteral("2026-12-09 10:20:00"));
    Pass(env);
}

}  // namespace

class PlansTest : public QObject {
    Q_OBJECT

  private slots:
    // --- the fee rule, without a database ---

    void planFee_data() {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("fen");
        QTest::addColumn<QString>("used");
        // 2026-12-09 is a Wednesday, 12-11 a Friday, 12-25 a Friday and a holiday.
        QTest::newRow("two bands, part hour at the night rate")
            << "普通区" << "2026-12-09 21:00" << "2026-12-09 23:10" << qint64(300 + 200 + 70)
            << "2:10";
        QTest::newRow("a slot billed at the rate at its start")
            << "普通区" << "2026-12-09 21:30" << "2026-12-09 22:35" << qint64(300 + 70) << "1:5";
        QTest::newRow("band border exactly at the slot start")
            << "普通区" << "2026-12-09 21:00" << "2026-12-09 22:00" << qint64(300) << "1:0";
        QTest::newRow("part hour starting on the border")
            << "电竞区" << "2026-12-09 11:00" << "2026-12-09 12:40" << qint64(500 + 600)
            << "1:40";
        QTest::newRow("across midnight") << "普通区" << "2026-12-09 23:30" << "2026-12-10 01:45"
                                         << qint64(200 + 200 + 70) << "2:15";
        QTest::newRow("weekday into the weekend")
            << "普通区" << "2026-12-11 23:00" << "2026-12-12 01:20" << qint64(200 + 400 + 270)
            << "2:20";
        QTest::newRow("holiday on Sunday's bands")
            << "普通区" << "2026-12-25 10:00" << "2026-12-25 11:00" << qint64(400) << "1:0";
        QTest::newRow("holiday on its own bands")
            << "电竞区" << "2026-12-24 23:00" << "2026-12-25 01:00" << qint64(600 + 800) << "2:0";
        QTest::newRow("four minutes are free") << "普通区" << "2026-12-09 10:00"
                                               << "2026-12-09 10:04" << qint64(0) << "0:4";
        QTest::newRow("more than a day")
            << "普通区" << "2026-12-09 09:30" << "2026-12-10 11:10"
            << qint64(13 * 300 + 10 * 200 + 2 * 300 + 300) << "25:40";
        QTest::newRow("clock set back: nothing, never negative")
            << "普通区" << "2026-12-09 10:00" << "2026-12-09 09:00" << qint64(0) << "0:0";
    }
    void planFee() {
        QFETCH(QString, zone);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(qint64, fen);
        QFETCH(QString, used);
        const PlanBill bill = BillByPlan(PricingOf(TestPlan()), zone, At(start), At(end), true);
        QCOMPARE(bill.fee, fen);
        QCOMPARE(QStringLiteral("%1:%2").arg(bill.hours).arg(bill.minutes), used);
        qint64 sum = 0;
        for (const Slot& s : bill.runs) sum += s.amount;
        QCOMPARE(sum, fen);  // the breakdown adds up to the bill
    }

    // With one rate all day a plan bills exactly what the single-rate rule bills.
    void oneRateIsTheSingleRateRule_data() {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("minutes");
        for (const char* rate : {"2", "3", "2.5", "0.75", "3.75", "1.35", "1.5", "8"})
            for (int minutes : {0, 4, 5, 19, 20, 39, 40, 59, 60, 70, 100, 120, 185, 1439})
                QTest::addRow("%s for %d min", rate, minutes) << QString::fromLatin1(rate) << minutes;
    }
    void oneRateIsTheSingleRateRule() {
        QFETCH(QString, rate);
        QFETCH(int, minutes);
        const QDateTime start = At(QStringLiteral("2026-12-09 00:00"));
        const PlanBill bill =
            BillByPlan(PricingOf(FlatPlan(rate)), QStringLiteral("A"), start, start.addSecs(minutes * 60));
        const double described = TimeFee(ParseDecimal(rate), minutes / 60, minutes % 60);
        QCOMPARE(FenText(bill.fee), DecimalText(described));
    }

    void priceChangeKeepsEarlierSlots() {
        Pricing pricing = PricingOf(TestPlan());
        Plan dearer = FlatPlan(QStringLiteral("5"));
        dearer.zones.front().name = QStringLiteral("普通区");
        pricing.versions.push_back({At(QStringLiteral("2026-12-09 12:00")),
                                    WallMinute(At(QStringLiteral("2026-12-09 12:00"))),
                                    dearer.zones,
                                    {}});
        // 11:30 at 3 (before the change), 12:30 at 5, 13:30 ten minutes: a third of 5 is 1.7.
        const PlanBill bill = BillByPlan(pricing, QStringLiteral("普通区"),
                                         At(QStringLiteral("2026-12-09 11:30")),
                                         At(QStringLiteral("2026-12-09 13:40")), true);
        QCOMPARE(bill.fee, qint64(300 + 500 + 170));
        QCOMPARE(bill.runs.size(), size_t(3));
        QCOMPARE(bill.runs[0].rate.fen, qint64(300));
        QVERIFY(bill.runs[2].part);
    }

    // --- checking and the JSON ---

    void refusedPlans_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("problem");
        const auto zone = [](const char* rates) {
            return QByteArray(R"({"zones": [{"name": "普通区", "rates": [)") + rates + "]}]}";
        };
        QTest::newRow("gap") << zone(R"({"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "08:00", "hourly": "2"},
                                       {"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "09:00", "to": "24:00", "hourly": "3"})")
                             << "区域“普通区”，周一(mon)，08:00–09:00 没有价格（空档）";
        QTest::newRow("overlap") << zone(R"({"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "12:00", "hourly": "2"},
                                           {"days": ["sat"], "from": "11:30", "to": "24:00", "hourly": "3"},
                                           {"days": ["mon","tue","wed","thu","fri","sun"], "from": "12:00", "to": "24:00", "hourly": "3"})")
                                 << "区域“普通区”，周六(sat)，11:30–12:00 有2个价格（重叠）";
        QTest::newRow("holiday bands with a gap")
            << zone(R"({"days": ["mon","tue","wed","thu","fri","sat","sun"], "from": "00:00", "to": "24:00", "hourly": "2"},
                      {"days": ["holiday"], "from": "00:00", "to": "23:00", "hourly": "3"})")
            << "区域“普通区”，节假日(holiday)，23:00–24:00 没有价格（空档）";
        QTest::newRow("rate in thousandths")
            << zone(R"({"days": ["mon"], "from": "00:00", "to": "24:00", "hourly": "1.335"})")
            << "区域“普通区”：第1条价格的价格必须是大于0的金额，最多两位小数";
        QTest::newRow("not json") << QByteArray("{zones") << "";
    }
    void refusedPlans() {
        QFETCH(QByteArray, json);
        QFETCH(QString, problem);
        PlanProblem parsed;
        const std::optional<Plan> plan = PlanFromJson(json, &parsed);
        const QString found = plan ? CheckPlan(*plan).value_or(PlanProblem{}).text : parsed.text;
        QVERIFY(!found.isEmpty());
        if (!problem.isEmpty()) QCOMPARE(found, problem);
    }

    void jsonRoundTrip() {
        const Plan plan = TestPlan();
        QVERIFY(!CheckPlan(plan));
        const QByteArray once = PlanToJson(plan);
        PlanProblem problem;
        const std::optional<Plan> again = PlanFromJson(once, &problem);
        QVERIFY2(again, qPrintable(problem.text));
        QCOMPARE(PlanToJson(*again), once);
        QCOMPARE(again->zones.size(), size_t(2));
        QCOMPARE(again->zones[0].days[2].size(), size_t(3));
        QCOMPARE(again->zones[0].overnight->ends, 8 * 60);
        QCOMPARE(again->machines.value(QStringLiteral("pc07")), QStringLiteral("电竞区"));
    }

    // The runs ride in the checkout's journal note after whatever it says already.
    void detailRidesInTheNote_data() {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("label");
        QTest::newRow("a plain checkout") << QString() << "电竞区" << "00:50–02:50";
        QTest::newRow("after 全部下机") << "全部下机" << "电竞区" << "00:50–02:50";
        QTest::newRow("tabs and lines in names")
            << "全部下机" << "A\tB" << "x\ny";  // flattened, never a broken row
    }
    void detailRidesInTheNote() {
        QFETCH(QString, note);
        QFETCH(QString, zone);
        QFETCH(QString, label);
        const BillDetail detail{zone, {{label, "2小时 × 7元/小时", "14"}, {"通宵前的上网费", "", "3"}}};
        const QString written = NoteWithDetail(note, detail);
        QVERIFY(written.startsWith(note));
        const BillDetail read = DetailOfNote(written);
        QCOMPARE(read.zone, QString(zone).replace(u'\t', u' '));
        QCOMPARE(read.runs.size(), size_t(2));
        QCOMPARE(read.runs[0].label, QString(label).replace(u'\n', u' '));
        QCOMPARE(read.runs[0].amount, QStringLiteral("14"));
        QCOMPARE(read.runs[1].detail, QString());
        QCOMPARE(NoteWithDetail(note, {}), note);
        QVERIFY(DetailOfNote(note).empty());
    }

    // --- on both engines ---
    CAFE_ENGINE_ROWS

    void savedPlanIsJournalledAndWrittenToTmoney() {
        Env env;
        UsePlan(env);
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 1);
        Query* q = env.module->ADOQuery2;
        q->Close();
        q->SetSql(QStringLiteral("select * from Tmoney"));
        QVERIFY(q->Open());
        QCOMPARE(q->FieldText(QStringLiteral("OneTime")), QStringLiteral("3"));  // the most hours
        QCOMPARE(q->FieldText(QStringLiteral("Tnight")), QStringLiteral("10"));
        const std::optional<Plan> saved = SavedPlan(*env.desk);
        QVERIFY(saved);
        QCOMPARE(PlanToJson(*saved), PlanToJson(TestPlan()));
        // A plan with a gap changes nothing.
        Plan broken = TestPlan();
        broken.zones[1].days[0].pop_back();
        QString problem;
        QVERIFY(!SavePlan(*env.desk, broken, {}, &problem));
        QCOMPARE(problem, QStringLiteral("区域“电竞区”，周一(mon)，12:00–24:00 没有价格（空档）"));
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 1);
    }

    // A session of more than a day is billed by the clock under a plan, as if it began today
    // without one; turning the plan off returns to that.
    void sessionBilledByTheClock() {
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        SetClock(env, QStringLiteral("2026-12-09 09:30:00"));
        Start(env, QStringLiteral("pc01"));
        UsePlan(env);
        SetClock(env, QStringLiteral("2026-12-10 11:10:20"));
        Pass(env);
        QCOMPARE(env.field("pc01", "Stime"), QStringLiteral("25时40分"));
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("68元"));
        QCOMPARE(env.field("pc01", "Tsum"), QStringLiteral("68"));
        QString problem;
        QVERIFY(PlanOff(*env.desk, {}, &problem));
        Pass(env);
        QCOMPARE(env.field("pc01", "Stime"), QStringLiteral("1时40分"));
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("6元"));  // Tmoney now says 3
        QCOMPARE(env.prompts.take(), QStringList());
    }

    // Time played before the first plan keeps the single rate it had, though saving the plan
    // writes the plan's base rate into Tmoney.
    void timeBeforeThePlanKeepsItsRate() {
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        SetClock(env, QStringLiteral("2026-12-09 09:30:00"));
        Start(env, QStringLiteral("pc01"));
        SetClock(env, QStringLiteral("2026-12-09 11:10:00"));
        UsePlan(env);
        SetClock(env, QStringLiteral("2026-12-09 12:45:00"));
        Pass(env);
        // 09:30 and 10:30 at 2 (begun before 11:10), 11:30 at 3, 15 minutes: a third of 3.
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("8元"));
    }

    // A change from a date-time: hour slots begun before it keep the old price; the zone is
    // the machine's; a transfer carries the full start along.
    void scheduledChangeAndTransfer() {
        Env env;
        AddPc(env, QStringLiteral("pc07"));
        AddPc(env, QStringLiteral("pc09"));
        SetClock(env, QStringLiteral("2026-12-09 10:00:00"));
        UsePlan(env);
        Start(env, QStringLiteral("pc07"));  // 电竞区: 5 until noon, 6 after
        Plan dearer = TestPlan();
        dearer.zones[1].days[2] = {{0, 1440, 900}};
        QString problem;
        QVERIFY(SavePlan(*env.desk, dearer, At(QStringLiteral("2026-12-09 11:30")), &problem));
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 2);
        QVERIFY(TransferSession(*env.desk, QStringLiteral("pc07"), QStringLiteral("pc09"), {}));
        SetClock(env, QStringLiteral("2026-12-09 12:25:00"));
        Pass(env);
        // 10:00 at 5, 11:00 at 5 (begun before 11:30), 12:00 25 minutes at 9: two thirds is 6.
        QCOMPARE(env.field("pc09", "Stime"), QStringLiteral("2时25分"));
        QCOMPARE(env.field("pc09", "Tmoney"), QStringLiteral("16元"));
    }

    // A session keeps the zone it began in: a machine moved to another zone, a transfer to a
    // machine of another zone, a plan saved meanwhile. The pass, 明细 and the receipt agree.
    void aSessionKeepsItsZone_data() {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("fee");
        // Wednesday 10:00 to 11:10: 普通区 3 + a third of 3 (1); 电竞区 5 + a third of 5 (1.7).
        QTest::newRow("a listed machine moved") << "pc07" << "zone" << "电竞区" << "6.7元";
        QTest::newRow("an unlisted machine moved") << "pc01" << "zone" << "普通区" << "4元";
        QTest::newRow("moved to a machine of 电竞区") << "pc01" << "transfer" << "普通区" << "4元";
        QTest::newRow("moved from one") << "pc07" << "transfer back" << "电竞区" << "6.7元";
        QTest::newRow("a plan saved listing it elsewhere") << "pc01" << "plan" << "普通区" << "4元";
    }
    void aSessionKeepsItsZone() {
        QFETCH(QString, machine);
        QFETCH(QString, change);
        QFETCH(QString, zone);
        QFETCH(QString, fee);
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        AddPc(env, QStringLiteral("pc07"));
        InSessionSinceTen(env, machine);
        QString problem;
        QString billed = machine;
        if (change == QStringLiteral("zone")) {
            QVERIFY(SetMachineZone(*env.desk, machine,
                                   machine == QStringLiteral("pc07") ? QString() : "电竞区",
                                   &problem));
        } else if (change.startsWith(QStringLiteral("transfer"))) {
            billed = machine == QStringLiteral("pc07") ? QStringLiteral("pc01")
                                                       : QStringLiteral("pc07");
            QVERIFY(TransferSession(*env.desk, machine, billed, {}));
        } else {
            Plan moved = TestPlan();
            moved.machines.insert(machine, QStringLiteral("电竞区"));
            QVERIFY2(SavePlan(*env.desk, moved, {}, &problem), qPrintable(problem));
        }
        SetClock(env, QStringLiteral("2026-12-09 11:10:00"));
        Pass(env);
        QCOMPARE(env.field(billed, "Tmoney"), fee);
        const QStringList shown = BillBreakdown(
            *env.desk, billed, env.field(billed, "Tstart"), env.field(billed, "Stime"),
            env.field(billed, "Tmoney"), env.field(billed, "Tother"), env.field(billed, "Tsum"),
            QStringLiteral("正常"));
        QVERIFY2(shown.contains(QStringLiteral("区域 ") + zone), qPrintable(shown.join('\n')));
    }

    // Another desk's change of the plan reaches this desk's next pass, though this desk keeps
    // what it read from pass to pass.
    void anotherDesksPlanReachesThisDesksPass() {
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        InSessionSinceTen(env, QStringLiteral("pc01"));
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("2元"));  // two thirds of 3
        SecondDesk other(env.connectionText(), env.path(QStringLiteral("second")),
                         QStringLiteral("前台二"), env.client.port());
        other.clock.time = QTime(10, 30);
        QString problem;
        QVERIFY2(SavePlan(*other.desk, FlatPlan(QStringLiteral("9")), {}, &problem),
                 qPrintable(problem));
        SetClock(env, QStringLiteral("2026-12-09 11:40:00"));
        Pass(env);
        // 10:00 at 3 (begun before the change); 11:00, 40 minutes, the whole of 9.
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("12元"));
    }

    void overnightEndsAndIsBilledFromItsEnd() {
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        SetClock(env, QStringLiteral("2026-12-09 21:00:00"));
        UsePlan(env);
        Start(env, QStringLiteral("pc01"));
        SetClock(env, QStringLiteral("2026-12-09 21:45:00"));
        Pass(env);
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("3元"));
        env.prompts.answers = {};
        env.desk->Guard([&] { StartOvernight(*env.desk); });
        QCOMPARE(env.field("pc01", "Cstate"), QStringLiteral("通宵"));
        QCOMPARE(env.field("pc01", "Tother"), QStringLiteral("10"));
        QCOMPARE(env.field("pc01", "Tsum"), QStringLiteral("13"));
        env.prompts.take();
        env.client.take();

        PlanWatch watch(*env.desk);
        SetClock(env, QStringLiteral("2026-12-10 07:49:00"));
        watch.Tick();
        QCOMPARE(env.prompts.take(), QStringList());
        SetClock(env, QStringLiteral("2026-12-10 07:50:00"));
        watch.Tick();
        watch.Tick();  // told once
        QCOMPARE(env.prompts.take(), (QStringList{"message|机器“pc01”的通宵将在 08:00 结束。",
                                                  "message|pc01"}));
        const QList<Receiver::Datagram> sent = env.client.take(1);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].bytes, *CommandDatagram(OvernightEndingMessage()));

        SetClock(env, QStringLiteral("2026-12-10 08:00:30"));
        watch.Tick();
        QCOMPARE(env.prompts.take(),
                 QStringList{"message|机器“pc01”的通宵已在 08:00 结束，从这时起按正常计费。"});
        QCOMPARE(env.field("pc01", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("pc01", "Tstart"), QStringLiteral("8:0:0"));
        QCOMPARE(JournalRowsOf(env, JournalKind::OvernightEnd), 1);
        SetClock(env, QStringLiteral("2026-12-10 09:10:00"));
        Pass(env);
        // The 3 billed before the overnight, then 08:00 at 3 and ten minutes (1); the
        // overnight's 10 stays in the charges.
        QCOMPARE(env.field("pc01", "Stime"), QStringLiteral("1时10分"));
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("7元"));
        QCOMPARE(env.field("pc01", "Tsum"), QStringLiteral("17"));
    }

    // Tmoney changed by another tool while a plan is on is said once, and the plan still
    // bills; a change made in 设置 is not another tool's.
    void anotherToolsTariffIsSaidOnce() {
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        InSessionSinceTen(env, QStringLiteral("pc01"));
        PlanWatch watch(*env.desk);
        env.prompts.take();
        watch.Tick();
        QCOMPARE(env.prompts.take(), QStringList());  // what the plan wrote there
        env.otherTool(QStringLiteral("update Tmoney set OneTime='5'"));
        watch.Tick();
        watch.Tick();
        QCOMPARE(env.prompts.take(),
                 QStringList{"message|上网价格表（Tmoney）被别的程序改成了 5/10，价格方案仍然有效："
                             "按方案计费。"});
        SetClock(env, QStringLiteral("2026-12-09 11:10:00"));
        Pass(env);
        QCOMPARE(env.field("pc01", "Tmoney"), QStringLiteral("4元"));  // 3 + a third of 3
        QVERIFY(SetPrices(*env.desk, QStringLiteral("6"), QStringLiteral("10")));
        env.prompts.take();
        watch.Tick();
        QCOMPARE(env.prompts.take(), QStringList());
    }

    // The watch reads beside the window: with the server's network stalled the window's loop
    // keeps turning, and the zones it shows are those it read last.
    void theWatchNeverHoldsTheWindow() {
        if (!TestEngine::Postgres()) QSKIP("a server whose network stalls");
        Env env;
        AddPc(env, QStringLiteral("pc07"));
        UsePlan(env);
        QUrl uri(env.connectionText());
        PausableProxy proxy(quint16(uri.port()));
        uri.setPort(proxy.port());
        SecondDesk other(uri.toString(), env.path(QStringLiteral("second")),
                         QStringLiteral("前台二"), env.client.port());
        PlanWatch watch(*other.desk);
        watch.TickBeside();
        QTRY_VERIFY(!other.desk->planWatchRunning);
        QCOMPARE(watch.ZoneOf(QStringLiteral("PC07")), QStringLiteral("电竞区"));
        QCOMPARE(watch.ZoneOf(QStringLiteral("pc01")), QStringLiteral("普通区"));
        proxy.pause();
        watch.TickBeside();
        bool turned = false;
        QTimer::singleShot(0, [&] { turned = true; });
        QTRY_VERIFY(turned);
        QVERIFY(other.desk->planWatchRunning);
        QCOMPARE(watch.ZoneOf(QStringLiteral("pc07")), QStringLiteral("电竞区"));
        proxy.resume();
        QTRY_VERIFY_WITH_TIMEOUT(!other.desk->planWatchRunning, 60000);
        QCOMPARE(other.prompts.boxes, QStringList());
    }

    void overnightOutsideItsHours_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("confirmed, flagged") << true;
        QTest::newRow("declined, nothing sold") << false;
    }
    void overnightOutsideItsHours() {
        QFETCH(bool, answer);
        Env env;
        AddPc(env, QStringLiteral("pc01"));
        SetClock(env, QStringLiteral("2026-12-09 10:00:00"));
        UsePlan(env);
        env.desk->RefreshSessionGrid();
        env.prompts.take();
        env.prompts.answers = {answer};
        env.desk->Guard([&] { StartOvernight(*env.desk); });
        QCOMPARE(env.prompts.take().value(0),
                 QStringLiteral("confirm|现在不在通宵的售卖时间（20:00–04:00）内，确定还要上通宵吗？"));
        QCOMPARE(env.field("pc01", "Cstate"), answer ? QStringLiteral("通宵") : QStringLiteral("无"));
        const std::vector<JournalRow> rows = AllJournalRows(env);
        const auto night = std::find_if(rows.begin(), rows.end(), [](const JournalRow& r) {
            return r.entry.kind == JournalKind::Overnight;
        });
        QCOMPARE(night != rows.end(), answer);
        if (answer) {
            QVERIFY(night->entry.flagged);
            QVERIFY(night->entry.note.contains(QStringLiteral("售卖时间外")));
        }
    }

    // The preview is the pass's own computation: the same session, the same amount.
    void previewEqualsThePass() {
        Env env;
        AddPc(env, QStringLiteral("pc07"));
        SetClock(env, QStringLiteral("2026-12-12 00:50:00"));  // a Saturday: 电竞区 at 7
        UsePlan(env);
        Start(env, QStringLiteral("pc07"));
        SetClock(env, QStringLiteral("2026-12-12 03:10:00"));
        Pass(env);
        const std::optional<PlanBill> preview =
            PreviewBill(*env.desk, QStringLiteral("电竞区"), At(QStringLiteral("2026-12-12 00:50")),
                        At(QStringLiteral("2026-12-12 03:10")));
        QVERIFY(preview);
        QCOMPARE(FenText(preview->fee) + QStringLiteral("元"), env.field("pc07", "Tmoney"));
        QCOMPARE(env.field("pc07", "Tmoney"), QStringLiteral("18.7元"));  // 7 + 7 + 4.7
        QCOMPARE(preview->runs.size(), size_t(2));
    }

    // The checkout keeps the runs 明细 shows in its journal row, and the report hands them to
    // the receipt; without a plan the row is as it always was.
    void checkoutKeepsTheRunsForTheReceipt_data() {
        QTest::addColumn<bool>("plan");
        QTest::newRow("under a plan") << true;
        QTest::newRow("without one") << false;
    }
    void checkoutKeepsTheRunsForTheReceipt() {
        QFETCH(bool, plan);
        Env env;
        AddPc(env, QStringLiteral("pc07"));
        SetClock(env, QStringLiteral("2026-12-12 00:50:00"));  // a Saturday: 电竞区 at 7
        if (plan) UsePlan(env);
        Start(env, QStringLiteral("pc07"));
        SetClock(env, QStringLiteral("2026-12-12 03:10:00"));
        Pass(env);
        const QStringList shown = BillBreakdown(
            *env.desk, QStringLiteral("pc07"), env.field("pc07", "Tstart"),
            env.field("pc07", "Stime"), env.field("pc07", "Tmoney"), env.field("pc07", "Tother"),
            env.field("pc07", "Tsum"), QStringLiteral("正常"));
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("pc07")));
        const std::optional<Report> report =
            LoadReport(*env.desk, QDate(2026, 12, 12), QDate(2026, 12, 12));
        QVERIFY(report && report->bills.size() == 1);
        const BillDetail& detail = report->bills[0].detail;
        if (!plan) {
            QVERIFY(detail.empty());
            const std::vector<JournalRow> rows = AllJournalRows(env);
            QCOMPARE(rows.back().entry.note, QString());
            return;
        }
        QCOMPARE(detail.zone, QStringLiteral("电竞区"));
        QCOMPARE(detail.runs.size(), size_t(2));
        QCOMPARE(detail.runs[0].label, QStringLiteral("00:50–02:50"));
        QCOMPARE(detail.runs[0].amount, QStringLiteral("14"));
        QCOMPARE(detail.runs[1].detail, QStringLiteral("不足1小时（20分钟），7元/小时"));
        QCOMPARE(detail.runs[1].amount, QStringLiteral("4.7"));
        // The same runs as the 明细 box showed.
        QVERIFY(shown.contains(QStringLiteral("区域 电竞区")));
        QVERIFY(shown.contains(QStringLiteral("02:50–03:10  不足1小时（20分钟），7元/小时，计 4.7元")));
    }

    // What cafe-admin's prices and bill commands run: an import checked as the window checks,
    // nothing changed on an error, the export equal to what was imported, the bill as JSON.
    void importExportAndBillJson() {
        Env env;
        QCOMPARE(ImportPlan(*env.desk, "{\"zones\": [{\"name\": \"A\", \"rates\": []}]}", {}),
                 QStringLiteral("区域“A”，周一(mon)，00:00–24:00 没有价格（空档）"));
        QCOMPARE(ImportPlan(*env.desk, kTestPlan, QStringLiteral("2026-13-01 00:00")),
                 QStringLiteral("生效时间“2026-13-01 00:00”不对，要写成 2027-01-01 08:00"));
        QVERIFY(!ExportPlan(*env.desk));
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 0);
        QCOMPARE(ImportPlan(*env.desk, kTestPlan, QStringLiteral("2026-12-10 08:00")), QString());
        QCOMPARE(*ExportPlan(*env.desk), PlanToJson(TestPlan()));
        const std::optional<PlanBill> bill =
            PreviewBill(*env.desk, QStringLiteral("普通区"), At(QStringLiteral("2026-12-10 07:30")),
                        At(QStringLiteral("2026-12-10 09:00")));
        // 07:30 begins before the plan: the single rate Tmoney had then (2), not the plan's base
        // that saving wrote there (3); 08:30, half an hour at 3.
        QCOMPARE(BillJson(*bill),
                 QByteArray(R"({"slots":[{"amount":"2","from":"2026-12-10 07:30","rate":"2","to":"2026-12-10 08:30"},)"
                            R"({"amount":"2","from":"2026-12-10 08:30","rate":"3","to":"2026-12-10 09:00"}],"total":"4","used":"1时30分"})"));
    }

    // Without a plan the preview bills the single rate of Tmoney by the part-hour bands.
    void previewWithoutAPlan() {
        Env env;
        const std::optional<PlanBill> preview =
            PreviewBill(*env.desk, {}, At(QStringLiteral("2026-12-09 10:00")),
                        At(QStringLiteral("2026-12-09 11:10")));
        QVERIFY(preview);
        QCOMPARE(FenText(preview->fee), QStringLiteral("2.7"));
    }
};

QTEST_GUILESS_MAIN(PlansTest)
#include "test_plans.moc"

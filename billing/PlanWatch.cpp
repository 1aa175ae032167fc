#include "billing/PlanWatch.h"

#include <QSqlDatabase>
#include <vector>

#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "desk/SendCommand.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"
#include "record_store/Engine.h"

namespace {
const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss");
}  // namespace

QString OvernightEndingMessage() { return Command::Message(QStringLiteral("通宵10分钟后结束")); }

bool EndOvernight(Desk& desk, const QString& machine, const QDateTime& ends) {
    TDataModule1& dm = desk.DataModule1;
    Transaction transaction(dm);
    Query* q = dm.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:m") + dm.engine().RowLock());
    q->SetParam(QStringLiteral("m"), machine);
    if (!transaction.BeginWrite() || !q->Open() || q->RecordCount() == 0 ||
        q->FieldText(QStringLiteral("Cstate")) != QStringLiteral("通宵"))
        return false;
    q->First();
    const QString other = q->FieldText(QStringLiteral("Tother"));
    const QString total = q->FieldText(QStringLiteral("Tsum"));
    // The time billed before the overnight (its frozen fee) is carried into the new fee.
    const qint64 carried = std::max<qint64>(
        0, ParseCents(total).value_or(0) - ParseCents(other).value_or(0));
    const QString start = ClockText(ends.time());
    const QString fee = FenText(carried) + QStringLiteral("元");
    Query* p = dm.PlanQuery;
    p->Close();
    // Kept: what was billed before the overnight is more than its Tcount row says.
    p->SetSql(QStringLiteral("update Tsession set started=:s, carried=:c, night_ends='', warned=0, "
                             "kept=1 where username=:m and night_ends=:e"));
    p->SetParam(QStringLiteral("s"), ends.toString(kStamp));
    p->SetParam(QStringLiteral("c"), FenText(carried));
    p->SetParam(QStringLiteral("m"), machine);
    p->SetParam(QStringLiteral("e"), ends.toString(kStamp));
    if (!p->ExecSQL() || p->RowsAffected() != 1) return false;
    q->Close();
    q->SetSql(QStringLiteral("update Tcount set Cstate='正常', Tstart=:t, Tnow=:t2, Stime='0', "
                             "Tmoney=:f where username=:m"));
    q->SetParam(QStringLiteral("t"), start);
    q->SetParam(QStringLiteral("t2"), start);
    q->SetParam(QStringLiteral("f"), fee);
    q->SetParam(QStringLiteral("m"), machine);
    JournalEntry entry = BillEntry(JournalKind::OvernightEnd, machine, start, start,
                                   QStringLiteral("0"), fee, other, total,
                                   QStringLiteral("正常"));
    entry.note = QStringLiteral("通宵结束，从 %1 起按正常计费").arg(PlanDateTimeText(ends));
    return q->ExecSQL() && AppendJournal(desk, entry) && transaction.Commit();
}

PlanWatchRead ReadPlanWatch(QSqlDatabase& db, const Engine& engine, const QDateTime& now) {
    PlanWatchRead read;
    QString error;
    QStringList inForce;
    read.ok =
        engine.Walk(
            db,
            QStringLiteral("select s.username, s.night_ends, s.warned from Tsession s, Tcount c "
                           "where c.username=s.username and s.night_ends<>'' and "
                           "c.Cstate='通宵' order by s.username"),
            {},
            [&](const QString* r, int) {
                read.nights.push_back({r[0], QDateTime::fromString(r[1], kStamp),
                                       r[2] == QLatin1String("1")});
            },
            &error) &&
        engine.Walk(
            db,
            QStringLiteral(
                "select body, base, night from Tplan where effective<=? order by id desc"),
            {now.toString(kStamp)},
            [&](const QString* r, int) {
                if (inForce.isEmpty()) inForce = QStringList{r[0], r[1], r[2]};
            },
            &error);
    if (!read.ok || inForce.value(0).isEmpty()) return read;  // no plan in force
    PlanProblem problem;
    const std::optional<std::vector<Zone>> zones = ZonesFromJson(inForce[0].toUtf8(), &problem);
    if (!zones || zones->empty()) return read;
    read.defaultZone = zones->front().name;
    read.tariffWritten = inForce[1] + QLatin1Char('/') + inForce[2];
    read.ok = engine.Walk(
                  db, QStringLiteral("select OneTime, Tnight from Tmoney"), {},
                  [&](const QString* r, int) {
                      if (read.tariffSeen.isEmpty()) read.tariffSeen = r[0] + u'/' + r[1];
                  },
                  &error) &&
              engine.Walk(
                  db, QStringLiteral("select username, zone from Tzone"), {},
                  [&](const QString* r, int) { read.zoneOf.insert(MachineNameKey(r[0]), r[1]); },
                  &error);
    return read;
}

void PlanWatch::Tick() {
    if (!desk.DataModule1.SchemaError().isEmpty() || desk.ConnectionLost()) return;
    QSqlDatabase db = QSqlDatabase::database(desk.DataModule1.connectionName(), false);
    Act(ReadPlanWatch(db, desk.DataModule1.engine(), desk.clock.nowDateTime()));
}

void PlanWatch::TickBeside() {
    if (!desk.DataModule1.SchemaError().isEmpty() || desk.ConnectionLost() ||
        desk.planWatchRunning)
        return;
    desk.planWatchRunning = true;
    auto read = std::make_shared<PlanWatchRead>();
    const QDateTime now = desk.clock.nowDateTime();
    desk.RunOnWorker(
        [read, now](QSqlDatabase& db, const Engine& engine) {
            *read = ReadPlanWatch(db, engine, now);
        },
        [this, read, alive = std::weak_ptr<bool>(m_alive), &d = desk] {
            d.planWatchRunning = false;
            if (alive.lock()) Act(*read);
        });
}

QString PlanWatch::ZoneOf(const QString& machine) const {
    if (m_defaultZone.isEmpty() || machine.isEmpty()) return {};
    return m_zoneOf.value(MachineNameKey(machine), m_defaultZone);
}

void PlanWatch::Act(const PlanWatchRead& read) {
    if (!read.ok) return;  // said at the next pass, if it stays so
    m_defaultZone = read.defaultZone;
    m_zoneOf = read.zoneOf;
    if (onRead) onRead();
    const QDateTime now = desk.clock.nowDateTime();
    Query* q = desk.DataModule1.PlanQuery;
    bool ended = false;
    // Only an overnight that ends or is about to writes, as a command does: on the window's
    // connection, and claimed by the update, so of several desks one tells.
    for (const PlanWatchRead::Night& n : read.nights) {
        if (!n.ends.isValid()) continue;
        if (now >= n.ends) {
            if (!EndOvernight(desk, n.machine, n.ends)) continue;
            ended = true;
            desk.prompts.message(QStringLiteral("机器“%1”的通宵已在 %2 结束，从这时起按正常计费。")
                                     .arg(n.machine, MinuteText(n.ends.time().hour() * 60 +
                                                                n.ends.time().minute())));
        } else if (!n.warned && now.secsTo(n.ends) <= 600) {
            q->Close();
            q->SetSql(QStringLiteral("update Tsession set warned=1 where username=:m and warned=0 "
                                     "and night_ends=:e"));
            q->SetParam(QStringLiteral("m"), n.machine);
            q->SetParam(QStringLiteral("e"), n.ends.toString(kStamp));
            if (!q->ExecSQL() || q->RowsAffected() != 1) continue;
            desk.prompts.message(QStringLiteral("机器“%1”的通宵将在 %2 结束。")
                                     .arg(n.machine, MinuteText(n.ends.time().hour() * 60 +
                                                                n.ends.time().minute())));
            if (sendMessage) {
                desk.SelectedMachine = n.machine;
                SendCommand(desk, OvernightEndingMessage());
            }
        }
    }
    if (ended) desk.RefreshSessionGrid();
    // Tmoney changed by another tool while a plan is on: said once for each change.
    if (read.defaultZone.isEmpty() || read.tariffSeen == read.tariffWritten ||
        read.tariffSeen == m_toldTariff)
        return;
    m_toldTariff = read.tariffSeen;
    desk.prompts.message(
        QStringLiteral("上网价格表（Tmoney）被别的程序改成了 %1，价格方案仍然有效：按方案计费。")
            .arg(read.tariffSeen));
}

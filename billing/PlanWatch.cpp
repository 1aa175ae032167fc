#include "billing/PlanWatch.h"

#include <vector>

#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "desk/SendCommand.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"

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
    p->SetSql(QStringLiteral("update Tsession set started=:s, carried=:c, night_ends='', warned=0 "
                             "where username=:m and night_ends=:e"));
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

void PlanWatch::Tick() {
    if (!desk.DataModule1.SchemaError().isEmpty() || desk.ConnectionLost()) return;
    const QDateTime now = desk.clock.nowDateTime();
    Query* q = desk.DataModule1.PlanQuery;
    q->Close();
    q->SetSql(QStringLiteral("select s.username, s.night_ends, s.warned from Tsession s, Tcount c "
                             "where c.username=s.username and s.night_ends<>'' and "
                             "c.Cstate='通宵' order by s.username"));
    if (!q->Open()) return;  // said at the next pass, if it stays so
    struct Night {
        QString machine;
        QDateTime ends;
        bool warned;
    };
    std::vector<Night> nights;
    for (int i = 0; i < q->RecordCount(); ++i)
        nights.push_back({q->FieldText(i, QStringLiteral("username")),
                          QDateTime::fromString(q->FieldText(i, QStringLiteral("night_ends")), kStamp),
                          q->FieldText(i, QStringLiteral("warned")) == QStringLiteral("1")});
    q->Close();
    bool ended = false;
    for (const Night& n : nights) {
        if (!n.ends.isValid()) continue;
        if (now >= n.ends) {
            if (!EndOvernight(desk, n.machine, n.ends)) continue;
            ended = true;
            desk.prompts.message(QStringLiteral("机器“%1”的通宵已在 %2 结束，从这时起按正常计费。")
                                     .arg(n.machine, MinuteText(n.ends.time().hour() * 60 +
                                                                n.ends.time().minute())));
        } else if (!n.warned && now.secsTo(n.ends) <= 600) {
            // The update is the claim: of several desks, the one that changes the row tells.
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
    if (const auto written = PlanTariff(desk)) {
        q->Close();
        q->SetSql(QStringLiteral("select * from Tmoney"));
        if (!q->Open()) return;
        q->First();
        const QString seen = q->FieldText(QStringLiteral("OneTime")) + QLatin1Char('/') +
                             q->FieldText(QStringLiteral("Tnight"));
        q->Close();
        if (seen == written->first + QLatin1Char('/') + written->second || seen == m_toldTariff)
            return;
        m_toldTariff = seen;
        desk.prompts.message(
            QStringLiteral("上网价格表（Tmoney）被别的程序改成了 %1，价格方案仍然有效：按方案计费。")
                .arg(seen));
    }
}

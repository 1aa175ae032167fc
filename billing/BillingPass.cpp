#include "billing/BillingPass.h"

#include <cmath>
#include <vector>

#include "billing/Journal.h"
#include "billing/Messages.h"
#include "desk/Desk.h"

namespace {

// Marks a pass as running for its whole life, however it ends.
class RunningFlag {
  public:
    explicit RunningFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RunningFlag() { m_flag = false; }

  private:
    bool& m_flag;
};

double PartFee(double rate, int thirds) {
    // rate x n / 3 x 10 in the x87 extended type, nearest integer with ties to even.
    const long double tenths = static_cast<long double>(rate) * thirds / 3 * 10;
    return static_cast<double>(std::nearbyintl(tenths) / 10);
}

// The switch at midnight and its flagged journal row, both or neither.
bool SwitchToOvernight(Desk& desk, const QString& machine) {
    TDataModule1& dm = desk.DataModule1;
    Transaction transaction(dm);
    Query* q1 = dm.ADOQuery1;
    q1->Close();
    q1->SetSql(QStringLiteral("update Tcount set Cstate='通宵',Tmoney='0'  where username=:aid"));
    q1->SetParam(QStringLiteral("aid"), machine);
    if (!transaction.Begin() || !q1->ExecSQL()) return false;
    Query* q2 = dm.ADOQuery2;
    q2->Close();
    q2->SetSql(QStringLiteral("select Tstart,Stime,Tother,Tsum from Tcount where username=:aid"));
    q2->SetParam(QStringLiteral("aid"), machine);
    if (!q2->Open()) return false;
    if (q2->RecordCount() > 0) {
        JournalEntry entry;
        entry.kind = JournalKind::MidnightOvernight;
        entry.machine = machine;
        entry.start = q2->FieldText(QStringLiteral("Tstart"));
        entry.used = q2->FieldText(QStringLiteral("Stime"));
        entry.fee = QStringLiteral("0");
        entry.other = q2->FieldText(QStringLiteral("Tother"));
        entry.total = q2->FieldText(QStringLiteral("Tsum"));
        entry.state = QStringLiteral("通宵");
        entry.flagged = true;
        if (!AppendJournal(desk, entry)) return false;
    }
    q2->Close();
    return transaction.Commit();
}

}  // namespace

QString NonFiniteBillText(const QString& machine) {
    return QStringLiteral(
               "机器“%1”的费用超出了可以计算的范围，本次未计费。请检查上网价格和附加费。")
        .arg(machine);
}

ElapsedTime Elapsed(int startHour, int startMinute, int nowHour, int nowMinute) {
    if (nowMinute >= startMinute) return {nowHour - startHour, nowMinute - startMinute};
    return {nowHour - startHour - 1, nowMinute + 60 - startMinute};
}

double TimeFee(double rate, int hours, int minutes) {
    const double whole = hours * rate;
    if (minutes < 5) return whole;
    if (minutes < 20) return whole + PartFee(rate, 1);
    if (minutes < 40) return whole + PartFee(rate, 2);
    return whole + rate;
}

void RefreshClock(Desk& desk) {
    if (desk.clockRefreshRunning) return;
    RunningFlag running(desk.clockRefreshRunning);
    Query* q = desk.DataModule1.ADOQuery1;
    q->Close();
    q->SetSql(QStringLiteral("update Tcount set Tnow=:nowtime1 where Cstate='正常'"));
    q->SetParam(QStringLiteral("nowtime1"), LongTimeText(desk.clock.now()));
    if (!q->ExecSQL()) {
        desk.prompts.message(BillingText::PassFault);
        return;
    }
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount order by username"));
    if (!q->Open()) desk.prompts.message(BillingText::PassFault);
}

void BillingPass(Desk& desk) {
    if (desk.billingPassRunning) return;
    RunningFlag running(desk.billingPassRunning);
    TDataModule1& dm = desk.DataModule1;
    Query* q2 = dm.ADOQuery2;

    q2->Close();
    q2->SetSql(QStringLiteral("select * From Tmoney"));
    if (!q2->Open()) throw UnhandledError(q2->LastError());
    q2->First();
    const double rate = ParseDecimal(q2->FieldText(QStringLiteral("OneTime")));

    q2->Close();
    // Only the three fields the pass reads: every field read costs a text conversion.
    // In name order: the passes of several desks then lock rows in the same order.
    q2->SetSql(QStringLiteral(
        "select username,Tstart,Tother from Tcount where Cstate='正常' order by username"));
    if (!q2->Open()) {
        desk.prompts.message(BillingText::PassFault);
        return;
    }
    if (q2->RecordCount() == 0) return;

    // Our own copy of the rows: the shared query may be reused while a box is open.
    struct Row {
        QString username, start, other;
    };
    std::vector<Row> rows;
    rows.reserve(q2->RecordCount());
    for (q2->First(); !q2->Eof(); q2->Next())
        rows.push_back({q2->FieldText(QStringLiteral("username")),
                        q2->FieldText(QStringLiteral("Tstart")),
                        q2->FieldText(QStringLiteral("Tother"))});

    // Row updates go in one transaction, committed before any box is shown and whenever the
    // pass ends, so rows written before a failure stay written. A commit that fails (another
    // program holds the file) loses the pass's writes: the operator is told, and the next tick
    // bills from scratch.
    Transaction transaction(dm);
    try {
        Query* q3 = dm.ADOQuery3;
        for (const Row& row : rows) {
            const QTime now = desk.clock.now();
            const QTime start = ParseDateTime(row.start);
            const bool pastMidnight =
                now.hour() < start.hour() ||
                (now.hour() == start.hour() && now.minute() < start.minute());  // almost a day
            if (pastMidnight) {
                if (!transaction.Commit()) {
                    desk.prompts.message(BillingText::PassUpdateFault);
                    return;
                }
                // One desk asks about a machine; the others leave it to that desk.
                const QString question = QStringLiteral("midnight:") + row.username;
                if (!dm.TryClaim(question)) continue;
                struct Release {
                    TDataModule1& dm;
                    const QString& key;
                    ~Release() { dm.ReleaseClaim(key); }
                } release{dm, question};
                if (desk.prompts.confirm(BillingText::MidnightQuestion)) {
                    desk.prompts.message(QStringLiteral("请先去结账一次!"));
                    if (!SwitchToOvernight(desk, row.username)) {
                        desk.prompts.message(BillingText::PassFault);
                        return;
                    }
                    continue;
                }
                desk.prompts.message(QStringLiteral("系统已不能再为该机计费，请自行处理!"));
                desk.RefreshSessionGrid();
                return;
            }
            const ElapsedTime used =
                Elapsed(start.hour(), start.minute(), now.hour(), now.minute());
            const double fee = TimeFee(rate, used.hours, used.minutes);
            const double other = ParseDecimal(row.other);
            if (!std::isfinite(fee) || !std::isfinite(fee + other)) {
                // Never store "inf": every later pass would stop at this row.
                if (!transaction.Commit()) {
                    desk.prompts.message(BillingText::PassUpdateFault);
                    return;
                }
                desk.prompts.message(NonFiniteBillText(row.username));
                return;
            }

            transaction.Begin();
            q3->Close();
            q3->SetSql(QStringLiteral(
                "update Tcount set Stime=:sumtime,Tmoney=:sumMoney,Tsum=:allMoney where "
                "username=:aid"));
            q3->SetParam(QStringLiteral("sumtime"), QString::number(used.hours) + u'时' +
                                                        QString::number(used.minutes) + u'分');
            q3->SetParam(QStringLiteral("sumMoney"), DecimalText(fee) + QStringLiteral("元"));
            q3->SetParam(QStringLiteral("allMoney"), DecimalText(fee + other));
            q3->SetParam(QStringLiteral("aid"), row.username);
            if (!q3->ExecSQL()) {
                (void)transaction.Commit();  // the rows before it; the same box either way
                desk.prompts.message(BillingText::PassUpdateFault);
                return;
            }
        }
    } catch (...) {
        // A conversion error ends the pass at its row; the rows before it stay written.
        if (!transaction.Commit()) desk.prompts.message(BillingText::PassUpdateFault);
        throw;
    }
    if (!transaction.Commit()) {
        desk.prompts.message(BillingText::PassUpdateFault);
        return;
    }
    desk.RefreshSessionGrid();
}

#include "billing/BillingPass.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "billing/Messages.h"
#include "desk/Desk.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"
#include "record_store/DatabaseError.h"

namespace {

double PartFee(double rate, int thirds) {
    return static_cast<double>(static_cast<long double>(PartTenths(rate, thirds)) / 10);
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

// --- The passes as steps: the database work runs on whichever connection the runner gives
// (the desk's own, or its worker's beside the window); every box, the midnight question and
// the grid come back on the window's thread, in the order the passes have always shown them.

namespace {

using Step = std::function<void(QSqlDatabase& db, const Engine& engine)>;
using Runner = std::function<void(Step work, std::function<void()> then)>;

// On the desk's own connection, at once: what a test, or a desk without a worker, runs.
Runner HereAndNow(Desk& desk) {
    return [&desk](Step work, std::function<void()> then) {
        QSqlDatabase db = QSqlDatabase::database(desk.DataModule1.connectionName(), false);
        work(db, desk.DataModule1.engine());
        desk.DataModule1.CheckConnection();
        then();
    };
}

// On the desk's worker: the window stays free while the rows are read and written.
Runner Beside(Desk& desk) {
    return [&desk](Step work, std::function<void()> then) {
        desk.RunOnWorker(std::move(work), std::move(then));
    };
}

// The flag is up from the tick until the pass's last step has come back.
std::shared_ptr<void> Hold(bool& flag) {
    flag = true;
    return std::shared_ptr<void>(&flag, [](void* f) { *static_cast<bool*>(f) = false; });
}

// A normal row as the pass read it: what the bill is computed from, and what it shows now.
struct PassRow {
    QString username, start, other, used, fee, total;
};

// Under a plan: the versions in force, the records of the sessions that are more than their
// row says (begun on an earlier day, kept), and the machines' zones.
struct RowPlan {
    PlanCache& plans;
    const QHash<QString, SessionRecord>& kept;
};

// What a row's bill is at now, or why the pass stops at it. The one place a row's values are
// computed: under the plan in force (pricing, when one is), by the clock from the session's
// full start; without one, the part-hour rule at the tariff's rate from Tstart to now. A text
// that does not convert throws ConversionError.
struct RowBill {
    enum Outcome { Billed, Midnight, NotFinite } outcome = Billed;
    QString used, fee, total;
};

RowBill PriceRow(RowPlan* plan, double rate, const QTime& now, const QDateTime& at,
                 const PassRow& row, size_t index) {
    const QTime start = ParseDateTime(row.start);
    // Any other session began today at its Tstart in its machine's zone.
    const SessionRecord* record = nullptr;
    if (plan && !plan->kept.isEmpty()) {
        const auto kept = plan->kept.constFind(row.username);
        if (kept != plan->kept.constEnd()) record = &*kept;
    }
    // A session on a package knows its full start and what was paid: past midnight it is
    // billed on, never asked about as an overnight.
    const bool prepaid = record && record->prepaidTo.isValid();
    if (!prepaid && (now.hour() < start.hour() ||
                     (now.hour() == start.hour() && now.minute() < start.minute())))  // almost a day
        return {RowBill::Midnight, {}, {}, {}};
    std::optional<PlanBill> byPlan;
    if (plan)
        byPlan = SessionPlanBill(plan->plans.state.pricing, record,
                                 plan->plans.ListedZone(index, row.username), start, at);
    ElapsedTime used{0, 0};
    double fee = 0;
    if (byPlan) {
        used = {byPlan->hours, byPlan->minutes};
        fee = double(byPlan->fee) / 100;
    } else {
        used = Elapsed(start.hour(), start.minute(), now.hour(), now.minute());
        fee = TimeFee(rate, used.hours, used.minutes);
    }
    const double other = ParseDecimal(row.other);
    // Never store "inf": every later pass would stop at this row.
    if (!std::isfinite(fee) || !std::isfinite(fee + other)) return {RowBill::NotFinite, {}, {}, {}};
    return {RowBill::Billed,
            QString::number(used.hours) + u'时' + QString::number(used.minutes) + u'分',
            DecimalText(fee) + QStringLiteral("元"), DecimalText(fee + other)};
}

// The pass's write: the three texts, only while the row is still the normal session it read.
const Engine::GuardedRows& PassWrite() {
    static const Engine::GuardedRows shape{
        QStringLiteral("Tcount"),
        QStringLiteral("username"),
        QStringLiteral("Cstate='正常'"),
        {QStringLiteral("Tstart"), QStringLiteral("Tother")},
        {QStringLiteral("Stime"), QStringLiteral("Tmoney"), QStringLiteral("Tsum")}};
    return shape;
}

struct PassWritten {
    size_t row;
    QString used, fee, total;
};

// One billing pass, from its tick to its end.
struct Pass {
    Desk& desk;
    Runner run;
    std::shared_ptr<void> running;
    double rate = 0;
    std::shared_ptr<PlanCache> plans = {};  // the desk's, kept from pass to pass
    bool underPlan = false;
    QHash<QString, SessionRecord> kept = {};
    std::vector<PassRow> rows = {};
    size_t next = 0;
    std::vector<PassWritten> written = {};  // committed, for the grid
    enum Stop {
        Done,
        NoRows,
        ReadFailed,
        Midnight,
        UpdateFailed,
        NotFinite,
        Unhandled
    } stop = Done;
    QString text = {};  // the error's own text (Unhandled), the machine (NotFinite)
};

// The tariff and the normal rows: what a bill is computed from and what it shows; in name order, so the
// passes of several desks lock rows in the same order.
void ReadStep(Pass& p, QSqlDatabase& db, const Engine& engine) {
    // The tariff: a query that fails, a table without a row or a rate that is not a number
    // ends the pass with the error's own text.
    QString oneTime;
    {
        QSqlQuery tariff(db);
        tariff.setForwardOnly(true);
        if (!tariff.exec(QStringLiteral("select * From Tmoney"))) {
            p.stop = Pass::Unhandled;
            p.text = DatabaseErrorText(tariff.lastError());
            return;
        }
        if (tariff.next()) oneTime = tariff.value(QStringLiteral("OneTime")).toString();
    }
    try {
        p.rate = ParseDecimal(oneTime);
    } catch (const ConversionError& e) {
        p.stop = Pass::Unhandled;
        p.text = e.text();
        return;
    }
    QString error;
    const bool read = engine.Walk(
        db,
        QStringLiteral("select username,Tstart,Tother,Stime,Tmoney,Tsum from Tcount where "
                       "Cstate='正常' order by username"),
        {},
        [&](const QString* r, int) {
            p.rows.push_back({r[0], r[1], r[2], r[3], r[4], r[5]});
        },
        &error);
    if (!read) {
        p.stop = Pass::ReadFailed;
        return;
    }
    if (p.rows.empty()) {
        p.stop = Pass::NoRows;
        return;
    }
    // The plans are read again only when a change moved their stamp; under one, the only
    // records read are those of sessions that are more than their row says.
    const QDateTime now = p.desk.clock.nowDateTime();
    if (!RefreshPlanCache(db, engine, p.plans.get(), &error)) {
        p.stop = Pass::ReadFailed;
        return;
    }
    p.plans->state.pricing.base = {qint64(std::llround(static_cast<long double>(p.rate) * 100)),
                                   p.rate};
    p.underPlan = p.plans->state.any && p.plans->state.pricing.On(now);
    p.stop = !p.underPlan || ReadKeptSessions(db, engine, now, &p.kept, &error) ? Pass::Done
                                                                                : Pass::ReadFailed;
}

// The rows from p.next on, until the last, a row past midnight or a failure: those whose texts
// change are written in one transaction and committed. What was written before the stop stays;
// a commit that fails (another program holds the file) loses them, the operator is told, and
// the next tick bills from scratch.
void RowsStep(Pass& p, QSqlDatabase& db, const Engine& engine) {
    // A row whose three texts would not change is not written at all (no statement, no page),
    // and then neither the grid nor the screen changes for it. Nor is a row that changed since
    // it was read (a checkout, a charge, another desk): the next pass bills it from what it is.
    std::vector<QStringList> batch;
    std::vector<PassWritten> values;
    p.stop = Pass::Done;
    const QDateTime at = p.desk.clock.nowDateTime();
    const QTime now = p.desk.clock.now();
    RowPlan under{*p.plans, p.kept};
    RowPlan* plan = p.underPlan ? &under : nullptr;
    for (; p.next < p.rows.size(); ++p.next) {
        const PassRow& row = p.rows[p.next];
        try {
            RowBill bill = PriceRow(plan, p.rate, now, at, row, p.next);
            if (bill.outcome == RowBill::Midnight) {
                p.stop = Pass::Midnight;
                break;
            }
            if (bill.outcome == RowBill::NotFinite) {
                p.stop = Pass::NotFinite;
                p.text = row.username;
                break;
            }
            if (bill.used == row.used && bill.fee == row.fee && bill.total == row.total) continue;
            batch.push_back(
                {row.username, row.start, row.other, bill.used, bill.fee, bill.total});
            values.push_back({p.next, std::move(bill.used), std::move(bill.fee),
                              std::move(bill.total)});
        } catch (const ConversionError& e) {
            // A text that does not convert ends the pass at its row; the rows before it stay.
            p.stop = Pass::Unhandled;
            p.text = e.text();
            break;
        }
    }
    if (batch.empty()) return;  // nothing changes: no transaction, no statement
    std::vector<size_t> written;
    QString error;
    const bool ok = db.transaction() && engine.WriteGuardedRows(db, PassWrite(), batch, &written,
                                                               &error);
    if (!ok) p.stop = Pass::UpdateFailed;  // the rows before it stay written where they can
    if (!ok && written.empty()) {
        db.rollback();
        return;
    }
    if (!db.commit()) {
        db.rollback();
        p.stop = Pass::UpdateFailed;
        return;
    }
    for (const size_t w : written) p.written.push_back(std::move(values[w]));
}

void Finish(const std::shared_ptr<Pass>& p) {
    Desk& desk = p->desk;
    Query* grid = desk.DataModule1.ADOQuery1;
    if (!grid->Active()) {
        desk.RefreshSessionGrid();
        return;
    }
    // The grid shows what was written without reading every row again; a pass that changed
    // nothing changes nothing on the screen.
    const int used = grid->ColumnIndex(QStringLiteral("Stime"));
    const int fee = grid->ColumnIndex(QStringLiteral("Tmoney"));
    const int total = grid->ColumnIndex(QStringLiteral("Tsum"));
    std::vector<Query::Cell> cells;
    cells.reserve(p->written.size() * 3);
    for (const PassWritten& w : p->written) {
        const int row = grid->FindRow(QStringLiteral("username"), p->rows[w.row].username);
        cells.push_back({row, used, w.used});
        cells.push_back({row, fee, w.fee});
        cells.push_back({row, total, w.total});
    }
    grid->SetCells(cells);
}

void Continue(const std::shared_ptr<Pass>& p);

// On the window's thread, after a step of rows.
void AfterRows(const std::shared_ptr<Pass>& p) {
    Desk& desk = p->desk;
    // A pass cut short by a lost connection wrote nothing (its transaction went with it) and
    // says nothing: the status strip does, and the pass after the reconnect bills every row.
    if (p->stop != Pass::Done && p->stop != Pass::NoRows && desk.ConnectionLost()) return;
    switch (p->stop) {
        case Pass::Done:
        case Pass::NoRows:
            Finish(p);
            return;
        case Pass::UpdateFailed:
            desk.prompts.message(BillingText::PassUpdateFault);
            return;
        case Pass::NotFinite:
            desk.prompts.message(NonFiniteBillText(p->text));
            return;
        case Pass::Unhandled:
            desk.prompts.reportUnhandled(p->text);
            return;
        case Pass::ReadFailed:
            desk.prompts.message(BillingText::PassFault);
            return;
        case Pass::Midnight:
            break;
    }
    const QString machine = p->rows[p->next].username;
    TDataModule1& dm = desk.DataModule1;
    // One desk asks about a machine; the others leave it to that desk.
    const QString question = QStringLiteral("midnight:") + machine;
    if (!dm.TryClaim(question)) {
        ++p->next;
        Continue(p);
        return;
    }
    struct Release {
        TDataModule1& dm;
        const QString& key;
        ~Release() { dm.ReleaseClaim(key); }
    } release{dm, question};
    if (desk.prompts.confirm(BillingText::MidnightQuestion)) {
        desk.prompts.message(QStringLiteral("请先去结账一次!"));
        if (!SwitchToOvernight(desk, machine)) {
            desk.prompts.message(BillingText::PassFault);
            return;
        }
        ++p->next;
        Continue(p);
        return;
    }
    desk.prompts.message(QStringLiteral("系统已不能再为该机计费，请自行处理!"));
    desk.RefreshSessionGrid();
}

void Continue(const std::shared_ptr<Pass>& p) {
    p->run([p](QSqlDatabase& db, const Engine& engine) { RowsStep(*p, db, engine); },
           [p] { AfterRows(p); });
}

void StartPass(Desk& desk, Runner run) {
    if (desk.billingPassRunning || desk.ConnectionLost()) return;
    if (!desk.passCache) desk.passCache = std::make_shared<PlanCache>();
    auto p = std::make_shared<Pass>(Pass{desk, std::move(run), Hold(desk.billingPassRunning)});
    p->plans = std::static_pointer_cast<PlanCache>(desk.passCache);
    // The rows are read and written in one visit to the runner's connection.
    p->run(
        [p](QSqlDatabase& db, const Engine& engine) {
            ReadStep(*p, db, engine);
            if (p->stop == Pass::Done) RowsStep(*p, db, engine);
        },
        [p] {
            if (p->stop == Pass::NoRows) return;  // nothing written, the grid left alone
            AfterRows(p);
        });
}

// The clock refresh. With the grid open: the update on the runner's connection, and the
// grid's cells of the rows it changed set to the new time, repainting only those.
// The clock's update of the normal rows; those another desk holds keep their time until the
// next refresh.
QString ClockUpdate(const Engine& engine) {
    const QString skipLocked = engine.SkipLocked();
    return QStringLiteral("update Tcount set Tnow=:nowtime1 where Cstate='正常'") +
           (skipLocked.isEmpty() ? QString()
                                 : QStringLiteral(" and username in (select username from "
                                                  "Tcount where Cstate='正常'") +
                                       skipLocked + QLatin1Char(')'));
}

void StartClock(Desk& desk, Runner run) {
    if (desk.clockRefreshRunning || desk.ConnectionLost()) return;
    TDataModule1& dm = desk.DataModule1;
    Query* grid = dm.ADOQuery1;
    const QString now = LongTimeText(desk.clock.now());
    if (!grid->Active()) {
        // No grid to bring up to date: the update and the reopen, as they always ran.
        const auto running = Hold(desk.clockRefreshRunning);
        grid->Close();
        grid->SetSql(ClockUpdate(dm.engine()));
        grid->SetParam(QStringLiteral("nowtime1"), now);
        if (!grid->ExecSQL()) {
            if (!desk.ConnectionLost()) desk.prompts.message(BillingText::PassFault);
            return;
        }
        grid->Close();
        grid->SetSql(QString::fromLatin1(TDataModule1::WholeGridStatement));
        if (!grid->Open() && !desk.ConnectionLost()) desk.prompts.message(BillingText::PassFault);
        return;
    }
    struct Clock {
        std::shared_ptr<void> running;
        QStringList machines;
        bool updated = false;
    };
    auto c = std::make_shared<Clock>(Clock{Hold(desk.clockRefreshRunning), {}, false});
    run(
        [c, now](QSqlDatabase& db, const Engine& engine) {
            QString error;
            c->updated = engine.Walk(
                db, ClockUpdate(engine) + QStringLiteral(" returning username"), {now},
                [&](const QString* row, int) { c->machines << row[0]; }, &error);
        },
        [c, now, &desk] {
            Query* grid = desk.DataModule1.ADOQuery1;
            if (!c->updated && desk.ConnectionLost()) return;  // the rows shown stay
            if (!c->updated) {
                grid->Close();  // as when the update ran on the grid: empty until the next reopen
                desk.prompts.message(BillingText::PassFault);
                return;
            }
            if (!grid->Active()) {  // closed meanwhile: opened afresh by whoever needs it
                desk.RefreshSessionGrid();
                return;
            }
            const int column = grid->ColumnIndex(QStringLiteral("Tnow"));
            std::vector<Query::Cell> cells;
            cells.reserve(c->machines.size());
            for (const QString& machine : c->machines)
                cells.push_back({grid->FindRow(QStringLiteral("username"), machine), column, now});
            grid->SetCells(cells);
        });
}

}  // namespace

void RefreshClock(Desk& desk) { StartClock(desk, HereAndNow(desk)); }

void RefreshClockBeside(Desk& desk) { StartClock(desk, Beside(desk)); }

void BillingPass(Desk& desk) { StartPass(desk, HereAndNow(desk)); }

void BillingPassBeside(Desk& desk) { StartPass(desk, Beside(desk)); }

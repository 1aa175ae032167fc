#include "billing/Checkout.h"

#include "billing/AfterFailedCommit.h"
#include "billing/BillingPass.h"
#include "billing/Messages.h"
#include "billing/Prices.h"
#include "billing/SessionStart.h"
#include "client_channel/Datagram.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"

std::optional<int> CheckoutRow(Desk& desk) {
    // With the grid closed there is no row to bill: reopen it (it finds the chosen machine
    // again) and stop if that fails, since its box has already told the operator.
    if (!desk.DataModule1.ADOQuery1->Active()) {
        desk.RefreshSessionGrid();
        if (!desk.DataModule1.ADOQuery1->Active()) return std::nullopt;
    }
    const int gridRow = desk.CurrentRow();
    const QString name = desk.CurrentRowMachine();
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:SelectRow"));
    q->SetParam(QStringLiteral("SelectRow"), name);
    desk.SelectedMachine = name;
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbRestart);
        return std::nullopt;
    }
    q->First();
    if (q->FieldText(QStringLiteral("Cstate")) == QStringLiteral("无")) {
        StartCommand(desk);
        desk.prompts.message(QStringLiteral("现在是要上机了"));
        return std::nullopt;
    }
    return gridRow;
}

namespace {

// A Tcount row of any query as a bill; a row that is not there reads as all empty.
ShownBill BillAt(const Query* q, int row) {
    const auto f = [&](const char* column) { return q->FieldText(row, QString::fromLatin1(column)); };
    return {f("username"), f("Tstart"), f("Tnow"),   f("Stime"), f("Tmoney"),
            f("Tother"),   f("Tsum"),   f("gotime"), f("Cstate")};
}

}  // namespace

ShownBill GridBill(Desk& desk, int gridRow) { return BillAt(desk.DataModule1.ADOQuery1, gridRow); }

bool SameBill(const ShownBill& shown, const ShownBill& row, std::optional<double> rate,
              int nowHour, int nowMinute) {
    if (row.state != shown.state || row.start != shown.start) return false;
    const auto cents = [](const QString& text) { return ParseCents(TextOrZero(text)); };
    const auto shownOther = cents(shown.other), rowOther = cents(row.other);
    if (!shownOther || !rowOther ? shown.other != row.other : *shownOther != *rowOther)
        return false;
    const auto shownTotal = cents(shown.total), rowTotal = cents(row.total);
    if (!rowTotal) return shown.total == row.total;
    if (shownTotal && *shownTotal == *rowTotal) return true;
    // Only a normal session's total moves by itself: the pass bills it every 30 seconds, so
    // the row may hold this minute's bill or the last minute's.
    if (row.state != QStringLiteral("正常") || !rate || !rowOther) return false;
    try {
        const QTime start = ParseDateTime(row.start);
        for (const int back : {0, 1}) {
            const int minutes = (nowHour * 60 + nowMinute - back + 1440) % 1440;
            const int hour = minutes / 60, minute = minutes % 60;
            if (hour < start.hour() || (hour == start.hour() && minute < start.minute())) continue;
            const ElapsedTime used = Elapsed(start.hour(), start.minute(), hour, minute);
            const auto passTotal =
                ParseCents(DecimalText(TimeFee(*rate, used.hours, used.minutes) +
                                       ParseDecimal(TextOrZero(row.other))));
            if (passTotal && *passTotal == *rowTotal) return true;
        }
    } catch (const ConversionError&) {
    }
    return false;
}

QString BillingText::BillChangedText(const QString& machine) {
    return QStringLiteral(
               "机器“%1”的账单已经变了（可能在别处加了附加费、转了账或改了状态），窗口中现在是"
               "新的账单。没有发送下机命令，也没有结账：请核对后再按“结账下机”。")
        .arg(machine);
}

QString BillingText::NotInSessionAtCheckoutText(const QString& machine) {
    return QStringLiteral(
               "机器“%1”现在没有在上机（可能已在别处结账下机），没有发送下机命令，也没有结账。")
        .arg(machine);
}

bool CheckOut(Desk& desk, const QString& machine) {
    const int row = desk.DataModule1.ADOQuery1->FindRow(QStringLiteral("username"), machine);
    ShownBill bill = GridBill(desk, row);
    bill.machine = machine;
    return CheckOut(desk, bill) == CheckoutOutcome::Done;
}

namespace {

// The machine's row under its lock, inside the caller's write transaction; nullopt when it
// cannot be read. No row reads as an idle bill.
std::optional<ShownBill> LockedRow(Desk& desk, const QString& machine) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:m") +
              desk.DataModule1.engine().RowLock());
    q->SetParam(QStringLiteral("m"), machine);
    if (!q->Open()) return std::nullopt;
    ShownBill row = BillAt(q, 0);
    row.machine = machine;
    q->Close();
    return row;
}

// The hourly rate now, as the pass reads it; nullopt when it cannot be read or parsed. No box:
// this runs under the row's lock.
std::optional<double> RateNow(Desk& desk) {
    const std::optional<Prices> prices = ReadTariff(desk);
    if (!prices) return std::nullopt;
    try {
        return ParseDecimal(prices->hourly);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

}  // namespace

RowDecision LockAndSettle(Desk& desk, const ShownBill& bill, Query* update, const QString& note,
                          ShownBill* current) {
    const QString machine = bill.machine;
    const std::optional<ShownBill> row = LockedRow(desk, machine);
    if (!row) return RowDecision::Failed;
    if (row->state.isEmpty() || row->state == QStringLiteral("无")) return RowDecision::Idle;
    // One reading of the clock: the bill, its journal row and what settles with it agree.
    const QDateTime at = desk.clock.nowDateTime();
    const QTime now = at.time();
    if (!SameBill(bill, *row, RateNow(desk), now.hour(), now.minute())) {
        *current = *row;
        return RowDecision::Changed;
    }
    update->Close();
    update->SetSql(QStringLiteral(
        "update Tcount set Tstart=:tt1,Tnow=:tt2,Stime=:tt3,Tmoney=:tt4,Tother=:tt5,"
        "Tsum=:tt6,gotime=:tt7,Cstate=:tt8 where username=:tt9"));
    for (const char* empty : {"tt1", "tt2", "tt3", "tt4", "tt5", "tt6", "tt7"})
        update->SetParam(QString::fromLatin1(empty), QString());
    update->SetParam(QStringLiteral("tt8"), QStringLiteral("无"));
    update->SetParam(QStringLiteral("tt9"), machine);
    // The bill shown is the money taken: it goes into the journal as shown, with its runs of
    // hour slots under a plan, for the receipt.
    JournalEntry taken = BillEntry(JournalKind::Checkout, machine, bill.start,
                                   now.toString(QStringLiteral("H:mm:ss")), bill.used,
                                   bill.fee, bill.other, bill.total, bill.state);
    BillDetail detail = PlanBillDetail(desk, machine, bill.start, bill.used, bill.state);
    std::vector<Desk::SettledLine> settled;
    if (!update->ExecSQL() ||
        (desk.sessionSettled && !desk.sessionSettled(machine, at, &settled)))
        return RowDecision::Failed;
    for (const Desk::SettledLine& line : settled)
        detail.runs.push_back({line.label, line.detail, line.amount});
    taken.note = NoteWithDetail(note, detail);
    return AppendJournal(desk, taken) && DropSessionRecord(desk, machine) ? RowDecision::Reset
                                                                           : RowDecision::Failed;
}

CheckoutOutcome CheckOut(Desk& desk, const ShownBill& bill,
                         const std::function<void(const ShownBill&)>& refill) {
    const QString machine = bill.machine;
    desk.SelectedMachine = machine;
    desk.prompts.message(QStringLiteral("现在是要下机了"));
    const QByteArray datagram = *CommandDatagram(Command::End);
    // The client locks only when its checkout can be recorded, and the checkout is decided by
    // the row, never by the grid (which may be stale): after the look-up and before "xiaji"
    // leaves, the row is read under its lock and reset; the commit follows the send at once.
    Transaction transaction(desk.DataModule1);
    RowDecision decided = RowDecision::Failed;
    ShownBill current;
    const auto lockAndReset = [&] {
        decided = transaction.BeginWrite() ? LockAndSettle(desk, bill, desk.DataModule1.ADOQuery1,
                                                           {}, &current)
                                           : RowDecision::Failed;
        if (decided == RowDecision::Reset) return true;
        transaction.Rollback();
        return false;
    };
    try {
        desk.NMUDP1->RemoteHost = machine;
        desk.prompts.message(QStringLiteral(" 要下机的客户机名是:") + machine);
        desk.prompts.message(machine);
        desk.NMUDP1->RemoteHost = machine;  // a send during the boxes may have moved it
        desk.NMUDP1->SendDatagram(datagram, CommandDatagramSize, lockAndReset);
    } catch (const SendVetoed&) {
        if (decided == RowDecision::Idle) {
            desk.prompts.message(BillingText::NotInSessionAtCheckoutText(machine));
            desk.RefreshSessionGrid();
            return CheckoutOutcome::Idle;
        }
        if (decided == RowDecision::Changed) {
            if (refill) refill(current);  // the operator reads the box beside the new bill
            desk.RefreshSessionGrid();
            desk.prompts.message(BillingText::BillChangedText(machine));
            return CheckoutOutcome::BillChanged;
        }
        desk.prompts.message(DeskText::DbContact);
        desk.prompts.message(BillingText::NotCheckedOut);
        return CheckoutOutcome::NotDone;
    } catch (const EndpointError&) {
        desk.prompts.message(QStringLiteral("无法与客户端连接!"));
        desk.prompts.message(BillingText::NotCheckedOut);
        return CheckoutOutcome::NotDone;
    }
    // "xiaji" has left: the client is locked whatever the commit does.
    bool recorded = transaction.Commit();
    const QString why = desk.DataModule1.LastError();
    const Recorded afterAll = recorded ? Recorded::Yes : CheckoutRecorded(desk, machine);
    recorded = afterAll == Recorded::Yes;  // a commit reported failed may have gone through
    Query* grid = desk.DataModule1.ADOQuery1;
    bool reopened = true;
    if (recorded) {
        grid->Close();
        grid->SetSql(QString::fromLatin1(TDataModule1::WholeGridStatement));
        reopened = grid->Open();
    }
    desk.prompts.message(QStringLiteral("发送信息完成，收到没有是客户端的事了."));
    if (!recorded) {
        desk.prompts.message(DeskText::DbContact);
        desk.prompts.message(BillingText::NotCheckedOut);
        desk.prompts.message(
            afterAll == Recorded::No
                ? QStringLiteral("结账没有能记入数据库（%1）：机器“%2”的账没有结，仍在上机计费。"
                                 "下机命令已经发出，客户机已被锁上。请再结一次账。")
                      .arg(why, machine)
                : QStringLiteral("结账时数据库出错（%1），无法确认这次结账是否已经记下。下机命令"
                                 "已经发出，机器“%2”已被锁上；请查看它的状态。")
                      .arg(why, machine));
        desk.RefreshSessionGrid();
        return CheckoutOutcome::NotDone;
    }
    if (!reopened) {
        desk.prompts.message(DeskText::DbContact);
        return CheckoutOutcome::NotDone;
    }
    desk.prompts.message(QStringLiteral("下机到这已经全部完成了."));
    return CheckoutOutcome::Done;
}

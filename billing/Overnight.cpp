#include "billing/Overnight.h"

#include <cmath>

#include "billing/Messages.h"
#include "billing/Prices.h"
#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"

bool IsOvernight(Desk& desk) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:SelectRow and Cstate='通宵'"));
    q->SetParam(QStringLiteral("SelectRow"), desk.SelectedMachine);
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbRestart);
        return false;
    }
    const bool overnight = q->RecordCount() > 0;
    desk.RefreshSessionGrid();
    return overnight;
}

void StartOvernight(Desk& desk) {
    desk.SelectGridMachine();
    const QString machine = desk.SelectedMachine;
    if (IsOvernight(desk)) {
        desk.prompts.message(QStringLiteral("该机已经处于通宵状态!"));
        return;
    }
    const std::optional<Prices> prices = ReadPrices(desk);
    if (!prices) return;
    QString night = prices->overnight;
    // Under a plan the machine's zone sells its own overnight, within its hours, and it ends.
    const std::optional<NightSale> sale = PlanOvernight(desk, machine);
    const QDateTime now = desk.clock.nowDateTime();
    bool outsideHours = false;
    if (sale) {
        night = FenText(sale->price);
        outsideHours = !sale->SellableAt(now.time().hour() * 60 + now.time().minute());
        if (outsideHours &&
            !desk.prompts.confirm(QStringLiteral("现在不在通宵的售卖时间（%1–%2）内，确定还要上通宵吗？")
                                      .arg(MinuteText(sale->sellFrom), MinuteText(sale->sellTo))))
            return;
    }

    // The row is read under its lock, inside the write: a second desk cannot make the same
    // machine overnight twice, and an extra charge added meanwhile is kept.
    Transaction transaction(desk.DataModule1);
    // The write lock failing is the update failing: the update's message.
    if (!transaction.BeginWrite() || !desk.LockMachineRows({machine})) {
        transaction.Rollback();
        desk.prompts.message(BillingText::OvernightUpdateFault);
        return;
    }
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:SelectRow"));
    q->SetParam(QStringLiteral("SelectRow"), machine);
    if (!q->Open()) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbRestart);
        return;
    }
    q->First();
    if (q->FieldText(QStringLiteral("Cstate")) == QStringLiteral("通宵")) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("该机已经处于通宵状态!"));
        return;
    }
    const QString sum = TextOrZero(q->FieldText(QStringLiteral("Tsum")));
    const QString other = TextOrZero(q->FieldText(QStringLiteral("Tother")));

    // All three convert before anything is written.
    const double nightPrice = ParseDecimal(night);
    const double newOther = ParseDecimal(other) + nightPrice;
    const double newSum = ParseDecimal(sum) + nightPrice;
    if (!std::isfinite(newOther) || !std::isfinite(newSum)) {
        transaction.Rollback();
        desk.prompts.message(BillingText::OvernightTooLarge);
        return;
    }

    // The row and its journal row are written together or not at all.
    JournalEntry entry;
    entry.kind = JournalKind::Overnight;
    entry.machine = machine;
    entry.start = LongTimeText(desk.clock.now());
    entry.other = DecimalText(newOther);
    entry.total = DecimalText(newSum);
    entry.state = QStringLiteral("通宵");
    entry.amount = DecimalText(nightPrice);
    if (sale) {
        entry.note = QStringLiteral("通宵到 %1 结束").arg(MinuteText(sale->ends));
        if (outsideHours) {
            entry.flagged = true;
            entry.note += QStringLiteral("；在售卖时间外上通宵");
        }
    }
    q->Close();
    q->SetSql(QStringLiteral(
        "update Tcount set Tstart=:startTime,Tother=:NightMoney,Tsum=:allMoney,Cstate='通宵' "
        "where username=:UsName"));
    q->SetParam(QStringLiteral("startTime"), entry.start);
    q->SetParam(QStringLiteral("NightMoney"), entry.other);
    q->SetParam(QStringLiteral("allMoney"), entry.total);
    q->SetParam(QStringLiteral("UsName"), machine);
    const bool written =
        q->ExecSQL() && (q->RowsAffected() == 0 || AppendJournal(desk, entry)) &&
        (!sale || NoteOvernight(desk, machine, now, NextAt(now, sale->ends))) &&
        transaction.Commit();
    if (!written) {
        transaction.Rollback();
        desk.prompts.message(BillingText::OvernightUpdateFault);
        return;
    }
    desk.SelectedMachine = machine;
    if (!SendCommand(desk, Command::Start))
        desk.prompts.message(QStringLiteral("不能到达对方，请检查网络!"));
    desk.RefreshSessionGrid();
}

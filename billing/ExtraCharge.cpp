#include "billing/ExtraCharge.h"

#include <cmath>

#include "billing/Messages.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"

namespace {

// The stored name a typed one stands for, matched as the machine list matches names (any
// letter case in any script: "ä-pc" finds "Ä-pc", where the engine folds only A-Z). The typed
// text itself when no name matches or the names cannot be read: the look-ups then say so.
QString StoredName(Desk& desk, const QString& typed) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select username from Tcount"));
    if (typed.isEmpty() || !q->Open()) return typed;
    const QString key = MachineNameKey(typed);
    QString found = typed;
    bool matched = false;
    for (q->First(); !q->Eof(); q->Next()) {
        const QString name = q->FieldText(QStringLiteral("username"));
        if (name == typed) return typed;
        if (!matched && MachineNameKey(name) == key) {
            found = name;
            matched = true;
        }
    }
    q->Close();
    return found;
}

}  // namespace

ChargeSelection CheckChargeMachine(Desk& desk, const QString& typed) {
    const QString machine = StoredName(desk, typed);
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:a1 and cstate<>'无'"));
    q->SetParam(QStringLiteral("a1"), machine);
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("数据库出错！"));
        return {ChargeSelection::Failed, {}, {}};
    }
    if (q->RecordCount() == 0) {
        desk.prompts.message(BillingText::NotInSession);
        return {ChargeSelection::NotInSession, {}, {}};
    }
    q->First();
    return {ChargeSelection::InSession, TextOrZero(q->FieldText(QStringLiteral("Tother"))),
            TextOrZero(q->FieldText(QStringLiteral("Tsum")))};
}

ChargeOutcome AddExtraCharge(Desk& desk, const QString& typed, const QString& amountText) {
    if (typed.isEmpty()) {
        desk.prompts.message(QStringLiteral("请先选择您要添加附加费的机器号!"));
        return ChargeOutcome::NoMachine;
    }
    if (amountText.isEmpty()) {
        desk.prompts.message(QStringLiteral("请填入您要添加的附加费!"));
        return ChargeOutcome::NoAmount;
    }
    const QString machine = StoredName(desk, typed);
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:a1 and Cstate<>'无'"));
    q->SetParam(QStringLiteral("a1"), machine);
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("添加错误，请重新运行本软件再添加！"));
        return ChargeOutcome::NotAdded;
    }
    if (q->RecordCount() == 0) {
        desk.prompts.message(BillingText::NotInSession);
        return ChargeOutcome::NotAdded;
    }
    q->Close();
    if (!ApplyExtraCharge(desk, machine, amountText)) return ChargeOutcome::NotAdded;
    desk.prompts.message(QStringLiteral("添加成功!"));
    return ChargeOutcome::Added;
}

bool ApplyExtraCharge(Desk& desk, const QString& machine, const QString& amountText) {
    const double amount = ParseDecimal(amountText);  // before anything is written
    // A typed amount is bounded and exact: a slip of the finger must not become a bill.
    switch (ReadTypedAmount(amountText, BillingText::MaxChargeCents).check) {
        case TypedAmount::Ok:
            break;
        case TypedAmount::TooManyDecimals:
            desk.prompts.message(BillingText::ChargeDecimals(amountText));
            return false;
        case TypedAmount::NotANumber:
        case TypedAmount::TooLarge:
            desk.prompts.message(BillingText::ChargeOutOfRange(amountText));
            return false;
    }

    TDataModule1& dm = desk.DataModule1;
    Transaction transaction(dm);
    Query* q = dm.ADOQuery2;
    q->Close();
    q->SetSql(
        QStringLiteral(
            "select Tother,Tsum,Cstate from Tcount where username=:SelectRow and Cstate<>'无'") +
        dm.engine().RowLock());
    q->SetParam(QStringLiteral("SelectRow"), machine);
    if (!transaction.BeginWrite() || !q->Open()) {
        transaction.Rollback();  // never held open across a box
        desk.prompts.message(DeskText::DbRestart);
        return false;
    }
    if (q->RecordCount() == 0) {  // the session ended since the check
        transaction.Rollback();
        desk.prompts.message(BillingText::NotInSession);
        return false;
    }
    q->First();
    const double other = ParseDecimal(TextOrZero(q->FieldText(QStringLiteral("Tother"))));
    const double total = ParseDecimal(TextOrZero(q->FieldText(QStringLiteral("Tsum"))));
    const QString state = q->FieldText(QStringLiteral("Cstate"));
    q->Close();
    if (!std::isfinite(other + amount) || !std::isfinite(total + amount)) {
        transaction.Rollback();
        desk.prompts.message(BillingText::ChargeTooLarge);
        return false;
    }
    JournalEntry charge;
    charge.kind = JournalKind::ExtraCharge;
    charge.machine = machine;
    charge.other = DecimalText(other + amount);
    charge.total = DecimalText(total + amount);
    charge.state = state;
    charge.amount = DecimalText(amount);
    q->SetSql(QStringLiteral("Update Tcount set Tother=:a1,Tsum=:a2 where username=:SelectRow"));
    q->SetParam(QStringLiteral("a1"), charge.other);
    q->SetParam(QStringLiteral("a2"), charge.total);
    q->SetParam(QStringLiteral("SelectRow"), machine);
    if (!q->ExecSQL() || !AppendJournal(desk, charge) || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbRestart);
        return false;
    }
    desk.RefreshSessionGrid();
    return true;
}

#include "billing/Checkout.h"

#include "billing/Messages.h"
#include "billing/SessionStart.h"
#include "client_channel/Datagram.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"

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

ShownBill GridBill(Desk& desk, int gridRow) {
    const Query* grid = desk.DataModule1.ADOQuery1;
    const auto f = [&](const char* column) {
        return grid->FieldText(gridRow, QString::fromLatin1(column));
    };
    return {f("username"), f("Tstart"), f("Tnow"),   f("Stime"), f("Tmoney"),
            f("Tother"),   f("Tsum"),   f("gotime"), f("Cstate")};
}

bool CheckOut(Desk& desk, const QString& machine) {
    const int row = desk.DataModule1.ADOQuery1->FindRow(QStringLiteral("username"), machine);
    ShownBill bill = GridBill(desk, row);
    bill.machine = machine;
    return CheckOut(desk, bill);
}

bool CheckOut(Desk& desk, const ShownBill& bill) {
    const QString machine = bill.machine;
    desk.SelectedMachine = machine;
    desk.prompts.message(QStringLiteral("现在是要下机了"));
    const QByteArray datagram = *CommandDatagram(Command::End);
    // The client locks only when its checkout can be recorded: after the look-up and before
    // "xiaji" leaves, the lock is taken and the row reset; the commit follows the send at once.
    // The state is the one the grid shows; a machine the grid does not show is reset anyway.
    Transaction transaction(desk.DataModule1);
    Query* grid = desk.DataModule1.ADOQuery1;
    const int row = grid->FindRow(QStringLiteral("username"), machine);
    const bool reset = grid->FieldText(row, QStringLiteral("Cstate")) != QStringLiteral("无");
    QString refusal;
    const auto lockAndReset = [&] {
        if (!transaction.BeginWrite()) return false;
        if (!reset) return true;
        // Under the row's lock: a second desk checking out the same bill is refused.
        Query* q = desk.DataModule1.ADOQuery2;
        q->Close();
        q->SetSql(QStringLiteral("select Cstate from Tcount where username=:m") +
                  desk.DataModule1.engine().RowLock());
        q->SetParam(QStringLiteral("m"), machine);
        if (!q->Open()) {
            transaction.Rollback();
            return false;
        }
        const bool gone =
            q->RecordCount() == 0 || q->FieldText(QStringLiteral("Cstate")) == QStringLiteral("无");
        q->Close();
        if (gone) {
            transaction.Rollback();
            refusal =
                QStringLiteral("机器“%1”已经在别的前台结账下机了，这里不再结一次账。").arg(machine);
            return false;
        }
        grid->Close();
        grid->SetSql(QStringLiteral(
            "update Tcount set Tstart=:tt1,Tnow=:tt2,Stime=:tt3,Tmoney=:tt4,Tother=:tt5,"
            "Tsum=:tt6,gotime=:tt7,Cstate=:tt8 where username=:tt9"));
        for (const char* empty : {"tt1", "tt2", "tt3", "tt4", "tt5", "tt6", "tt7"})
            grid->SetParam(QString::fromLatin1(empty), QString());
        grid->SetParam(QStringLiteral("tt8"), QStringLiteral("无"));
        grid->SetParam(QStringLiteral("tt9"), machine);
        const JournalEntry taken =
            BillEntry(JournalKind::Checkout, machine, bill.start,
                      desk.clock.now().toString(QStringLiteral("H:mm:ss")), bill.used, bill.fee,
                      bill.other, bill.total, bill.state);
        if (grid->ExecSQL() && AppendJournal(desk, taken)) return true;
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
        if (!refusal.isEmpty()) {
            desk.prompts.message(refusal);
            return false;
        }
        desk.prompts.message(DeskText::DbContact);
        desk.prompts.message(BillingText::NotCheckedOut);
        return false;
    } catch (const EndpointError&) {
        desk.prompts.message(QStringLiteral("无法与客户端连接!"));
        desk.prompts.message(BillingText::NotCheckedOut);
        return false;
    }
    const bool resetWritten = transaction.Commit();
    bool reopened = true;
    if (reset && resetWritten) {
        grid->Close();
        grid->SetSql(QString::fromLatin1(TDataModule1::WholeGridStatement));
        reopened = grid->Open();
    }
    desk.prompts.message(QStringLiteral("发送信息完成，收到没有是客户端的事了."));
    if (!resetWritten) {
        desk.prompts.message(DeskText::DbContact);
        desk.prompts.message(BillingText::NotCheckedOut);
        return false;
    }
    if (!reopened) {
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    desk.prompts.message(QStringLiteral("下机到这已经全部完成了."));
    return true;
}

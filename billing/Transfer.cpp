#include "billing/Transfer.h"

#include <QStringList>

#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "plans/Plans.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"
#include "ledger/Journal.h"

namespace {
const char* const kColumns[] = {"Tstart", "Tnow", "Stime",  "Tmoney",
                                "Tother", "Tsum", "gotime", "Cstate"};
}  // namespace

bool TransferSession(Desk& desk, const QString& source, const QString& target,
                     const std::function<void()>& moved) {
    if (source.isEmpty() || target.isEmpty()) {
        desk.prompts.message(QStringLiteral("请选好您要转账的机器!"));
        return false;
    }
    TDataModule1& dm = desk.DataModule1;
    Query* q = dm.ADOQuery2;
    // Look-ups, copy and reset in one transaction: the session is on exactly one machine.
    Transaction transaction(dm);
    auto fail = [&](const QString& text) {
        transaction.Rollback();  // before the box: never held open while the operator reads
        desk.prompts.message(text);
        return false;
    };
    // The write lock failing is the copy failing: the copy's message.
    if (!transaction.BeginWrite() || !desk.LockMachineRows({source, target}))
        return fail(DeskText::DbRerun);

    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:a1"));
    q->SetParam(QStringLiteral("a1"), source);
    if (!q->Open()) return fail(DeskText::DbRestart);
    if (q->RecordCount() == 0) return fail(QStringLiteral("转账不成功！请重新运行本软件!"));
    q->First();
    QStringList values;
    for (const char* column : kColumns) values << q->FieldText(QString::fromLatin1(column));
    const QString sourceState = values.last();
    if (sourceState.isEmpty() || sourceState == QStringLiteral("无"))
        return fail(QStringLiteral("机器“%1”已经下机，不能再从它转账。").arg(source));

    q->Close();
    q->SetSql(QStringLiteral("select Cstate from Tcount where username=:a1"));
    q->SetParam(QStringLiteral("a1"), target);
    if (!q->Open()) return fail(DeskText::DbRestart);
    if (q->RecordCount() == 0)
        return fail(QStringLiteral("机器“%1”已不在机器列表中，不能转账到它。").arg(target));
    q->First();
    if (q->FieldText(QStringLiteral("Cstate")) != QStringLiteral("无"))
        return fail(QStringLiteral("机器“%1”已经上机，不能转账到它。").arg(target));

    q->Close();
    q->SetSql(QStringLiteral(
        "update Tcount set Tstart=:s1,Tnow=:s2,Stime=:s3,Tmoney=:s4,Tother=:s5,Tsum=:s6,"
        "gotime=:s7,Cstate=:s8 where username=:text2"));
    for (int i = 0; i < values.size(); ++i)
        q->SetParam(QStringLiteral("s%1").arg(i + 1), values[i]);
    q->SetParam(QStringLiteral("text2"), target);
    if (!q->ExecSQL()) return fail(DeskText::DbRerun);

    q->Close();
    q->SetSql(QStringLiteral(
        "update Tcount set Tstart='',Tnow='',Stime='',Tmoney='',Tother='',Tsum='',gotime='',"
        "Cstate='无' where username=:t1"));
    q->SetParam(QStringLiteral("t1"), source);
    if (!q->ExecSQL()) return fail(DeskText::DbRerun);
    // values: Tstart, Tnow, Stime, Tmoney, Tother, Tsum, gotime, Cstate
    JournalEntry moving = BillEntry(JournalKind::Transfer, source, values[0], values[1], values[2],
                                    values[3], values[4], values[5], values[7]);
    moving.target = target;
    if (!AppendJournal(desk, moving) || !MoveSessionRecord(desk, source, target))
        return fail(DeskText::DbRerun);
    if (desk.sessionMoved && !desk.sessionMoved(source, target)) return fail(DeskText::DbRerun);
    if (!transaction.Commit()) return fail(DeskText::DbRerun);
    desk.MoveReminder(source, target);  // the reminder goes with the session, as gotime does

    desk.RefreshSessionGrid();
    if (moved) moved();
    desk.SelectedMachine = source;
    SendCommand(desk, Command::End);
    desk.SelectedMachine = target;
    SendCommand(desk, Command::Start);
    return true;
}

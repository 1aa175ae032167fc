#include "billing/SessionStart.h"

#include "billing/AfterFailedCommit.h"
#include "billing/Messages.h"
#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "plans/Plans.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"

void StartCommand(Desk& desk) {
    desk.CaptureSelectedMachine();
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select username from Tcount where username=:p1 and Cstate='无'"));
    q->SetParam(QStringLiteral("p1"), desk.SelectedMachine);
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbFault);
        return;
    }
    if (q->RecordCount() == 0) {
        desk.prompts.message(BillingText::AlreadyInSession);
        return;
    }
    if (desk.offerStart && desk.offerStart(desk.SelectedMachine)) return;
    desk.prompts.message(QStringLiteral("上机"));
    StartSession(desk);
}

bool StartSession(Desk& desk, const std::function<bool()>& alsoWrite) {
    // The row written must be the machine that was told "sj", even if a command run while the
    // send waited for a name lookup moved SelectedMachine.
    const QString machine = desk.SelectedMachine;
    // The client unlocks only when its session can be recorded: after the look-up and before
    // "sj" leaves, the lock is taken and the row written; the commit follows the send at once,
    // before any box. A locked, read-only or broken file stops the command from leaving.
    Transaction transaction(desk.DataModule1);
    bool written = false;
    QString refusal, why;
    const SendOutcome sent = SendRecordedCommand(
        desk, Command::Start,
        [&] {
            if (transaction.BeginWrite() && LockIdleAndWriteStart(desk, machine, &refusal) &&
                (!alsoWrite || alsoWrite()))
                return true;
            transaction.Rollback();
            return false;
        },
        [&] {
            written = transaction.Commit();
            if (!written) why = desk.DataModule1.LastError();
            if (written) desk.DataModule1.ADOQuery1->Open();  // not empty while the box shows
        });
    if (sent == SendOutcome::Failed) return false;
    if (sent == SendOutcome::NotLocked) {
        desk.prompts.message(refusal.isEmpty() ? DeskText::DbContact : refusal);
        return false;
    }
    if (!written) {
        // "sj" has left: no client may stay unlocked without its session in the database.
        const QString told = RelockText(LockAgainUnlessStarted(desk, machine), machine, why);
        desk.RefreshSessionGrid();
        if (!told.isEmpty()) {
            desk.prompts.message(told);
            return false;
        }
    }
    desk.SelectedMachine = machine;
    if (!desk.DataModule1.ADOQuery1->Active()) desk.RefreshSessionGrid();
    return true;
}

bool LockIdleAndWriteStart(Desk& desk, const QString& machine, QString* refusal) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select Cstate from Tcount where username=:m") +
              desk.DataModule1.engine().RowLock());
    q->SetParam(QStringLiteral("m"), machine);
    if (!q->Open()) return false;
    const bool idle =
        q->RecordCount() > 0 && q->FieldText(QStringLiteral("Cstate")) == QStringLiteral("无");
    q->Close();
    if (!idle) {
        *refusal = BillingText::AlreadyInSession;  // another desk started it meanwhile
        return false;
    }
    return WriteSessionStart(desk, machine);
}

bool WriteSessionStart(Desk& desk, const QString& machine) {
    Query* q = desk.DataModule1.ADOQuery1;
    q->Close();
    q->SetSql(QStringLiteral(
        "update Tcount set Tstart=:tt1,Tnow=:tt2,Stime=:tt3,Tmoney=:tt4,Tother=:tt5,Tsum=:tt6,"
        "gotime=:tt7,cState=:tt8 where userName=:tt9"));
    q->SetParam(QStringLiteral("tt1"), ClockText(desk.clock.now()));
    q->SetParam(QStringLiteral("tt2"), ClockText(desk.clock.now()));
    for (const char* zero : {"tt3", "tt4", "tt5", "tt6"})
        q->SetParam(QString::fromLatin1(zero), QStringLiteral("0"));
    q->SetParam(QStringLiteral("tt7"), QString());
    q->SetParam(QStringLiteral("tt8"), QStringLiteral("正常"));
    q->SetParam(QStringLiteral("tt9"), machine);
    // The full start, so a plan bills the session by the clock (Tstart is a time of day).
    const bool ok = q->ExecSQL() && NoteSessionStart(desk, machine, desk.clock.nowDateTime());
    q->SetSql(QString::fromLatin1(TDataModule1::GridStatement));
    return ok;
}

#include "machines/Machines.h"

#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"

namespace {

std::optional<QStringList> Names(Desk& desk, const QString& statement, const QString& failure) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(statement);
    if (!q->Open()) {
        desk.prompts.message(failure);
        return std::nullopt;
    }
    QStringList names;
    names.reserve(q->RecordCount());
    for (q->First(); !q->Eof(); q->Next()) names << q->FieldText(QStringLiteral("userName"));
    return names;
}

}  // namespace

bool AllMachineNamesInto(Desk& desk, PackedTexts* names) {
    // Walked, not opened as a grid: a café's whole list, thousands of names, for one dialog.
    Query* q = desk.DataModule1.ADOQuery2;
    q->SetSql(QStringLiteral("select username from Tcount order by username"));
    names->clear();
    if (!q->ReadColumn(names)) {
        desk.prompts.message(DeskText::DbFault);
        return false;
    }
    return true;
}

std::optional<QStringList> AllMachineNames(Desk& desk) {
    PackedTexts packed;
    if (!AllMachineNamesInto(desk, &packed)) return std::nullopt;
    QStringList names;
    names.reserve(packed.size());
    for (qsizetype i = 0; i < packed.size(); ++i) names << packed.at(i).toString();
    return names;
}

std::optional<QStringList> MachineNamesByState(Desk& desk, int mode) {
    return Names(desk,
                 mode == 1 ? QStringLiteral("select * from Tcount where Cstate<>'无'")
                           : QStringLiteral("select * from Tcount where Cstate='无'"),
                 DeskText::DbRestart);
}

AddOutcome AddMachine(Desk& desk, const QString& name) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select username from Tcount where username=:p1"));
    q->SetParam(QStringLiteral("p1"), name);
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbFault);
        return AddOutcome::Failed;
    }
    bool duplicate = q->RecordCount() > 0;
    if (!duplicate) {
        // The engine folds only A-Z; the list folds every script. Check the way the list does,
        // or a second "ä-pc" beside "Ä-pc" could never be selected or deleted.
        q->Close();
        q->SetSql(QStringLiteral("select username from Tcount"));
        if (!q->Open()) {
            desk.prompts.message(DeskText::DbFault);
            return AddOutcome::Failed;
        }
        const QString key = MachineNameKey(name);
        for (q->First(); !q->Eof() && !duplicate; q->Next())
            duplicate = MachineNameKey(q->FieldText(QStringLiteral("username"))) == key;
    }
    if (duplicate) {
        desk.prompts.message(MachineText::DuplicateName);
        return AddOutcome::Duplicate;
    }
    q->Close();
    q->SetSql(QStringLiteral("insert into Tcount(userName) values(:p1)"));
    q->SetParam(QStringLiteral("p1"), name);
    if (!q->ExecSQL()) {
        desk.prompts.message(DeskText::DbFault);
        return AddOutcome::Failed;
    }
    return AddOutcome::Added;
}

bool DeleteMachine(Desk& desk, const QString& name) {
    // A machine deleted in mid-session takes its bill with it: the unsettled bill goes into the
    // journal, flagged, in the same transaction as the delete.
    Transaction transaction(desk.DataModule1);
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:p1 and Cstate<>'无'") +
              desk.DataModule1.engine().RowLock());
    q->SetParam(QStringLiteral("p1"), name);
    bool ok = transaction.BeginWrite() && q->Open();
    std::optional<JournalEntry> unsettled;
    if (ok && q->RecordCount() > 0) {
        const auto f = [&](const char* c) { return q->FieldText(QString::fromLatin1(c)); };
        unsettled = BillEntry(JournalKind::DeletedInSession, f("username"), f("Tstart"), f("Tnow"),
                              f("Stime"), f("Tmoney"), f("Tother"), f("Tsum"), f("Cstate"));
        unsettled->note = QStringLiteral("在上机中被删除，账未结");
        unsettled->flagged = true;
    }
    q->Close();
    QString dropped;
    ok = ok && (!unsettled || !desk.sessionDropped || desk.sessionDropped(name, &dropped));
    if (!dropped.isEmpty()) unsettled->note += QStringLiteral("；") + dropped;
    q->SetSql(QStringLiteral("delete from Tcount where username=:p1"));
    q->SetParam(QStringLiteral("p1"), name);
    ok = ok && q->ExecSQL() && (!unsettled || AppendJournal(desk, *unsettled)) &&
         transaction.Commit();
    if (ok) return true;
    transaction.Rollback();
    desk.prompts.message(DeskText::DbFault);
    return false;
}

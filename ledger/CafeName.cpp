#include "ledger/CafeName.h"

#include "desk/Desk.h"
#include "desk/Messages.h"

namespace {
const QString kKey = QStringLiteral("cafe_name");
}

QString CafeName(Desk& desk) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select value from Tsetting where name=:n"));
    q->SetParam(QStringLiteral("n"), kKey);
    const QString name = q->Open() ? q->FieldText(QStringLiteral("value")) : QString();
    q->Close();
    return name.trimmed().isEmpty() ? DefaultCafeName : name;
}

bool SetCafeName(Desk& desk, const QString& name) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        desk.prompts.message(QStringLiteral("网吧名称不能为空，未保存。"));
        return false;
    }
    Transaction transaction(desk.DataModule1);
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("delete from Tsetting where name=:n"));
    q->SetParam(QStringLiteral("n"), kKey);
    bool ok = transaction.BeginWrite() && q->ExecSQL();
    q->SetSql(QStringLiteral("insert into Tsetting (name, value) values (:n, :v)"));
    q->SetParam(QStringLiteral("n"), kKey);
    q->SetParam(QStringLiteral("v"), trimmed);
    ok = ok && q->ExecSQL() && transaction.Commit();
    if (!ok) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    return true;
}

#include "ledger/Options.h"

#include "desk/Desk.h"

namespace {

using Params = QList<std::pair<QString, QString>>;

Query* Run(Desk& desk, const QString& statement, const Params& params) {
    return desk.DataModule1.JournalQuery->Statement(statement, params);
}

}  // namespace

std::optional<QString> StoredOption(Desk& desk, const QString& name) {
    Query* q = Run(desk, QStringLiteral("select value from Tsetting where name=:n"),
                   {{QStringLiteral("n"), name}});
    if (!q->Open()) return std::nullopt;
    QString value = q->RecordCount() ? q->FieldText(QStringLiteral("value")) : QString();
    q->Close();
    return value;
}

bool StoreOption(Desk& desk, const QString& name, const QString& value) {
    return Run(desk, QStringLiteral("delete from Tsetting where name=:n"),
               {{QStringLiteral("n"), name}})
               ->ExecSQL() &&
           Run(desk, QStringLiteral("insert into Tsetting (name, value) values (:n, :v)"),
               {{QStringLiteral("n"), name}, {QStringLiteral("v"), value}})
               ->ExecSQL();
}

#include "support/LedgerFixtures.h"

#include <QDateTime>

namespace {

std::optional<std::vector<JournalRow>> Everything(Env& env) {
    return ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime(0, 0)),
                       QDateTime(QDate(2100, 1, 1), QTime(0, 0)));
}

}  // namespace

void AddBill(Env& env, const QString& name, const QString& state, const QString& fee,
             const QString& other, const QString& sum, const QString& start) {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, ?, '10:15:07', '1时10分', ?, ?, ?, "
                           "'', ?)"),
            {name, start, fee, other, sum, state});
}

std::vector<JournalRow> AllJournalRows(Env& env) {
    const auto rows = Everything(env);
    if (!rows) qFatal("journal unreadable");
    return *rows;
}

int JournalRowsOf(Env& env, const QString& kind) {
    const auto rows = Everything(env);
    if (!rows) return -1;
    int n = 0;
    for (const JournalRow& row : *rows) n += row.entry.kind == kind;
    return n;
}

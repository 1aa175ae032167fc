#pragma once
// A journal as a busy café leaves it, for the benchmarks that measure what its size costs.
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>

#include "ledger/Journal.h"
#include "record_store/Schema.h"

inline const QDateTime kLastYear(QDate(2026, 1, 1), QTime(8, 0));

// rows journal rows ending where a year's 100,000 from kLastYear end, chained as the console
// chains them. Written straight, in one transaction: the fill is not what is measured.
inline bool FillJournal(QSqlDatabase db, int rows) {
    QDateTime at = kLastYear.addSecs(-qint64(rows - 100000) * 315);
    if (!db.transaction()) return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "insert into Tjournal (id, at, desk, operator, kind, machine, target, tstart, tend, "
        "stime, tmoney, tother, tsum, state, amount, note, flagged, prev, hash, total_fen, v) "
        "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QString prev = JournalSeed();
    for (int i = 0; i < rows; ++i) {
        at = at.addSecs(315);
        JournalRow row;
        row.id = i + 1;
        row.at = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        row.desk = QStringLiteral("前台");
        row.operatorName = QStringLiteral("小王");
        if (i % 137 == 0) {
            row.entry.kind = JournalKind::ShiftOpen;
            row.entry.amount = QStringLiteral("200.00");
        } else {
            row.entry = BillEntry(JournalKind::Checkout,
                                  QStringLiteral("pc%1").arg(i % 300, 3, 10, QLatin1Char('0')),
                                  QStringLiteral("9:0:0"), at.time().toString(QStringLiteral("H:mm:ss")),
                                  QStringLiteral("1时10分"), QStringLiteral("2.7元"),
                                  QStringLiteral("1.5"), QStringLiteral("4.2"),
                                  QStringLiteral("正常"));
        }
        row.prev = prev;
        row.hash = JournalHash(row);
        prev = row.hash;
        const JournalEntry& e = row.entry;
        const auto t = [](const QString& text) {  // empty, never null: the columns are not null
            return QVariant(text.isNull() ? QStringLiteral("") : text);
        };
        for (const QVariant& v :
             {QVariant(row.id), t(row.at), t(row.desk), t(row.operatorName), t(e.kind),
              t(e.machine), t(e.target), t(e.start), t(e.end), t(e.used), t(e.fee), t(e.other),
              t(e.total), t(e.state), t(e.amount), t(e.note), QVariant(0), t(row.prev),
              t(row.hash), QVariant(JournalFenText(e.fee, e.other, e.total)),
              QVariant(row.version)})
            q.addBindValue(v);
        if (!q.exec()) {
            std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
            return false;
        }
    }
    return db.commit();
}


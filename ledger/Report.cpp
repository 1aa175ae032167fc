#include "ledger/Report.h"

#include <QMap>
#include <QSaveFile>
#include <algorithm>

#include "desk/Desk.h"

namespace {

QString Csv(QString field) {
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
        field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
        field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + field + QLatin1Char('"');
    }
    return field;
}

// Excel and WPS run a cell that starts with = + - @ (or a tab or CR before one) as a formula: a
// machine named "=HYPERLINK(...)" must stay a name.
QString AsText(const QString& cell) {
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    return !cell.isEmpty() && formulaStarts.contains(cell.front()) ? QLatin1Char('\'') + cell
                                                                    : cell;
}

template <class Key>
std::vector<std::pair<Key, qint64>> Sorted(const QMap<Key, qint64>& sums) {
    std::vector<std::pair<Key, qint64>> out;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it) out.emplace_back(it.key(), it.value());
    return out;
}

}  // namespace

std::optional<Report> LoadReport(Desk& desk, const QDate& from, const QDate& to,
                                 const QString& deskFilter) {
    const auto rows =
        ReadJournal(desk, QDateTime(from, QTime(0, 0)), QDateTime(to.addDays(1), QTime(0, 0)));
    if (!rows) return std::nullopt;
    Report report;
    report.from = from;
    report.to = to;
    report.desk = deskFilter;

    // The shift each bill fell in: the last opening of its desk before it.
    QMap<QString, std::vector<const JournalRow*>> opens;
    std::vector<JournalRow> openRows;
    qint64 lastId = 0;
    for (const JournalRow& row : *rows) lastId = std::max(lastId, row.id);
    if (!rows->empty()) {
        Query* q = desk.DataModule1.JournalQuery;
        q->Close();
        q->SetSql(
            QStringLiteral("select id, at, desk, operator from Tjournal where kind=:k and "
                           "id<=:last order by id"));
        q->SetParam(QStringLiteral("k"), JournalKind::ShiftOpen);
        q->SetParam(QStringLiteral("last"), QString::number(lastId));
        if (!q->Open()) return std::nullopt;
        for (q->First(); !q->Eof(); q->Next()) {
            JournalRow open;
            open.id = q->FieldText(QStringLiteral("id")).toLongLong();
            open.at = q->FieldText(QStringLiteral("at"));
            open.desk = q->FieldText(QStringLiteral("desk"));
            open.operatorName = q->FieldText(QStringLiteral("operator"));
            openRows.push_back(open);
        }
        q->Close();
        for (const JournalRow& open : openRows) opens[open.desk].push_back(&open);
    }

    // Rows of a signed-in operator are theirs under the name they bear now, whatever it was
    // when the row was written; rows from before accounts keep the name typed then.
    QMap<QString, QString> accountNames;
    {
        Query* q = desk.DataModule1.JournalQuery;
        q->Close();
        q->SetSql(QStringLiteral("select id, name from Taccount"));
        if (!q->Open()) return std::nullopt;
        for (q->First(); !q->Eof(); q->Next())
            accountNames.insert(q->FieldText(QStringLiteral("id")),
                                q->FieldText(QStringLiteral("name")));
        q->Close();
    }
    const auto nameOf = [&](const JournalRow& row) {
        return row.account.isEmpty() ? row.operatorName
                                     : accountNames.value(row.account, row.operatorName);
    };

    QMap<QDate, qint64> perDay;
    QMap<QString, qint64> perShift, perMachine;
    for (const JournalRow& row : *rows) {
        if (!deskFilter.isEmpty() && row.desk != deskFilter) continue;
        if (row.entry.flagged) report.flagged.push_back(row);
        if (row.entry.kind != JournalKind::Checkout) continue;
        ReportBill bill;
        bill.id = row.id;
        bill.at = row.at;
        bill.desk = row.desk;
        bill.operatorName = nameOf(row);
        bill.machine = row.entry.machine;
        bill.start = row.entry.start;
        bill.end = row.entry.end;
        bill.used = row.entry.used;
        bill.fee = row.entry.fee;
        bill.other = row.entry.other;
        bill.total = row.entry.total;
        bill.state = row.entry.state;
        bill.detail = DetailOfNote(row.entry.note);
        const auto fee = ParseCents(bill.fee), other = ParseCents(bill.other),
                   total = ParseCents(bill.total);
        bill.summable = fee && other && total;
        if (!bill.summable) {
            // Never dropped silently: listed, flagged, and left out of every total.
            ++report.unsummable;
            if (!row.entry.flagged) report.flagged.push_back(row);
            report.flagged.back().entry.note = QStringLiteral("金额无法计算，未计入合计");
            report.bills.push_back(std::move(bill));
            continue;
        }
        bill.feeCents = *fee;
        bill.otherCents = *other;
        bill.totalCents = *total;
        if (bill.operatorName.isEmpty()) {
            bill.shift = QStringLiteral("（无人值班）");
        } else {
            const auto& list = opens[row.desk];
            const auto it =
                std::lower_bound(list.begin(), list.end(), row.id,
                                 [](const JournalRow* open, qint64 id) { return open->id < id; });
            const QString opened = it == list.begin() ? QString() : (*(it - 1))->at.left(16);
            bill.shift = QStringLiteral("%1（%2 %3开班）").arg(bill.operatorName, row.desk, opened);
        }
        const QDateTime at = QDateTime::fromString(row.at, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        perDay[at.date()] += bill.totalCents;
        perShift[bill.shift] += bill.totalCents;
        perMachine[bill.machine] += bill.totalCents;
        if (at.isValid()) report.perHour[at.time().hour()] += bill.totalCents;
        report.totalCents += bill.totalCents;
        report.bills.push_back(std::move(bill));
    }
    report.perDay = Sorted(perDay);
    report.perShift = Sorted(perShift);
    report.perMachine = Sorted(perMachine);
    report.check = rows->empty() ? VerifyJournalRange(desk, 1, 0)
                                 : VerifyJournalRange(desk, rows->front().id, rows->back().id);
    return report;
}

QStringList JournalDesks(Desk& desk) {
    Query* q = desk.DataModule1.JournalQuery;
    q->Close();
    q->SetSql(QStringLiteral("select distinct desk from Tjournal order by desk"));
    QStringList desks;
    if (!q->Open()) return desks;
    for (q->First(); !q->Eof(); q->Next()) desks << q->FieldText(QStringLiteral("desk"));
    q->Close();
    return desks;
}

QList<QStringList> SumRows(const std::vector<std::pair<QDate, qint64>>& sums) {
    QList<QStringList> rows;
    for (const auto& [day, cents] : sums)
        rows << QStringList{day.toString(Qt::ISODate), CentsText(cents)};
    return rows;
}

QList<QStringList> SumRows(const std::vector<std::pair<QString, qint64>>& sums) {
    QList<QStringList> rows;
    for (const auto& [name, cents] : sums) rows << QStringList{name, CentsText(cents)};
    return rows;
}

QStringList BillCells(const ReportBill& b) {
    // An amount that is not one is shown as it was written, never as 0.00.
    const auto amount = [&](qint64 cents, const QString& text) {
        return b.summable ? CentsText(cents) : text;
    };
    return {b.at,
            b.machine,
            b.start,
            b.end,
            b.used,
            amount(b.feeCents, b.fee),
            amount(b.otherCents, b.other),
            amount(b.totalCents, b.total),
            b.operatorName};
}

QByteArray ReportCsv(const Report& report) {
    QString csv = QStringLiteral(
        "时间,机器号,上机时间,下机时间,共用时间,上网费用,附加费,共需费用,值班员,前台\r\n");
    for (const ReportBill& b : report.bills) {
        const QStringList fields = BillCells(b) << b.desk;
        QStringList quoted;
        for (int i = 0; i < fields.size(); ++i) {
            const bool amount = b.summable && i >= 5 && i <= 7;
            quoted << Csv(amount ? fields[i] : AsText(fields[i]));
        }
        csv += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + csv.toUtf8();
}

bool WriteReportCsv(const QString& path, const Report& report, QString* why) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(ReportCsv(report)) >= 0 && file.commit())
        return true;
    if (why) *why = file.errorString();
    return false;
}

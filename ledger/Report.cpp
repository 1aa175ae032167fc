#include "ledger/Report.h"

#include <QHash>
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

// A shift as the report names it: its operator, desk and the minute it opened ("desk minute").
QString ShiftLabel(const QString& operatorName, const QString& deskAndOpening) {
    if (operatorName.isEmpty()) return QStringLiteral("（无人值班）");
    return QStringLiteral("%1（%2开班）").arg(operatorName, deskAndOpening);
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
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QString a = QDateTime(from, QTime(0, 0)).toString(format);
    const QString b = QDateTime(to.addDays(1), QTime(0, 0)).toString(format);
    // The settled bills of the days (and desk), each with the opening of the shift it fell in:
    // the last opening of its desk before it. Indexed by kind and time, and by desk and kind.
    const QString deskOnly = deskFilter.isEmpty() ? QString() : QStringLiteral(" and j.desk=?");
    QStringList values{JournalKind::ShiftOpen, JournalKind::Checkout, a, b};
    if (!deskFilter.isEmpty()) values << deskFilter;
    const auto bills = [&](const QString& more) {
        return QStringLiteral(
                   "select j.id, j.at, j.desk, j.operator, j.machine, j.tstart, j.tend, j.stime, "
                   "j.tmoney, j.tother, j.tsum, j.state, j.total_fen, (select o.id from Tjournal "
                   "o where o.desk=j.desk and o.kind=? and o.id<j.id order by o.id desc limit 1) "
                   "as shift, j.account") +
               more + QStringLiteral(" from Tjournal j where j.kind=? and j.at>=? and j.at<?") +
               deskOnly;
    };
    Query* q = desk.DataModule1.JournalQuery;
    Report report;
    report.from = from;
    report.to = to;
    report.desk = deskFilter;

    // Rows of a signed-in operator are theirs under the name they bear now, whatever it was
    // when the row was written; rows from before accounts keep the name typed then.
    QHash<QString, QString> accountNames;
    q->Close();
    q->SetSql(QStringLiteral("select id, name from Taccount"));
    if (!q->ForEachRow([&](const QString* r, int) { accountNames.insert(r[0], r[1]); }, {}))
        return std::nullopt;
    const auto nameOf = [&](const QString& account, const QString& typed) {
        return account.isEmpty() ? typed : accountNames.value(account, typed);
    };

    q->Close();
    q->SetSql(bills(QStringLiteral(", j.note")) + QStringLiteral(" order by j.id"));
    const bool read = q->ForEachRow(
        [&](const QString* r, int) {
            ReportBill bill;
            bill.id = r[0].toLongLong();
            bill.at = r[1];
            bill.desk = r[2];
            bill.operatorName = nameOf(r[14], r[3]);
            bill.machine = r[4];
            bill.start = r[5];
            bill.end = r[6];
            bill.used = r[7];
            bill.fee = r[8];
            bill.other = r[9];
            bill.total = r[10];
            bill.state = r[11];
            // No total in fen: an amount that is not one. Listed, flagged below, in no total.
            bill.summable = !r[12].isEmpty();
            if (bill.summable) {
                bill.feeCents = ParseCents(bill.fee).value_or(0);
                bill.otherCents = ParseCents(bill.other).value_or(0);
                bill.totalCents = r[12].toLongLong();
            }
            bill.shift = r[13];  // the opening's id for now; its label below
            bill.detail = DetailOfNote(r[15]);
            report.bills.push_back(std::move(bill));
        },
        values);
    if (!read) return std::nullopt;

    // The totals, summed and grouped by the engine over the same rows, in fen.
    q->Close();
    q->SetSql(QStringLiteral("with b as materialized (") + bills({}) +
              QStringLiteral(" and j.total_fen is not null") +
              QStringLiteral(
                  ") select 'd', substr(at,1,10), '', sum(total_fen), '' from b group by "
                  "substr(at,1,10) union all select 'h', substr(at,12,2), '', sum(total_fen), "
                  "'' from b group by substr(at,12,2) union all select 'm', machine, '', "
                  "sum(total_fen), '' from b group by machine union all select 's', operator, "
                  "coalesce((select o.desk || ' ' || substr(o.at,1,16) from Tjournal o where "
                  "o.id=b.shift), b.desk || ' '), sum(total_fen), account from b group by "
                  "operator, desk, shift, account"));
    QMap<QDate, qint64> perDay;
    QMap<QString, qint64> perShift, perMachine;
    const bool summed = q->ForEachRow(
        [&](const QString* r, int) {
            const qint64 cents = r[3].toLongLong();
            switch (r[0].at(0).unicode()) {
                case 'd':
                    perDay[QDate::fromString(r[1], Qt::ISODate)] += cents;
                    break;
                case 'h':
                    if (const int hour = r[1].toInt(); hour >= 0 && hour < 24)
                        report.perHour[size_t(hour)] += cents;
                    break;
                case 'm':
                    perMachine[r[1]] += cents;
                    break;
                default:
                    perShift[ShiftLabel(nameOf(r[4], r[1]), r[2])] += cents;
                    report.totalCents += cents;
                    break;
            }
        },
        values);
    if (!summed) return std::nullopt;
    report.perDay = Sorted(perDay);
    report.perShift = Sorted(perShift);
    report.perMachine = Sorted(perMachine);

    // The packages' money of the days, by kind and shift: its amount column (no total in fen).
    q->Close();
    q->SetSql(QStringLiteral("select j.kind, j.operator, j.account, j.desk, (select o.at from "
                             "Tjournal o where o.desk=j.desk and o.kind=? and o.id<j.id order by "
                             "o.id desc limit 1), j.amount from Tjournal j where j.kind in "
                             "(?, ?, ?, ?) and j.at>=? and j.at<?") +
              deskOnly + QStringLiteral(" order by j.id"));
    QStringList packageValues{JournalKind::ShiftOpen,     JournalKind::PackageSale,
                              JournalKind::PackageExtend, JournalKind::PackageVoid,
                              JournalKind::PackageRefund, a,
                              b};
    if (!deskFilter.isEmpty()) packageValues << deskFilter;
    static const QStringList kinds{JournalKind::PackageSale, JournalKind::PackageExtend,
                                   JournalKind::PackageVoid, JournalKind::PackageRefund};
    QMap<std::pair<int, QString>, ReportPackageLine> lines;
    if (!q->ForEachRow(
            [&](const QString* r, int) {
                const QString shift =
                    ShiftLabel(nameOf(r[2], r[1]), r[3] + QLatin1Char(' ') + r[4].left(16));
                ReportPackageLine& line = lines[{int(kinds.indexOf(r[0])), shift}];
                line.kind = r[0];
                line.shift = shift;
                ++line.count;
                const qint64 cents = ParseCents(r[5]).value_or(0);
                line.cents += cents;
                report.packageCents += cents;
            },
            packageValues))
        return std::nullopt;
    for (const ReportPackageLine& line : lines) report.packages.push_back(line);

    // Each bill's shift as the totals name it.
    if (!report.bills.empty()) {
        QHash<QString, QString> opened;  // opening id: desk and minute
        QStringList ids;
        for (const ReportBill& bill : report.bills)
            if (!bill.shift.isEmpty() && !opened.contains(bill.shift)) {
                opened.insert(bill.shift, QString());
                ids << bill.shift;
            }
        for (qsizetype at = 0; at < ids.size(); at += 500) {
            const QStringList some = ids.mid(at, 500);
            q->Close();
            q->SetSql(QStringLiteral("select id, at from Tjournal where id in (") +
                      QStringList(some.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
                      QLatin1Char(')'));
            if (!q->ForEachRow([&](const QString* r, int) { opened[r[0]] = r[1].left(16); },
                               some))
                return std::nullopt;
        }
        for (ReportBill& bill : report.bills) {
            const QString when = opened.value(bill.shift);
            bill.shift = ShiftLabel(bill.operatorName, bill.desk + QLatin1Char(' ') + when);
        }
    }

    // The flagged events of the days: deleted while in session, midnight switches, short cash.
    const auto flagged = SelectJournal(
        desk,
        QStringLiteral(" where at>=:a and at<:b and flagged=1") +
            (deskFilter.isEmpty() ? QString() : QStringLiteral(" and desk=:d")) +
            QStringLiteral(" order by id"),
        deskFilter.isEmpty()
            ? QList<std::pair<QString, QString>>{{QStringLiteral("a"), a}, {QStringLiteral("b"), b}}
            : QList<std::pair<QString, QString>>{
                  {QStringLiteral("a"), a}, {QStringLiteral("b"), b}, {QStringLiteral("d"), deskFilter}});
    if (!flagged) return std::nullopt;
    report.flagged = *flagged;
    // A bill whose amounts are not amounts is never dropped silently: among the flagged.
    for (const ReportBill& bill : report.bills) {
        if (bill.summable) continue;
        ++report.unsummable;
        auto it = std::find_if(report.flagged.begin(), report.flagged.end(),
                               [&](const JournalRow& row) { return row.id == bill.id; });
        if (it == report.flagged.end()) {
            JournalRow row;
            row.id = bill.id;
            row.at = bill.at;
            row.desk = bill.desk;
            row.operatorName = bill.operatorName;
            row.entry = BillEntry(JournalKind::Checkout, bill.machine, bill.start, bill.end,
                                  bill.used, bill.fee, bill.other, bill.total, bill.state);
            it = report.flagged.insert(
                std::upper_bound(report.flagged.begin(), report.flagged.end(), row.id,
                                 [](qint64 id, const JournalRow& r) { return id < r.id; }),
                row);
        }
        it->entry.note = QStringLiteral("金额无法计算，未计入合计");
    }

    // The chain over every row of the days (their first and last by the time index), their
    // links to the rows before, and the journal's ends.
    q->Close();
    q->SetSql(QStringLiteral("select min(id), max(id) from Tjournal where at>=? and at<?"));
    qint64 first = 0, last = 0;
    if (!q->ForEachRow(
            [&](const QString* r, int) {
                first = r[0].toLongLong();
                last = r[1].toLongLong();
            },
            {a, b}))
        return std::nullopt;
    report.check = first ? VerifyJournalRange(desk, first, last) : VerifyJournalRange(desk, 1, 0);
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
    // Packages after the bills, under their own heading; a report without any ends as before.
    if (!report.packages.empty()) {
        csv += QStringLiteral("\r\n包时,笔数,金额,值班员\r\n");
        for (const ReportPackageLine& line : report.packages)
            csv += QStringList{Csv(line.kind), QString::number(line.count),
                               CentsText(line.cents), Csv(AsText(line.shift))}
                       .join(QLatin1Char(',')) +
                   QStringLiteral("\r\n");
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

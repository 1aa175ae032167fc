#include "ledger/Report.h"

#include <QHash>
#include <QMap>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

#include "desk/Desk.h"
#include "record_store/DatabaseError.h"

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

namespace {

const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The report's days as the journal's times bound them, and its desk.
struct Days {
    QString a, b;      // from's midnight, and the midnight after to
    QString deskOnly;  // " and j.desk=?" with a desk, else empty
    QStringList desk;  // its value, or none
};

Days DaysOf(const Report& report) {
    Days d{QDateTime(report.from, QTime(0, 0)).toString(kStamp),
           QDateTime(report.to.addDays(1), QTime(0, 0)).toString(kStamp), {}, {}};
    if (!report.desk.isEmpty()) {
        d.deskOnly = QStringLiteral(" and j.desk=?");
        d.desk << report.desk;
    }
    return d;
}

// The opening of the shift a journal row j fell in: the last of its desk before it.
const QString kShiftOf = QStringLiteral(
    "(select o.id from Tjournal o where o.desk=j.desk and o.kind=? and o.id<j.id order by o.id "
    "desc limit 1)");

// Rows of a signed-in operator are theirs under the name they bear now, whatever it was when
// the row was written; rows from before accounts keep the name typed then.
std::optional<QHash<QString, QString>> AccountNames(Query* q) {
    QHash<QString, QString> names;
    q->Close();
    q->SetSql(QStringLiteral("select id, name from Taccount"));
    if (!q->ForEachRow([&](const QString* r, int) { names.insert(r[0], r[1]); }, {}))
        return std::nullopt;
    return names;
}

QString NameOf(const QHash<QString, QString>& names, const QString& account,
               const QString& typed) {
    return account.isEmpty() ? typed : names.value(account, typed);
}

// The months wholly inside from..to (first and last, "yyyy-MM"; none when first > last) and the
// days outside them (two ranges, "yyyy-MM-dd"; empty when from > to): a machine's sums are kept
// by month as well as by day.
struct Spans {
    QString firstMonth, lastMonth;
    std::array<std::pair<QString, QString>, 2> days;
};

Spans SpansOf(const QDate& from, const QDate& to) {
    const QDate whole = from.day() == 1 ? from : QDate(from.year(), from.month(), 1).addMonths(1);
    const QDate end = to.addDays(1).day() == 1 ? to : QDate(to.year(), to.month(), 1).addDays(-1);
    const auto day = [](const QDate& d) { return d.toString(Qt::ISODate); };
    const std::pair<QString, QString> none{QStringLiteral("1"), QStringLiteral("0")};
    if (whole > end) return {QStringLiteral("1"), QStringLiteral("0"), {{{day(from), day(to)}, none}}};
    return {whole.toString(QStringLiteral("yyyy-MM")),
            end.toString(QStringLiteral("yyyy-MM")),
            {{from < whole ? std::pair{day(from), day(whole.addDays(-1))} : none,
              end < to ? std::pair{day(end.addDays(1)), day(to)} : none}}};
}

bool ReadBills(Desk& desk, Report& report, int count,
               const QHash<QString, QString>& accountNames);

}  // namespace

std::optional<Report> LoadReport(Desk& desk, const QDate& from, const QDate& to,
                                 const QString& deskFilter) {
    Report report;
    report.from = from;
    report.to = to;
    report.desk = deskFilter;
    const Days days = DaysOf(report);
    const QString a = days.a, b = days.b;
    Query* q = desk.DataModule1.JournalQuery;
    const std::optional<QHash<QString, QString>> accountNames = AccountNames(q);
    if (!accountNames) return std::nullopt;
    const auto nameOf = [&](const QString& account, const QString& typed) {
        return NameOf(*accountNames, account, typed);
    };

    // The totals in fen, in one statement so they are of one moment: the kept sums of the days,
    // and the bills after the last one summed into them, summed and grouped by the engine.
    // Each line: what it is a total of, its key, the shift's desk and opening, fen, account, bills.
    QString sql =
        QStringLiteral("with b as materialized (select j.id, j.at, j.desk, j.operator, "
                       "j.machine, j.total_fen, ") +
        kShiftOf +
        QStringLiteral(" as shift, j.account from Tjournal j where j.kind=? and j.at>=? and "
                       "j.at<?") +
        days.deskOnly +
        QStringLiteral(
            " and j.total_fen is not null and j.id>(select upto from Tsumstamp)) "
            "select 'd', substr(at,1,10), '', sum(total_fen), '', count(*) from b group by "
            "substr(at,1,10) union all select 'h', substr(at,12,2), '', sum(total_fen), '', "
            "count(*) from b group by substr(at,12,2) union all select 'm', machine, '', "
            "sum(total_fen), '', count(*) from b group by machine union all select 's', "
            "operator, coalesce((select o.desk || ' ' || substr(o.at,1,16) from Tjournal o where "
            "o.id=b.shift), b.desk || ' '), sum(total_fen), account, count(*) from b group by "
            "operator, desk, shift, account");
    QStringList values = QStringList{JournalKind::ShiftOpen, JournalKind::Checkout, a, b} + days.desk;
    const QString fromDay = from.toString(Qt::ISODate), toDay = to.toString(Qt::ISODate);
    const QString deskOnly = deskFilter.isEmpty() ? QString() : QStringLiteral(" and desk=?");
    sql += QStringLiteral(" union all select 'd', day, '', sum(fen), '', sum(n) from Tsumhour "
                          "where day>=? and day<=?") +
           deskOnly +
           QStringLiteral(" group by day union all select 'h', hour, '', sum(fen), '', sum(n) "
                          "from Tsumhour where day>=? and day<=?") +
           deskOnly + QStringLiteral(" group by hour");
    values << fromDay << toDay << days.desk << fromDay << toDay << days.desk;
    const Spans spans = SpansOf(from, to);
    sql += QStringLiteral(" union all select 'm', machine, '', sum(fen), '', sum(n) from "
                          "Tsummachine where ((span='m' and period>=? and period<=?) or "
                          "(span='d' and ((period>=? and period<=?) or (period>=? and "
                          "period<=?))))") +
           deskOnly + QStringLiteral(" group by machine");
    values << spans.firstMonth << spans.lastMonth << spans.days[0].first << spans.days[0].second
           << spans.days[1].first << spans.days[1].second << days.desk;
    sql += QStringLiteral(" union all select 's', s.operator, coalesce((select o.desk || ' ' || "
                          "substr(o.at,1,16) from Tjournal o where o.id=s.shift), s.desk || ' '), "
                          "sum(s.fen), s.account, sum(s.n) from Tsumshift s where s.day>=? and "
                          "s.day<=?") +
           (deskFilter.isEmpty() ? QString() : QStringLiteral(" and s.desk=?")) +
           QStringLiteral(" group by s.operator, s.desk, s.shift, s.account");
    values << fromDay << toDay << days.desk;
    q->Close();
    q->SetSql(sql);
    QMap<QDate, qint64> perDay;
    QMap<QString, qint64> perShift, perMachine;
    const bool summed = q->ForEachRow(
        [&](const QString* r, int) {
            const qint64 cents = r[3].toLongLong();
            switch (r[0].at(0).unicode()) {
                case 'd':
                    perDay[QDate::fromString(r[1], Qt::ISODate)] += cents;
                    report.billCount += r[5].toLongLong();
                    break;
                case 'h': {
                    bool ok = false;
                    const int hour = r[1].toInt(&ok);
                    if (ok && hour >= 0 && hour < 24) report.perHour[size_t(hour)] += cents;
                    break;
                }
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

    // The bills whose amounts are not amounts (written by another tool, or before amounts were
    // bounded): in no total, never dropped silently: counted, and among the flagged below.
    std::vector<JournalRow> unsummable;
    q->Close();
    q->SetSql(QStringLiteral("select j.id, j.at, j.desk, j.operator, j.account, j.machine, "
                             "j.tstart, j.tend, j.stime, j.tmoney, j.tother, j.tsum, j.state from "
                             "Tjournal j where j.kind=? and j.at>=? and j.at<? and j.total_fen is "
                             "null") +
              days.deskOnly + QStringLiteral(" order by j.id"));
    if (!q->ForEachRow(
            [&](const QString* r, int) {
                JournalRow row;
                row.id = r[0].toLongLong();
                row.at = r[1];
                row.desk = r[2];
                row.operatorName = nameOf(r[4], r[3]);
                row.entry = BillEntry(JournalKind::Checkout, r[5], r[6], r[7], r[8], r[9], r[10],
                                      r[11], r[12]);
                unsummable.push_back(std::move(row));
            },
            QStringList{JournalKind::Checkout, a, b} + days.desk))
        return std::nullopt;
    report.unsummable = int(unsummable.size());
    report.billCount += report.unsummable;

    // The packages' money of the days, by kind and shift: its amount column (no total in fen).
    q->Close();
    q->SetSql(QStringLiteral("select j.kind, j.operator, j.account, j.desk, (select o.at from "
                             "Tjournal o where o.desk=j.desk and o.kind=? and o.id<j.id order by "
                             "o.id desc limit 1), j.amount from Tjournal j where j.kind in "
                             "(?, ?, ?, ?) and j.at>=? and j.at<?") +
              days.deskOnly + QStringLiteral(" order by j.id"));
    QStringList packageValues{JournalKind::ShiftOpen,     JournalKind::PackageSale,
                              JournalKind::PackageExtend, JournalKind::PackageVoid,
                              JournalKind::PackageRefund, a,
                              b};
    packageValues << days.desk;
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
    for (JournalRow& row : unsummable) {
        auto it = std::find_if(report.flagged.begin(), report.flagged.end(),
                               [&](const JournalRow& f) { return f.id == row.id; });
        if (it == report.flagged.end())
            it = report.flagged.insert(
                std::upper_bound(report.flagged.begin(), report.flagged.end(), row.id,
                                 [](qint64 id, const JournalRow& r) { return id < r.id; }),
                std::move(row));
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
    if (!ReadBills(desk, report, kReportPage, *accountNames)) return std::nullopt;
    return report;
}

namespace {

// The next page, the operators named by accountNames.
bool ReadBills(Desk& desk, Report& report, int count,
               const QHash<QString, QString>& accountNames) {
    if (qsizetype(report.bills.size()) >= report.billCount) return true;
    const Days days = DaysOf(report);
    Query* q = desk.DataModule1.JournalQuery;
    // In journal order from the last one read, each with the opening of its shift.
    q->Close();
    q->SetSql(QStringLiteral("select j.id, j.at, j.desk, j.operator, j.machine, j.tstart, "
                             "j.tend, j.stime, j.tmoney, j.tother, j.tsum, j.state, j.total_fen, ") +
              kShiftOf +
              QStringLiteral(" as shift, j.account, j.note from Tjournal j where j.kind=? and "
                             "j.at>=? and j.at<?") +
              days.deskOnly + QStringLiteral(" and j.id>? order by j.id limit %1").arg(count));
    const size_t before = report.bills.size();
    const bool read = q->ForEachRow(
        [&](const QString* r, int) {
            ReportBill bill;
            bill.id = r[0].toLongLong();
            bill.at = r[1];
            bill.desk = r[2];
            bill.operatorName = NameOf(accountNames, r[14], r[3]);
            bill.machine = r[4];
            bill.start = r[5];
            bill.end = r[6];
            bill.used = r[7];
            bill.fee = r[8];
            bill.other = r[9];
            bill.total = r[10];
            bill.state = r[11];
            // No total in fen: an amount that is not one. Listed, flagged, in no total.
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
        QStringList{JournalKind::ShiftOpen, JournalKind::Checkout, days.a, days.b} + days.desk +
            QStringList{QString::number(report.bills.empty() ? 0 : report.bills.back().id)});
    if (!read) {
        report.bills.resize(before);
        return false;
    }
    // Each new bill's shift as the totals name it.
    QHash<QString, QString> opened;  // opening id: desk and minute
    QStringList ids;
    for (size_t i = before; i < report.bills.size(); ++i)
        if (const QString& shift = report.bills[i].shift;
            !shift.isEmpty() && !opened.contains(shift)) {
            opened.insert(shift, QString());
            ids << shift;
        }
    for (qsizetype at = 0; at < ids.size(); at += 500) {
        const QStringList some = ids.mid(at, 500);
        q->Close();
        q->SetSql(QStringLiteral("select id, at from Tjournal where id in (") +
                  QStringList(some.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
                  QLatin1Char(')'));
        if (!q->ForEachRow([&](const QString* r, int) { opened[r[0]] = r[1].left(16); }, some)) {
            report.bills.resize(before);
            return false;
        }
    }
    for (size_t i = before; i < report.bills.size(); ++i) {
        ReportBill& bill = report.bills[i];
        bill.shift = ShiftLabel(bill.operatorName,
                                bill.desk + QLatin1Char(' ') + opened.value(bill.shift));
    }
    // Bills settled after the totals were read are not the report's: it is of one moment.
    if (qsizetype(report.bills.size()) > report.billCount) report.bills.resize(size_t(report.billCount));
    return true;
}

}  // namespace

bool ReadMoreBills(Desk& desk, Report& report, int count) {
    if (qsizetype(report.bills.size()) >= report.billCount) return true;
    const std::optional<QHash<QString, QString>> accountNames =
        AccountNames(desk.DataModule1.JournalQuery);
    return accountNames && ReadBills(desk, report, count, *accountNames);
}

bool ReadAllBills(Desk& desk, Report& report) {
    while (qsizetype(report.bills.size()) < report.billCount) {
        const size_t before = report.bills.size();
        if (!ReadMoreBills(desk, report, 5000)) return false;
        if (report.bills.size() == before) break;  // fewer than counted: nothing more to read
    }
    return true;
}

namespace {

// Rows are summed in a transaction of their own per this many journal rows, so a first fold of
// a long journal never holds the file's write lock long enough to fail another desk's write.
constexpr qint64 kFoldRows = 20000;

// The kept sums' transactions: begun, and committed or rolled back, with the error's text.
bool Begin(QSqlDatabase& db, QString* error) {
    if (db.transaction()) return true;
    if (error) *error = DatabaseErrorText(db.lastError());
    return false;
}

bool Commit(QSqlDatabase& db, QString* error) {
    if (db.commit()) return true;
    if (error) *error = DatabaseErrorText(db.lastError());
    db.rollback();
    return false;
}

// One transaction's fold; *more: rows remain after it.
bool FoldSome(const QString& connectionName, const QString& journalLock, bool* more,
              QString* error) {
    *more = false;
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (!Begin(db, error)) return false;
    QSqlQuery q(db);
    const auto failed = [&] {
        if (error) *error = DatabaseErrorText(q.lastError());
        q.finish();
        db.rollback();
        return false;
    };
    // No row is numbered meanwhile, so none below the newest is still to come.
    if (!journalLock.isEmpty() && !q.exec(journalLock)) return failed();
    if (!q.exec(QStringLiteral("select upto from Tsumstamp")) || !q.next()) return failed();
    const qint64 upto = q.value(0).toLongLong();
    if (!q.exec(QStringLiteral("select max(id) from Tjournal")) || !q.next()) return failed();
    const qint64 newest = q.value(0).toLongLong();
    const qint64 top = std::min(newest, upto + kFoldRows);
    *more = top < newest;
    q.finish();
    if (top <= upto) {
        db.rollback();
        return true;
    }
    // Whoever moves the mark first sums the rows; a second desk finds it moved and leaves them.
    if (!q.prepare(QStringLiteral("update Tsumstamp set upto=? where upto=?"))) return failed();
    q.addBindValue(top);
    q.addBindValue(upto);
    if (!q.exec()) return failed();
    if (q.numRowsAffected() != 1) {
        q.finish();
        db.rollback();
        return true;
    }
    const QString bills = QStringLiteral(
        " from Tjournal where kind=? and id>? and id<=? and total_fen is not null group by ");
    const QString add = QStringLiteral(" do update set n=%1.n+excluded.n, fen=%1.fen+excluded.fen");
    const QStringList statements{
        QStringLiteral("insert into Tsumhour (day, desk, hour, n, fen) select substr(at,1,10), "
                       "desk, substr(at,12,2), count(*), sum(total_fen)") +
            bills +
            QStringLiteral("substr(at,1,10), desk, substr(at,12,2) on conflict (day, desk, hour)") +
            add.arg(QStringLiteral("Tsumhour")),
        QStringLiteral("insert into Tsummachine (span, period, desk, machine, n, fen) select 'd', "
                       "substr(at,1,10), desk, machine, count(*), sum(total_fen)") +
            bills +
            QStringLiteral("substr(at,1,10), desk, machine on conflict (span, period, desk, "
                           "machine)") +
            add.arg(QStringLiteral("Tsummachine")),
        QStringLiteral("insert into Tsummachine (span, period, desk, machine, n, fen) select 'm', "
                       "substr(at,1,7), desk, machine, count(*), sum(total_fen)") +
            bills +
            QStringLiteral("substr(at,1,7), desk, machine on conflict (span, period, desk, "
                           "machine)") +
            add.arg(QStringLiteral("Tsummachine")),
    };
    for (const QString& statement : statements) {
        if (!q.prepare(statement)) return failed();
        q.addBindValue(JournalKind::Checkout);
        q.addBindValue(upto);
        q.addBindValue(top);
        if (!q.exec()) return failed();
    }
    if (!q.prepare(
            QStringLiteral("insert into Tsumshift (day, desk, shift, operator, account, n, fen) "
                           "select day, desk, shift, operator, account, count(*), sum(fen) from "
                           "(select substr(j.at,1,10) as day, j.desk as desk, coalesce(") +
            kShiftOf +
            QStringLiteral(", 0) as shift, j.operator as operator, j.account as account, "
                           "j.total_fen as fen from Tjournal j where j.kind=? and j.id>? and "
                           "j.id<=? and j.total_fen is not null) s where true group by day, desk, "
                           "shift, operator, account on conflict (day, desk, shift, operator, "
                           "account)") +
            add.arg(QStringLiteral("Tsumshift"))))
        return failed();
    q.addBindValue(JournalKind::ShiftOpen);
    q.addBindValue(JournalKind::Checkout);
    q.addBindValue(upto);
    q.addBindValue(top);
    if (!q.exec()) return failed();
    q.finish();
    if (Commit(db, error)) return true;
    *more = false;
    return false;
}

// The journal's settled bills grouped as each kept sum groups them, up to the mark, for the
// days of one month (a, b: its first and the next month's first midnight): {sums, journal}.
std::array<std::pair<QString, QString>, 4> SumShapes() {
    const QString bills = QStringLiteral(
        " from Tjournal j where j.kind=? and j.at>=? and j.at<? and j.total_fen is not null and "
        "j.id<=(select upto from Tsumstamp) group by ");
    return {{
        {QStringLiteral("select day, desk, hour, n, fen from Tsumhour where day>=? and day<?"),
         QStringLiteral("select substr(j.at,1,10), j.desk, substr(j.at,12,2), count(*), "
                        "sum(j.total_fen)") +
             bills + QStringLiteral("substr(j.at,1,10), j.desk, substr(j.at,12,2)")},
        {QStringLiteral("select period, desk, machine, n, fen from Tsummachine where span='d' and "
                        "period>=? and period<?"),
         QStringLiteral("select substr(j.at,1,10), j.desk, j.machine, count(*), sum(j.total_fen)") +
             bills + QStringLiteral("substr(j.at,1,10), j.desk, j.machine")},
        {QStringLiteral("select period, desk, machine, n, fen from Tsummachine where span='m' and "
                        "period>=? and period<?"),
         QStringLiteral("select substr(j.at,1,7), j.desk, j.machine, count(*), sum(j.total_fen)") +
             bills + QStringLiteral("substr(j.at,1,7), j.desk, j.machine")},
        {QStringLiteral("select day, desk, shift, operator, account, n, fen from Tsumshift where "
                        "day>=? and day<?"),
         QStringLiteral("select substr(j.at,1,10), j.desk, coalesce(") + kShiftOf +
             QStringLiteral(", 0), j.operator, j.account, count(*), sum(j.total_fen)") + bills +
             QStringLiteral("1, 2, 3, 4, 5")},
    }};
}

}  // namespace

bool FoldReportSums(const QString& connectionName, const QString& journalLock, QString* error) {
    for (bool more = true; more;)
        if (!FoldSome(connectionName, journalLock, &more, error)) return false;
    return true;
}

std::optional<bool> ReportSumsHold(const QString& connectionName, QString* error) {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const auto failed = [&]() -> std::optional<bool> {
        if (error) *error = DatabaseErrorText(q.lastError());
        return std::nullopt;
    };
    if (!q.prepare(QStringLiteral("select min(at), max(at) from Tjournal where kind=?")))
        return failed();
    q.addBindValue(JournalKind::Checkout);
    if (!q.exec() || !q.next()) return failed();
    const QDate first = QDate::fromString(q.value(0).toString().left(10), Qt::ISODate);
    const QDate last = QDate::fromString(q.value(1).toString().left(10), Qt::ISODate);
    q.finish();
    // Kept sums of days no bill was settled on hold nothing true.
    if (!q.prepare(QStringLiteral(
            "select (select count(*) from Tsumhour where day<? or day>?) + (select count(*) from "
            "Tsummachine where period<? or period>?) + (select count(*) from Tsumshift where "
            "day<? or day>?)")))
        return failed();
    const QString low = first.isValid() ? first.toString(QStringLiteral("yyyy-MM")) : QStringLiteral("1");
    const QString high = last.isValid() ? last.toString(Qt::ISODate) : QStringLiteral("0");
    for (int i = 0; i < 3; ++i) {
        q.addBindValue(low);
        q.addBindValue(high);
    }
    if (!q.exec() || !q.next()) return failed();
    if (q.value(0).toLongLong() != 0) return false;
    q.finish();
    if (!first.isValid() || !last.isValid()) return true;
    // A month at a time, each both ways and in one statement, so a fold meanwhile is seen whole
    // or not at all, and no statement holds the file long.
    const auto shapes = SumShapes();
    for (QDate month(first.year(), first.month(), 1); month <= last; month = month.addMonths(1)) {
        const QDate next = month.addMonths(1);
        const QString a = QDateTime(month, QTime(0, 0)).toString(kStamp);
        const QString b = QDateTime(next, QTime(0, 0)).toString(kStamp);
        for (size_t shape = 0; shape < shapes.size(); ++shape) {
            const bool byMonth = shape == 2;
            const QString from = byMonth ? month.toString(QStringLiteral("yyyy-MM"))
                                         : month.toString(Qt::ISODate);
            const QString to = byMonth ? next.toString(QStringLiteral("yyyy-MM"))
                                       : next.toString(Qt::ISODate);
            const auto& [kept, journal] = shapes[shape];
            if (!q.prepare(QStringLiteral("select (select count(*) from (") + kept +
                           QStringLiteral(" except ") + journal +
                           QStringLiteral(") x) + (select count(*) from (") + journal +
                           QStringLiteral(" except ") + kept + QStringLiteral(") y)")))
                return failed();
            QStringList values;
            const QStringList journalValues =
                shape == 3 ? QStringList{JournalKind::ShiftOpen, JournalKind::Checkout, a, b}
                           : QStringList{JournalKind::Checkout, a, b};
            values << from << to << journalValues << journalValues << from << to;
            for (const QString& v : values) q.addBindValue(v);
            if (!q.exec() || !q.next()) return failed();
            if (q.value(0).toLongLong() != 0) return false;
            q.finish();
        }
    }
    return true;
}

bool RebuildReportSums(const QString& connectionName, const QString& journalLock,
                       QString* error) {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (!Begin(db, error)) return false;
    {
        QSqlQuery q(db);
        for (const char* statement :
             {"delete from Tsumhour", "delete from Tsummachine", "delete from Tsumshift",
              "update Tsumstamp set upto=0"})
            if (!q.exec(QString::fromLatin1(statement))) {
                if (error) *error = DatabaseErrorText(q.lastError());
                q.finish();
                db.rollback();
                return false;
            }
    }
    if (!Commit(db, error)) return false;
    // Until the fold is through, reports sum the rows after the mark from the journal.
    return FoldReportSums(connectionName, journalLock, error);
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

QString RedoReportSumsIfChanged(const QString& connectionName, const QString& journalLock) {
    if (ReportSumsHold(connectionName, nullptr) != false) return {};
    QString error;
    if (RebuildReportSums(connectionName, journalLock, &error)) return kSumsRedoneText;
    return QStringLiteral("报表的合计记录与营业记录不符（数据库被其他程序改动过），重新计算没有成功：%1")
        .arg(error);
}

#include "ledger/Report.h"

#include <QMap>
#include <algorithm>

#include "desk/Desk.h"

namespace {

qint64 Cents(const QString& text) { return ParseCents(text).value_or(0); }

QString Csv(QString field) {
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
        field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
        field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + field + QLatin1Char('"');
    }
    return field;
}

QString Html(const QString& text) { return text.toHtmlEscaped(); }

template <class Key>
std::vector<std::pair<Key, qint64>> Sorted(const QMap<Key, qint64>& sums) {
    std::vector<std::pair<Key, qint64>> out;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it) out.emplace_back(it.key(), it.value());
    return out;
}

QString Table(const QStringList& head, const QList<QStringList>& rows) {
    QString html = QStringLiteral("<table border='1' cellspacing='0' cellpadding='3'><tr>");
    for (const QString& h : head) html += QStringLiteral("<th>%1</th>").arg(Html(h));
    html += QStringLiteral("</tr>");
    for (const QStringList& row : rows) {
        html += QStringLiteral("<tr>");
        for (const QString& cell : row) html += QStringLiteral("<td>%1</td>").arg(Html(cell));
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
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
        bill.operatorName = row.operatorName;
        bill.machine = row.entry.machine;
        bill.start = row.entry.start;
        bill.end = row.entry.end;
        bill.used = row.entry.used;
        bill.fee = row.entry.fee;
        bill.other = row.entry.other;
        bill.total = row.entry.total;
        bill.state = row.entry.state;
        bill.feeCents = Cents(bill.fee);
        bill.otherCents = Cents(bill.other);
        bill.totalCents = Cents(bill.total);
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

QStringList BillCells(const ReportBill& b) {
    return {b.at,
            b.machine,
            b.start,
            b.end,
            b.used,
            CentsText(b.feeCents),
            CentsText(b.otherCents),
            CentsText(b.totalCents),
            b.operatorName};
}

QByteArray ReportCsv(const Report& report) {
    QString csv = QStringLiteral(
        "时间,机器号,上机时间,下机时间,共用时间,上网费用,附加费,共需费用,值班员,前台\r\n");
    for (const ReportBill& b : report.bills) {
        const QStringList fields = BillCells(b) << b.desk;
        QStringList quoted;
        for (const QString& f : fields) quoted << Csv(f);
        csv += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + csv.toUtf8();
}

QString ReportHtml(const Report& report, const QString& cafeName) {
    QString html =
        QStringLiteral("<html><body><h2>%1 营业报表</h2><p>%2 至 %3%4</p>")
            .arg(Html(cafeName), report.from.toString(Qt::ISODate), report.to.toString(Qt::ISODate),
                 report.desk.isEmpty() ? QStringLiteral("，全部前台")
                                       : QStringLiteral("，前台：") + Html(report.desk));
    if (report.check.result != ChainCheck::Intact)
        html += QStringLiteral("<p><b>%1</b></p>").arg(Html(ChainAlteredText(report.check)));
    html += QStringLiteral("<p>合计：%1 元，共 %2 笔</p>")
                .arg(CentsText(report.totalCents))
                .arg(report.bills.size());
    QList<QStringList> bills;
    for (const ReportBill& b : report.bills) bills << BillCells(b);
    html +=
        QStringLiteral("<h3>结账明细</h3>") +
        Table({QStringLiteral("时间"), QStringLiteral("机器号"), QStringLiteral("上机时间"),
               QStringLiteral("下机时间"), QStringLiteral("共用时间"), QStringLiteral("上网费用"),
               QStringLiteral("附加费"), QStringLiteral("共需费用"), QStringLiteral("值班员")},
              bills);
    const auto sums = [&](const QString& title, const QString& head, const auto& list) {
        QList<QStringList> rows;
        for (const auto& [key, cents] : list) {
            if constexpr (std::is_same_v<std::decay_t<decltype(key)>, QDate>)
                rows << QStringList{key.toString(Qt::ISODate), CentsText(cents)};
            else
                rows << QStringList{key, CentsText(cents)};
        }
        html += QStringLiteral("<h3>%1</h3>").arg(title) +
                Table({head, QStringLiteral("金额（元）")}, rows);
    };
    sums(QStringLiteral("按日合计"), QStringLiteral("日期"), report.perDay);
    sums(QStringLiteral("按值班员/班次合计"), QStringLiteral("班次"), report.perShift);
    sums(QStringLiteral("按机器合计"), QStringLiteral("机器号"), report.perMachine);
    QList<QStringList> hours;
    for (int h = 0; h < 24; ++h)
        if (report.perHour[h])
            hours << QStringList{QStringLiteral("%1时").arg(h), CentsText(report.perHour[h])};
    html += QStringLiteral("<h3>按钟点合计</h3>") +
            Table({QStringLiteral("钟点"), QStringLiteral("金额（元）")}, hours);
    QList<QStringList> flagged;
    for (const JournalRow& r : report.flagged)
        flagged << QStringList{r.at,          r.entry.kind, r.entry.machine,
                               r.entry.total, r.entry.note, r.operatorName};
    html += QStringLiteral("<h3>需要注意的记录</h3>") +
            Table({QStringLiteral("时间"), QStringLiteral("事项"), QStringLiteral("机器号"),
                   QStringLiteral("金额"), QStringLiteral("说明"), QStringLiteral("值班员")},
                  flagged);
    return html + QStringLiteral("</body></html>");
}

QString ReceiptHtml(const ReportBill& bill, const QString& cafeName) {
    const QList<std::pair<QString, QString>> lines{
        {QStringLiteral("机器号"), bill.machine},
        {QStringLiteral("上机时间"), bill.start},
        {QStringLiteral("下机时间"), bill.at.left(11) + bill.end},
        {QStringLiteral("共用时间"), bill.used},
        {QStringLiteral("上网费用"), CentsText(bill.feeCents) + QStringLiteral(" 元")},
        {QStringLiteral("附加费"), CentsText(bill.otherCents) + QStringLiteral(" 元")},
        {QStringLiteral("共需费用"), CentsText(bill.totalCents) + QStringLiteral(" 元")},
        {QStringLiteral("值班员"), bill.operatorName},
        {QStringLiteral("单号"), QString::number(bill.id)},
    };
    QString html = QStringLiteral(
                       "<html><body><h3 align='center'>%1</h3><p align='center'>"
                       "小票</p><table>")
                       .arg(Html(cafeName));
    for (const auto& [label, value] : lines)
        html += QStringLiteral("<tr><td>%1：</td><td>%2</td></tr>").arg(Html(label), Html(value));
    return html + QStringLiteral("</table><p align='center'>谢谢光临</p></body></html>");
}

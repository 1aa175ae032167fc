#include "billing/Journal.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "billing/Messages.h"
#include "desk/Desk.h"

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

JournalRow RowAt(const Query* q, int i) {
    const auto f = [&](const char* column) { return q->FieldText(i, QString::fromLatin1(column)); };
    JournalRow row;
    row.id = f("id").toLongLong();
    row.at = f("at");
    row.desk = f("desk");
    row.operatorName = f("operator");
    row.entry.kind = f("kind");
    row.entry.machine = f("machine");
    row.entry.target = f("target");
    row.entry.start = f("tstart");
    row.entry.end = f("tend");
    row.entry.used = f("stime");
    row.entry.fee = f("tmoney");
    row.entry.other = f("tother");
    row.entry.total = f("tsum");
    row.entry.state = f("state");
    row.entry.amount = f("amount");
    row.entry.note = f("note");
    row.entry.flagged = f("flagged") == QStringLiteral("1");
    row.prev = f("prev");
    row.hash = f("hash");
    return row;
}

std::optional<std::vector<JournalRow>> Rows(Desk& desk, const QString& where,
                                            const QList<std::pair<QString, QString>>& params) {
    Query* q = desk.DataModule1.JournalQuery;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tjournal") + where);
    for (const auto& [name, value] : params) q->SetParam(name, value);
    if (!q->Open()) return std::nullopt;
    std::vector<JournalRow> rows;
    rows.reserve(q->RecordCount());
    for (int i = 0; i < q->RecordCount(); ++i) rows.push_back(RowAt(q, i));
    q->Close();
    return rows;
}

ChainCheck Altered(qint64 id, const QString& detail) { return {ChainCheck::Altered, id, detail}; }

// Each row's own hash and its link to the row before (prev: that row's hash, or the seed).
ChainCheck CheckLinks(const std::vector<JournalRow>& rows, qint64 firstId, QString prev) {
    qint64 expected = firstId;
    for (const JournalRow& row : rows) {
        if (row.id != expected)
            return Altered(expected, QStringLiteral("第%1条记录被删除").arg(expected));
        if (row.prev != prev)
            return Altered(row.id, QStringLiteral("第%1条记录与前一条接不上").arg(row.id));
        if (JournalHash(row) != row.hash)
            return Altered(row.id, QStringLiteral("第%1条记录的内容被改动").arg(row.id));
        prev = row.hash;
        ++expected;
    }
    return {};
}

// Rows counted from 1 without a gap, and the row this desk wrote last still there.
ChainCheck CheckComplete(Desk& desk) {
    Query* q = desk.DataModule1.JournalQuery;
    q->Close();
    q->SetSql(
        QStringLiteral("select count(*) as n, min(id) as first, max(id) as last from "
                       "Tjournal"));
    if (!q->Open()) return {ChainCheck::Unreadable, 0, q->LastError()};
    const qint64 n = q->FieldText(QStringLiteral("n")).toLongLong();
    const qint64 first = q->FieldText(QStringLiteral("first")).toLongLong();
    const qint64 last = q->FieldText(QStringLiteral("last")).toLongLong();
    q->Close();
    if (n > 0 && first != 1) return Altered(1, QStringLiteral("第1条记录被删除"));
    if (n > 0 && last - first + 1 != n) return Altered(first, QStringLiteral("有记录被删除或插入"));
    const auto [headId, headHash] = desk.JournalHead();
    if (headId > 0) {
        q->SetSql(QStringLiteral("select hash from Tjournal where id=:id"));
        q->SetParam(QStringLiteral("id"), QString::number(headId));
        if (!q->Open()) return {ChainCheck::Unreadable, 0, q->LastError()};
        const bool there =
            q->RecordCount() == 1 && q->FieldText(QStringLiteral("hash")) == headHash;
        q->Close();
        if (!there)
            return Altered(headId,
                           QStringLiteral("本机写入的第%1条记录不见了或被改动").arg(headId));
    }
    return {};
}

qint64 Cents(const QString& text) { return ParseCents(text).value_or(0); }

}  // namespace

QString JournalSeed() {
    return QString::fromLatin1(
        QCryptographicHash::hash("qinglan takings journal", QCryptographicHash::Sha256).toHex());
}

QString JournalHash(const JournalRow& row) {
    const JournalEntry& e = row.entry;
    const QStringList fields{QString::number(row.id),
                             row.at,
                             row.desk,
                             row.operatorName,
                             e.kind,
                             e.machine,
                             e.target,
                             e.start,
                             e.end,
                             e.used,
                             e.fee,
                             e.other,
                             e.total,
                             e.state,
                             e.amount,
                             e.note,
                             e.flagged ? QStringLiteral("1") : QStringLiteral("0")};
    const QString canonical = row.prev + QChar(0x1E) + fields.join(QChar(0x1F));
    return QString::fromLatin1(
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex());
}

JournalEntry BillEntry(const QString& kind, const QString& machine, const QString& start,
                       const QString& end, const QString& used, const QString& fee,
                       const QString& other, const QString& total, const QString& state) {
    JournalEntry entry;
    entry.kind = kind;
    entry.machine = machine;
    entry.start = start;
    entry.end = end;
    entry.used = used;
    entry.fee = fee;
    entry.other = other;
    entry.total = total;
    entry.state = state;
    return entry;
}

bool AppendJournal(Desk& desk, const JournalEntry& entry) {
    Query* q = desk.DataModule1.JournalQuery;
    q->Close();
    // Two desks must not both number their row after the same last one.
    if (const QString lock = desk.DataModule1.engine().JournalLock(); !lock.isEmpty()) {
        q->SetSql(lock);
        if (!q->Open()) return false;
        q->Close();
    }
    q->SetSql(QStringLiteral("select id, hash from Tjournal order by id desc limit 1"));
    if (!q->Open()) return false;
    JournalRow row;
    row.id = q->RecordCount() ? q->FieldText(QStringLiteral("id")).toLongLong() + 1 : 1;
    row.prev = q->RecordCount() ? q->FieldText(QStringLiteral("hash")) : JournalSeed();
    row.at = desk.clock.nowDateTime().toString(kTimeFormat);
    row.desk = desk.deskName;
    row.operatorName = desk.operatorName;
    row.entry = entry;
    row.hash = JournalHash(row);

    q->Close();
    q->SetSql(QStringLiteral(
        "insert into Tjournal (id, at, desk, operator, kind, machine, target, tstart, tend, "
        "stime, tmoney, tother, tsum, state, amount, note, flagged, prev, hash) values (:id, "
        ":at, :desk, :operator, :kind, :machine, :target, :tstart, :tend, :stime, :tmoney, "
        ":tother, :tsum, :state, :amount, :note, :flagged, :prev, :hash)"));
    const std::pair<const char*, QString> values[] = {
        {"id", QString::number(row.id)},
        {"at", row.at},
        {"desk", row.desk},
        {"operator", row.operatorName},
        {"kind", entry.kind},
        {"machine", entry.machine},
        {"target", entry.target},
        {"tstart", entry.start},
        {"tend", entry.end},
        {"stime", entry.used},
        {"tmoney", entry.fee},
        {"tother", entry.other},
        {"tsum", entry.total},
        {"state", entry.state},
        {"amount", entry.amount},
        {"note", entry.note},
        {"flagged", entry.flagged ? QStringLiteral("1") : QStringLiteral("0")},
        {"prev", row.prev},
        {"hash", row.hash},
    };
    for (const auto& [name, value] : values) q->SetParam(QString::fromLatin1(name), value);
    if (!q->ExecSQL()) return false;
    desk.NoteJournalAppend(row.id, row.hash);  // remembered once the transaction commits
    return true;
}

ChainCheck VerifyJournal(Desk& desk) {
    return VerifyJournalOn(desk.DataModule1.connectionName(), desk.JournalHead());
}

ChainCheck VerifyJournalOn(const QString& connectionName, std::pair<qint64, QString> head) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "select id, at, desk, operator, kind, machine, target, tstart, tend, stime, tmoney, "
            "tother, tsum, state, amount, note, flagged, prev, hash from Tjournal order by id")))
        return {ChainCheck::Unreadable, 0, q.lastError().text()};
    QString prev = JournalSeed();
    qint64 expected = 1;
    bool headSeen = head.first == 0;
    JournalRow row;
    JournalEntry& e = row.entry;
    while (q.next()) {
        row.id = q.value(0).toLongLong();
        row.at = q.value(1).toString();
        row.desk = q.value(2).toString();
        row.operatorName = q.value(3).toString();
        e.kind = q.value(4).toString();
        e.machine = q.value(5).toString();
        e.target = q.value(6).toString();
        e.start = q.value(7).toString();
        e.end = q.value(8).toString();
        e.used = q.value(9).toString();
        e.fee = q.value(10).toString();
        e.other = q.value(11).toString();
        e.total = q.value(12).toString();
        e.state = q.value(13).toString();
        e.amount = q.value(14).toString();
        e.note = q.value(15).toString();
        e.flagged = q.value(16).toString() == QStringLiteral("1");
        row.prev = q.value(17).toString();
        row.hash = q.value(18).toString();
        if (row.id != expected)
            return Altered(expected, QStringLiteral("第%1条记录被删除").arg(expected));
        if (row.prev != prev)
            return Altered(row.id, QStringLiteral("第%1条记录与前一条接不上").arg(row.id));
        if (JournalHash(row) != row.hash)
            return Altered(row.id, QStringLiteral("第%1条记录的内容被改动").arg(row.id));
        if (row.id == head.first) headSeen = row.hash == head.second;
        prev = row.hash;
        ++expected;
    }
    if (q.lastError().isValid()) return {ChainCheck::Unreadable, 0, q.lastError().text()};
    if (!headSeen)
        return Altered(head.first,
                       QStringLiteral("本机写入的第%1条记录不见了或被改动").arg(head.first));
    return {};
}

ChainCheck VerifyJournalRange(Desk& desk, qint64 firstId, qint64 lastId) {
    const ChainCheck complete = CheckComplete(desk);
    if (complete.result != ChainCheck::Intact || firstId > lastId) return complete;
    const auto rows = Rows(desk, QStringLiteral(" where id>=:a and id<=:b order by id"),
                           {{QStringLiteral("a"), QString::number(firstId - 1)},
                            {QStringLiteral("b"), QString::number(lastId)}});
    if (!rows) return {ChainCheck::Unreadable, 0, desk.DataModule1.JournalQuery->LastError()};
    if (firstId == 1) return CheckLinks(*rows, 1, JournalSeed());
    if (rows->empty() || rows->front().id != firstId - 1)
        return Altered(firstId - 1, QStringLiteral("第%1条记录被删除").arg(firstId - 1));
    const std::vector<JournalRow> range(rows->begin() + 1, rows->end());
    return CheckLinks(range, firstId, rows->front().hash);
}

QString ChainAlteredText(const ChainCheck& check) {
    if (check.result == ChainCheck::Unreadable)
        return QStringLiteral("营业记录无法读取：%1").arg(check.detail);
    return QStringLiteral("营业记录已被改动！第一条不符的记录：第%1条（%2）。请与店主联系。")
        .arg(check.firstBad)
        .arg(check.detail);
}

std::optional<std::vector<JournalRow>> ReadJournal(Desk& desk, const QDateTime& from,
                                                   const QDateTime& to) {
    return Rows(desk, QStringLiteral(" where at>=:a and at<:b order by id"),
                {{QStringLiteral("a"), from.toString(kTimeFormat)},
                 {QStringLiteral("b"), to.toString(kTimeFormat)}});
}

void ResumeJournal(Desk& desk) {
    if (!desk.DataModule1.SchemaError().isEmpty()) return;  // a file that cannot hold it
    if (const std::optional<Shift> shift = OpenShiftOf(desk))
        desk.operatorName = shift->operatorName;
    // A year of a busy café takes more than half a second to verify: the window opens at once
    // and the box, if any, comes when the check is done.
    const QString source = desk.DataModule1.connectionName();
    const auto head = desk.JournalHead();
    auto check = std::make_shared<ChainCheck>();
    desk.RunInBackground(
        [source, head, check] {
            const QString name = source + QStringLiteral("-journal-check");
            {
                QSqlDatabase db = QSqlDatabase::cloneDatabase(source, name);
                *check = db.open() ? VerifyJournalOn(name, head)
                                   : ChainCheck{ChainCheck::Unreadable, 0, db.lastError().text()};
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        },
        [&desk, check] {
            if (check->result != ChainCheck::Intact) desk.prompts.message(ChainAlteredText(*check));
        });
}

// --- Shifts ---

std::optional<Shift> OpenShiftOf(Desk& desk) {
    const auto rows = Rows(desk,
                           QStringLiteral(" where desk=:d and (kind=:o or kind=:c) order by id "
                                          "desc limit 1"),
                           {{QStringLiteral("d"), desk.deskName},
                            {QStringLiteral("o"), JournalKind::ShiftOpen},
                            {QStringLiteral("c"), JournalKind::ShiftClose}});
    if (!rows || rows->empty() || rows->front().entry.kind != JournalKind::ShiftOpen)
        return std::nullopt;
    const JournalRow& open = rows->front();
    return Shift{open.id, open.operatorName, open.at, Cents(open.entry.amount)};
}

bool OpenShift(Desk& desk, const QString& operatorName, const QString& floatText) {
    const QString name = operatorName.trimmed();
    if (name.isEmpty()) {
        desk.prompts.message(QStringLiteral("请输入值班员的名字。"));
        return false;
    }
    const std::optional<qint64> opening = ParseCents(floatText);
    if (!opening || *opening < 0) {
        desk.prompts.message(QStringLiteral("备用金必须是不小于0的金额，例如 200 或 150.5。"));
        return false;
    }
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) {
        desk.prompts.message(BillingText::DbContact);
        return false;
    }
    if (const std::optional<Shift> open = OpenShiftOf(desk)) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("本机已有一个班次（值班员：%1）没有交班，请先交班。")
                                 .arg(open->operatorName));
        return false;
    }
    const QString before = desk.operatorName;
    desk.operatorName = name;
    JournalEntry entry;
    entry.kind = JournalKind::ShiftOpen;
    entry.amount = CentsText(*opening);
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.operatorName = before;
        desk.prompts.message(BillingText::DbContact);
        return false;
    }
    return true;
}

namespace {

// The float plus the shift's takings; no box. nullopt when no shift is open or it cannot be read.
std::optional<ShiftCount> Count(Desk& desk, qint64 counted) {
    const std::optional<Shift> shift = OpenShiftOf(desk);
    if (!shift) return std::nullopt;
    const auto taken = Rows(desk, QStringLiteral(" where desk=:d and kind=:k and id>:i"),
                            {{QStringLiteral("d"), desk.deskName},
                             {QStringLiteral("k"), JournalKind::Checkout},
                             {QStringLiteral("i"), QString::number(shift->openId)}});
    if (!taken) return std::nullopt;
    ShiftCount count;
    count.expectedCents = shift->floatCents;
    for (const JournalRow& row : *taken) count.expectedCents += Cents(row.entry.total);
    count.countedCents = counted;
    count.differenceCents = counted - count.expectedCents;
    return count;
}

std::optional<qint64> CountedCash(Desk& desk, const QString& countedText) {
    const std::optional<qint64> counted = ParseCents(countedText);
    if (countedText.trimmed().isEmpty() || !counted || *counted < 0) {
        desk.prompts.message(QStringLiteral("请输入清点出的现金金额，例如 523.5。"));
        return std::nullopt;
    }
    return counted;
}

}  // namespace

std::optional<ShiftCount> CountShift(Desk& desk, const QString& countedText) {
    const std::optional<qint64> counted = CountedCash(desk, countedText);
    if (!counted) return std::nullopt;
    const std::optional<ShiftCount> count = Count(desk, *counted);
    if (!count) desk.prompts.message(QStringLiteral("本机现在没有开着的班次。"));
    return count;
}

bool CloseShift(Desk& desk, const QString& countedText, const QString& note) {
    const std::optional<qint64> counted = CountedCash(desk, countedText);
    if (!counted) return false;
    Transaction transaction(desk.DataModule1);
    // Counted inside the lock, so no checkout of this desk slips in between.
    const std::optional<ShiftCount> count =
        transaction.BeginWrite() ? Count(desk, *counted) : std::nullopt;
    if (!count) {
        transaction.Rollback();  // never held across a box
        desk.prompts.message(QStringLiteral("本机现在没有开着的班次，或营业记录无法读取。"));
        return false;
    }
    if (count->differenceCents != 0 && note.trimmed().isEmpty()) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("现金与应有金额相差 %1 元，请在备注中写明原因。")
                                 .arg(CentsText(count->differenceCents)));
        return false;
    }
    JournalEntry entry;
    entry.kind = JournalKind::ShiftClose;
    entry.amount = CentsText(count->countedCents);
    entry.total = CentsText(count->expectedCents);
    entry.other = CentsText(count->differenceCents);
    entry.note = note.trimmed();
    entry.flagged = count->differenceCents != 0;
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(BillingText::DbContact);
        return false;
    }
    desk.operatorName.clear();
    return true;
}

#include "ledger/Journal.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <sodium.h>

#include "desk/Desk.h"
#include "record_store/DatabaseError.h"
#include "record_store/Schema.h"

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
    row.totalFen = f("total_fen");
    row.version = f("v").toInt() >= 2 ? 2 : 1;
    row.account = f("account");
    row.approver = f("approver");
    return row;
}

ChainCheck Altered(qint64 id, const QString& detail) { return {ChainCheck::Altered, id, detail}; }

QString FenOf(const JournalEntry& e) { return JournalFenText(e.fee, e.other, e.total); }

// What the chain checks read of a row, in this order (ChainRow takes them by position).
const QString kChainColumns = QStringLiteral(
    "id, at, desk, operator, kind, machine, target, tstart, tend, stime, tmoney, tother, tsum, "
    "state, amount, note, flagged, prev, hash, total_fen, v, account, approver");

JournalRow ChainRow(const QString* r) {
    JournalRow row;
    JournalEntry& e = row.entry;
    row.id = r[0].toLongLong();
    row.at = r[1];
    row.desk = r[2];
    row.operatorName = r[3];
    e.kind = r[4];
    e.machine = r[5];
    e.target = r[6];
    e.start = r[7];
    e.end = r[8];
    e.used = r[9];
    e.fee = r[10];
    e.other = r[11];
    e.total = r[12];
    e.state = r[13];
    e.amount = r[14];
    e.note = r[15];
    e.flagged = r[16] == QStringLiteral("1");
    row.prev = r[17];
    row.hash = r[18];
    row.totalFen = r[19];
    row.version = r[20].toInt() >= 2 ? 2 : 1;
    row.account = r[21];
    row.approver = r[22];
    return row;
}

ChainCheck Broken(qint64 id, const QString& detail) { return {ChainCheck::SealBroken, id, detail}; }

bool Verifies(const QByteArray& signature, const QByteArray& message, const QByteArray& key) {
    return key.size() == crypto_sign_PUBLICKEYBYTES && signature.size() == crypto_sign_BYTES &&
           crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char*>(signature.constData()),
               reinterpret_cast<const unsigned char*>(message.constData()),
               size_t(message.size()), reinterpret_cast<const unsigned char*>(key.constData())) == 0;
}

// The seal keys the database holds, oldest first. The first came with sign-in (since 0); each
// later one with a change of the owner's password, at the journal row (since) that both the
// old and the new key signed. Old keys stay: the seals they made keep holding.
class SealKeyring {
  public:
    explicit SealKeyring(QSqlDatabase db) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select since, publickey from Tsealkey order by since"))) return;
        while (q.next())
            m_keys.emplace_back(q.value(0).toLongLong(),
                                QByteArray::fromHex(q.value(1).toString().toLatin1()));
    }
    bool empty() const { return m_keys.empty(); }
    QString CurrentFingerprint() const {
        return m_keys.empty() ? QString() : KeyFingerprint(m_keys.back().second);
    }
    QStringList History() const {
        QStringList prints;
        for (const auto& key : m_keys) prints << KeyFingerprint(key.second);
        return prints;
    }
    // A seal row holds when it seals the row just before it, whose hash it carries as its link,
    // with a signature of the key in force then; nothing else about the rows before is trusted.
    // A change of password also needs the old key's word for the new one.
    ChainCheck Check(const JournalRow& row) const {
        const QByteArray message = SealMessage(row.id - 1, row.prev);
        const QStringList signatures = row.entry.note.split(QLatin1Char(' '));
        const QByteArray before = KeyBefore(row.id);
        if (before.isEmpty())
            return Broken(row.id, QStringLiteral("第%1条是%2，但数据库中没有封账的公钥")
                                      .arg(row.id)
                                      .arg(row.entry.kind));
        bool holds = row.entry.target == QString::number(row.id - 1);
        if (row.entry.kind == JournalKind::SealKeyChange) {
            const QByteArray after = KeyAt(row.id);
            holds = holds && signatures.size() == 2 &&
                    Verifies(QByteArray::fromHex(signatures[0].toLatin1()), message, after) &&
                    Verifies(QByteArray::fromHex(signatures[1].toLatin1()),
                             KeyChangeMessage(message, after), before);
        } else {
            holds = holds && signatures.size() == 1 &&
                    Verifies(QByteArray::fromHex(signatures[0].toLatin1()), message, before);
        }
        if (!holds)
            return Broken(row.id, QStringLiteral("第%1条%2对不上：封账之前的记录被改动过，"
                                                 "或者封账的公钥被换过")
                                      .arg(row.id)
                                      .arg(row.entry.kind));
        return {};
    }
    // After every change row has been checked: a key no change of password brought in (or two
    // first keys) was put there by someone else.
    ChainCheck CheckAllBroughtIn(qint64 changesSeen) const {
        if (m_keys.empty()) return {};
        if (m_keys.front().first != 0 || qint64(m_keys.size()) != changesSeen + 1)
            return Broken(0, QStringLiteral("数据库中有封账的公钥不是店主改密码时换上的"));
        return {};
    }

  private:
    // The key a seal at row id was made with: the newest that came in before it.
    QByteArray KeyBefore(qint64 id) const {
        QByteArray key;
        for (const auto& [since, publicKey] : m_keys)
            if (since < id) key = publicKey;
        return key;
    }
    QByteArray KeyAt(qint64 id) const {
        for (const auto& [since, publicKey] : m_keys)
            if (since == id) return publicKey;
        return {};
    }
    std::vector<std::pair<qint64, QByteArray>> m_keys;
};

bool IsSeal(const QString& kind) {
    return kind == JournalKind::Seal || kind == JournalKind::SealKeyChange;
}

// Each row's own hash and its link to the row before (prev: that row's hash, or the seed).
ChainCheck CheckLinks(const std::vector<JournalRow>& rows, qint64 firstId, QString prev) {
    qint64 expected = firstId;
    for (const JournalRow& row : rows) {
        if (row.id != expected)
            return Altered(expected, QStringLiteral("第%1条记录被删除").arg(expected));
        if (row.prev != prev)
            return Altered(row.id, QStringLiteral("第%1条记录与前一条接不上").arg(row.id));
        if (JournalHash(row) != row.hash || row.totalFen != FenOf(row.entry))
            return Altered(row.id, QStringLiteral("第%1条记录的内容被改动").arg(row.id));
        prev = row.hash;
        ++expected;
    }
    return {};
}

// The first row still 1 and the row this desk wrote last still there: look-ups by the key, so
// a report's check does not grow with the journal (a gap elsewhere is the chain checks').
// Says only whether all fits.
ChainCheck CheckComplete(Desk& desk) {
    Query* q = desk.DataModule1.JournalQuery;
    q->Close();
    q->SetSql(QStringLiteral("select min(id) as first from Tjournal"));
    if (!q->Open()) return {ChainCheck::Unreadable, 0, q->LastError()};
    const QString first = q->FieldText(QStringLiteral("first"));
    q->Close();
    if (!first.isEmpty() && first.toLongLong() != 1) return Altered(0, {});
    const JournalMark head = desk.JournalHead();
    if (head.id > 0) {
        q->SetSql(QStringLiteral("select hash from Tjournal where id=:id"));
        q->SetParam(QStringLiteral("id"), QString::number(head.id));
        if (!q->Open()) return {ChainCheck::Unreadable, 0, q->LastError()};
        const bool there = q->RecordCount() == 1 && q->FieldText(QStringLiteral("hash")) == head.hash;
        q->Close();
        if (!there) return Altered(0, {});
    }
    return {};
}

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
    QStringList covered = fields;
    if (row.version >= 2) covered << QStringLiteral("v2") << row.account << row.approver;
    const QString canonical = row.prev + QChar(0x1E) + covered.join(QChar(0x1F));
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

namespace {

// The journal locked, the next row numbered and linked: complete is given the row to finish
// (a seal signs the row before) and may refuse it. False when nothing was written.
bool AppendRow(Desk& desk, const JournalEntry& entry,
               const std::function<bool(JournalRow& row)>& complete) {
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
    row.account = desk.accountId;
    row.approver = desk.approverId;
    if (complete && !complete(row)) {
        q->Close();
        return false;
    }
    row.hash = JournalHash(row);

    q->Close();
    q->SetSql(QStringLiteral(
        "insert into Tjournal (id, at, desk, operator, kind, machine, target, tstart, tend, "
        "stime, tmoney, tother, tsum, state, amount, note, flagged, prev, hash, v, account, "
        "approver, total_fen) values (:id, :at, :desk, :operator, :kind, :machine, :target, "
        ":tstart, :tend, :stime, :tmoney, :tother, :tsum, :state, :amount, :note, :flagged, "
        ":prev, :hash, :v, :account, :approver, cast(nullif(:fen, '') as bigint))"));
    const std::pair<const char*, QString> values[] = {
        {"id", QString::number(row.id)},
        {"at", row.at},
        {"desk", row.desk},
        {"operator", row.operatorName},
        {"kind", row.entry.kind},
        {"machine", row.entry.machine},
        {"target", row.entry.target},
        {"tstart", row.entry.start},
        {"tend", row.entry.end},
        {"stime", row.entry.used},
        {"tmoney", row.entry.fee},
        {"tother", row.entry.other},
        {"tsum", row.entry.total},
        {"state", row.entry.state},
        {"amount", row.entry.amount},
        {"note", row.entry.note},
        {"flagged", row.entry.flagged ? QStringLiteral("1") : QStringLiteral("0")},
        {"prev", row.prev},
        {"hash", row.hash},
        {"v", QString::number(row.version)},
        {"account", row.account},
        {"approver", row.approver},
        {"fen", FenOf(row.entry)},
    };
    for (const auto& [name, value] : values) q->SetParam(QString::fromLatin1(name), value);
    if (!q->ExecSQL()) return false;
    desk.NoteJournalAppend({row.id, row.hash, row.at});  // remembered once it is committed
    return true;
}

}  // namespace

bool AppendJournal(Desk& desk, const JournalEntry& entry) { return AppendRow(desk, entry, {}); }

QByteArray SealMessage(qint64 id, const QString& hash) {
    return QStringLiteral("qinglan journal seal\x1F%1\x1F%2").arg(id).arg(hash).toUtf8();
}

QString KeyFingerprint(const QByteArray& publicKey) {
    const QString hex = QString::fromLatin1(
        QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toHex().left(16).toUpper());
    return QStringList{hex.mid(0, 4), hex.mid(4, 4), hex.mid(8, 4), hex.mid(12, 4)}.join(
        QLatin1Char('-'));
}

QByteArray KeyChangeMessage(const QByteArray& sealMessage, const QByteArray& newPublicKey) {
    return sealMessage + '\x1F' + newPublicKey.toHex();
}

std::optional<JournalMark> AppendSeal(Desk& desk, const QString& kind, const QString& fingerprint,
                                      const std::function<QString(const QByteArray&)>& sign) {
    JournalEntry entry;
    entry.kind = kind;
    entry.state = fingerprint;
    JournalMark sealed;
    const bool written = AppendRow(desk, entry, [&](JournalRow& row) {
        if (row.id <= 1) return false;  // nothing to seal
        row.entry.note = sign(SealMessage(row.id - 1, row.prev));
        if (row.entry.note.isEmpty()) return false;
        row.entry.target = QString::number(row.id - 1);
        sealed = {row.id - 1, row.prev, {}};
        return true;
    });
    if (!written) return std::nullopt;
    return sealed;
}

ChainCheck VerifyJournal(Desk& desk) {
    return VerifyJournalOn(desk.DataModule1.connectionName(), desk.JournalHead());
}

namespace {
ChainCheck VerifyJournalAfterRow(const QString& connectionName, std::pair<qint64, QString> from,
                                 const JournalMark& head, std::pair<qint64, QString>* verified);
}  // namespace

ChainCheck VerifyJournalOn(const QString& connectionName, const JournalMark& head) {
    return VerifyJournalAfter(connectionName, {0, QString()}, head, nullptr);
}

ChainCheck VerifyJournalAfter(const QString& connectionName, std::pair<qint64, QString> from,
                              const JournalMark& head, std::pair<qint64, QString>* verified) {
    // When the rows after from do not fit, the whole chain is read, so the first row that does
    // not fit is named wherever it lies, and a file that merely ends early is told as such.
    if (from.first > 0) {
        const ChainCheck since = VerifyJournalAfterRow(connectionName, from, head, verified);
        if (since.result == ChainCheck::Intact || since.result == ChainCheck::Unreadable)
            return since;
        return VerifyJournalAfterRow(connectionName, {0, QString()}, head, verified);
    }
    return VerifyJournalAfterRow(connectionName, from, head, verified);
}

namespace {

ChainCheck VerifyJournalAfterRow(const QString& connectionName, std::pair<qint64, QString> from,
                                 const JournalMark& head, std::pair<qint64, QString>* verified) {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    // Before the rows: PostgreSQL streams a forward-only query, and the connection takes no
    // other statement until it is read to the end.
    const SealKeyring keys(db);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const auto unreadable = [&] {
        return ChainCheck{ChainCheck::Unreadable, 0, DatabaseErrorText(q.lastError())};
    };
    // A row's hash, or empty when it is not there: one look-up by the key, whatever the size.
    const auto hashOf = [&](qint64 id, QString* hash) {
        q.prepare(QStringLiteral("select hash from Tjournal where id=?"));
        q.addBindValue(id);
        if (!q.exec()) return false;
        *hash = q.next() ? q.value(0).toString() : QString();
        q.finish();
        return !q.lastError().isValid();
    };
    constexpr int kColumns = 23;
    QString texts[kColumns];
    const auto readRow = [&] {
        for (int c = 0; c < kColumns; ++c) texts[c] = q.value(c).toString();
        return ChainRow(texts);
    };
    qint64 seals = 0;
    qint64 changes = 0;
    // A seal holds only by the key in force when it was made: the seals up to the verified row
    // are read by their kind and held to the keys the database has now, so a key replaced or
    // slipped in since is found however old the seals it breaks.
    const auto checkSeal = [&](const JournalRow& row) {
        const ChainCheck seal = keys.Check(row);
        if (seal.result != ChainCheck::Intact) return seal;
        ++seals;
        if (row.entry.kind == JournalKind::SealKeyChange) ++changes;
        return ChainCheck{};
    };
    QString hash;
    if (from.first > 0) {
        if (!hashOf(from.first, &hash)) return unreadable();
        if (hash != from.second)
            return Altered(from.first, QStringLiteral("第%1条记录被删除或被改动").arg(from.first));
        // By the kind index, whatever the journal's size.
        q.prepare(QStringLiteral("select ") + kChainColumns +
                  QStringLiteral(" from Tjournal where id in (select id from Tjournal where kind "
                                 "in (?, ?) and +id<=?) order by id"));
        q.addBindValue(JournalKind::Seal);
        q.addBindValue(JournalKind::SealKeyChange);
        q.addBindValue(from.first);
        if (!q.exec()) return unreadable();
        while (q.next())
            if (const ChainCheck seal = checkSeal(readRow()); seal.result != ChainCheck::Intact)
                return seal;
        if (q.lastError().isValid()) return unreadable();
        q.finish();
    }
    if (!q.exec(QStringLiteral("select min(id) from Tjournal"))) return unreadable();
    if (q.next() && !q.value(0).isNull() && q.value(0).toLongLong() != 1)
        return Altered(1, QStringLiteral("第1条记录被删除"));
    q.finish();
    // From the verified row itself: its content must still give its hash.
    q.prepare(QStringLiteral("select ") + kChainColumns +
              QStringLiteral(" from Tjournal where id>=? order by id"));
    q.addBindValue(std::max<qint64>(from.first, 1));
    if (!q.exec()) return unreadable();
    QString prev = from.first > 0 ? from.second : JournalSeed();
    qint64 expected = from.first > 0 ? from.first : 1;
    bool headSeen = head.id <= from.first;
    while (q.next()) {
        const JournalRow row = readRow();
        if (row.id != expected)
            return Altered(expected, QStringLiteral("第%1条记录被删除").arg(expected));
        if (row.id == from.first) {  // the verified row: its hash as remembered, its content
            if (JournalHash(row) != row.hash || row.totalFen != FenOf(row.entry))
                return Altered(row.id, QStringLiteral("第%1条记录的内容被改动").arg(row.id));
            ++expected;
            continue;
        }
        if (row.prev != prev)
            return Altered(row.id, QStringLiteral("第%1条记录与前一条接不上").arg(row.id));
        if (JournalHash(row) != row.hash || row.totalFen != FenOf(row.entry))
            return Altered(row.id, QStringLiteral("第%1条记录的内容被改动").arg(row.id));
        if (IsSeal(row.entry.kind))
            if (const ChainCheck seal = checkSeal(row); seal.result != ChainCheck::Intact)
                return seal;
        if (row.id == head.id) {
            if (row.hash != head.hash)
                return Altered(head.id, QStringLiteral("本机写入的第%1条记录被改动").arg(head.id));
            headSeen = true;
        }
        prev = row.hash;
        ++expected;
    }
    if (q.lastError().isValid()) return unreadable();
    q.finish();
    if (const ChainCheck brought = keys.CheckAllBroughtIn(changes);
        brought.result != ChainCheck::Intact)
        return brought;
    // The row this desk wrote last, when it lies before the rows checked now.
    if (head.id > 0 && head.id <= from.first) {
        if (!hashOf(head.id, &hash)) return unreadable();
        if (!hash.isEmpty() && hash != head.hash)
            return Altered(head.id, QStringLiteral("本机写入的第%1条记录被改动").arg(head.id));
        headSeen = !hash.isEmpty();
    }
    // Every row fits and the file simply ends earlier than this desk's last row.
    ChainCheck check =
        headSeen ? ChainCheck{ChainCheck::Intact, 0, {}, 0, seals}
                 : ChainCheck{ChainCheck::Shorter, head.id, head.at, expected - 1, seals};
    check.keyFingerprint = keys.CurrentFingerprint();
    check.keyHistory = keys.History();
    if (headSeen && verified)
        *verified = expected - 1 > from.first ? std::pair{expected - 1, prev} : from;
    return check;
}

}  // namespace

std::pair<qint64, QString> VerifiedJournalRow(Desk& desk) {
    const QStringList parts =
        desk.DatabaseSetting(QStringLiteral("journalVerified")).split(QLatin1Char(' '));
    if (parts.size() != 2) return {0, QString()};
    return {parts[0].toLongLong(), parts[1]};
}

void SetVerifiedJournalRow(Desk& desk, const std::pair<qint64, QString>& row) {
    desk.SetDatabaseSetting(QStringLiteral("journalVerified"),
                            QStringLiteral("%1 %2").arg(row.first).arg(row.second));
}

ChainCheck VerifyJournalRange(Desk& desk, qint64 firstId, qint64 lastId) {
    // The quick checks say only whether all fits; when it does not, the whole chain is read
    // so the first row that does not fit is named, wherever it lies (a row deleted before the
    // range, rows renumbered after it).
    const auto whole = [&] { return VerifyJournal(desk); };
    const ChainCheck complete = CheckComplete(desk);
    if (complete.result == ChainCheck::Unreadable) return complete;
    if (complete.result != ChainCheck::Intact) return whole();
    if (firstId > lastId) return complete;
    // Rows up to the verified one were checked as a chain (at start, weekly, on demand): of
    // them only that row is read again, for its hash; the rows after it up to the range's last
    // are checked from it, as the start checks them. Without a verified row, the range's rows
    // and their link to the row before.
    const std::pair<qint64, QString> verified = VerifiedJournalRow(desk);
    const bool fromVerified = verified.first > 0;
    const qint64 from = fromVerified ? verified.first : firstId - 1;
    const qint64 to = std::max(from, lastId);
    Query* q = desk.DataModule1.JournalQuery;
    q->Close();
    q->SetSql(QStringLiteral("select ") + kChainColumns +
              QStringLiteral(" from Tjournal where id>=? and id<=? order by id"));
    std::vector<JournalRow> rows;
    if (!q->ForEachRow([&](const QString* r, int) { rows.push_back(ChainRow(r)); },
                       {QString::number(from), QString::number(to)}))
        return {ChainCheck::Unreadable, 0, q->LastError()};
    ChainCheck range;
    if (from == 0) {
        range = CheckLinks(rows, 1, JournalSeed());
    } else if (rows.empty() || rows.front().id != from ||
               (fromVerified && (rows.front().hash != verified.second ||
                                 JournalHash(rows.front()) != rows.front().hash ||
                                 rows.front().totalFen != FenOf(rows.front().entry)))) {
        range = Altered(from, {});
    } else {
        const std::vector<JournalRow> after(rows.begin() + 1, rows.end());
        range = CheckLinks(after, from + 1, rows.front().hash);
    }
    if (range.result != ChainCheck::Intact) return whole();
    // Every seal, wherever it lies: the rows before it may have been rewritten by the chain's
    // own rule, which only the signature over the row before finds. Seals and the rows they
    // seal are found by the kind index, so this does not grow with the journal.
    const auto sealed = SelectJournal(
        desk, QStringLiteral(" where id in (select id from Tjournal where kind in (:k, :c) union "
                             "all select id-1 from Tjournal where kind in (:k2, :c2)) order by id"),
        {{QStringLiteral("k"), JournalKind::Seal},
         {QStringLiteral("c"), JournalKind::SealKeyChange},
         {QStringLiteral("k2"), JournalKind::Seal},
         {QStringLiteral("c2"), JournalKind::SealKeyChange}});
    if (!sealed) return {ChainCheck::Unreadable, 0, desk.DataModule1.JournalQuery->LastError()};
    const SealKeyring keys(QSqlDatabase::database(desk.DataModule1.connectionName(), false));
    qint64 changes = 0;
    for (std::size_t i = 0; i < sealed->size(); ++i) {
        const JournalRow& row = (*sealed)[i];
        if (!IsSeal(row.entry.kind)) continue;
        const bool linked = i > 0 && (*sealed)[i - 1].id == row.id - 1 &&
                            (*sealed)[i - 1].hash == row.prev && JournalHash(row) == row.hash;
        if (!linked || keys.Check(row).result != ChainCheck::Intact) return whole();
        if (row.entry.kind == JournalKind::SealKeyChange) ++changes;
    }
    if (keys.CheckAllBroughtIn(changes).result != ChainCheck::Intact) return whole();
    // The chain is now known whole up to the range's last row.
    if (fromVerified && rows.back().id > verified.first)
        SetVerifiedJournalRow(desk, {rows.back().id, rows.back().hash});
    return range;
}

QString SealsHeldText(const ChainCheck& check) {
    if (check.seals == 0) return {};
    return QStringLiteral("；%1次店主封账都对得上，公钥指纹 %2").arg(check.seals).arg(check.keyFingerprint);
}

QString ChainAlteredText(const ChainCheck& check) {
    if (check.result == ChainCheck::Unreadable)
        return QStringLiteral("营业记录无法读取：%1").arg(check.detail);
    if (check.result == ChainCheck::Shorter)
        return QStringLiteral(
                   "数据库中的营业记录比本机写入的少：本机%1写入了第%2条记录，数据库中现在只有"
                   "%3条。可能是换用了较早的备份，或者断电丢失了最后的记录。请与店主核对这段时间"
                   "的账。")
            .arg(check.detail.isEmpty() ? QString() : QStringLiteral("在 %1 ").arg(check.detail))
            .arg(check.firstBad)
            .arg(check.rowsInFile);
    if (check.result == ChainCheck::SealBroken)
        return QStringLiteral("店主封账不符！%1。封账之前的营业记录不可信，请与店主联系。")
            .arg(check.detail);
    return QStringLiteral("营业记录已被改动！第一条不符的记录：第%1条（%2）。请与店主联系。")
        .arg(check.firstBad)
        .arg(check.detail);
}

std::optional<std::vector<JournalRow>> ReadJournal(Desk& desk, const QDateTime& from,
                                                   const QDateTime& to) {
    return SelectJournal(desk, QStringLiteral(" where at>=:a and at<:b order by id"),
                         {{QStringLiteral("a"), from.toString(kTimeFormat)},
                          {QStringLiteral("b"), to.toString(kTimeFormat)}});
}

std::optional<std::vector<JournalRow>> SelectJournal(
    Desk& desk, const QString& where, const QList<std::pair<QString, QString>>& params) {
    Query* q = desk.DataModule1.JournalQuery->Statement(
        QStringLiteral("select * from Tjournal") + where, params);
    if (!q->Open()) return std::nullopt;
    std::vector<JournalRow> rows;
    rows.reserve(q->RecordCount());
    for (int i = 0; i < q->RecordCount(); ++i) rows.push_back(RowAt(q, i));
    q->Close();
    return rows;
}

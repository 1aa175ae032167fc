#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

class Desk;
struct JournalMark;

// The takings journal: one row per money event, written in the same transaction as the change
// it records, never updated or deleted by the console. Each row carries the desk, the operator
// on duty and the local date-time, and a SHA-256 hash over its own content and the previous
// row's hash, so a row edited, deleted or inserted by another tool is found.
namespace JournalKind {
inline const QString Checkout = QStringLiteral("结账下机");   // the bill as shown: money taken
inline const QString ExtraCharge = QStringLiteral("附加费");  // amount; new Tother and Tsum
inline const QString Overnight = QStringLiteral("通宵");      // amount: the price added
inline const QString MidnightOvernight = QStringLiteral("午夜转通宵");   // flagged
inline const QString Transfer = QStringLiteral("转账");                  // machine to target
inline const QString DeletedInSession = QStringLiteral("删除在线机器");  // unsettled, flagged
inline const QString ShiftOpen = QStringLiteral("开班");        // amount: the opening float
inline const QString ShiftCount = QStringLiteral("清点");  // as 交班; a recount is flagged
inline const QString ShiftClose = QStringLiteral("交班");       // amount counted, tsum expected,
                                                                // tother the difference, note
inline const QString PriceChange = QStringLiteral("价格修改");  // note: old and new prices
inline const QString Restore = QStringLiteral("恢复备份");  // flagged; note: file, rows
}  // namespace JournalKind

// What an operation records; the journal adds the id, time, desk, operator and hashes.
struct JournalEntry {
    QString kind;
    QString machine;
    QString target;                                      // a transfer's new machine
    QString start, end, used, fee, other, total, state;  // the bill's texts as shown
    QString amount;
    QString note;
    bool flagged = false;  // needs the owner's eye: unsettled, or switched at midnight
};

// An entry for a bill's texts, in the order of Tcount's columns.
JournalEntry BillEntry(const QString& kind, const QString& machine, const QString& start,
                       const QString& end, const QString& used, const QString& fee,
                       const QString& other, const QString& total, const QString& state);

struct JournalRow {
    qint64 id = 0;
    QString at;  // yyyy-MM-dd HH:mm:ss, local time
    QString desk;
    QString operatorName;
    JournalEntry entry;
    QString prev;
    QString hash;
    QString totalFen;  // the total in fen beside its text, for the engine to sum; empty: none
};

// Appends entry inside the caller's open transaction. False when it could not be written; the
// caller then rolls back its change too and shows its own message.
bool AppendJournal(Desk& desk, const JournalEntry& entry);

// The hash a row must carry: over its canonical text and the previous row's hash.
QString JournalHash(const JournalRow& row);
// The previous hash of the very first row.
QString JournalSeed();

struct ChainCheck {
    // Shorter: every row fits, but the file ends before the row this desk wrote last (a backup
    // restored by hand, a power cut, the newest rows removed): told as what it is.
    enum Result { Intact, Altered, Shorter, Unreadable } result = Intact;
    qint64 firstBad = 0;  // Altered: the first row that does not fit; Shorter: this desk's last
    QString detail;       // Altered, Unreadable: what; Shorter: when this desk wrote its last row
    qint64 rowsInFile = 0;  // Shorter: the rows the database holds
};

// Verifies the whole chain: every row's hash, every link, ids without a gap from 1, and that
// the row this desk wrote last is still there.
ChainCheck VerifyJournal(Desk& desk);
// The same on any open connection to the database (another thread's), given the head this
// desk remembers. Streams the rows: a year of a busy café is 100,000 of them.
ChainCheck VerifyJournalOn(const QString& connectionName, const JournalMark& head);
// The rows after from (a row verified before: it must still be there with its hash), their
// links and hashes, no gap after it, the first row still 1 and the desk's head still there:
// what start-up checks, so that its time follows the rows added, not the journal's size.
// Rows before from are the whole chain's check. verified: the newest row checked.
ChainCheck VerifyJournalAfter(const QString& connectionName, std::pair<qint64, QString> from,
                              const JournalMark& head, std::pair<qint64, QString>* verified);
// What a report checks for the rows firstId..lastId: the first row and this desk's last row by
// the key; rows up to the desk's verified row (checked at start, weekly or on demand) only by
// that row's hash; the rows after it up to lastId (or, with no verified row, the range and its
// link to the row before) by hash and link. When anything does not fit, the whole chain is
// verified, so the first row that does not fit is named wherever it lies. An intact check
// from the verified row moves it to lastId.
ChainCheck VerifyJournalRange(Desk& desk, qint64 firstId, qint64 lastId);
// The newest row this desk has verified the chain up to, for the database in use (0: none).
std::pair<qint64, QString> VerifiedJournalRow(Desk& desk);
void SetVerifiedJournalRow(Desk& desk, const std::pair<qint64, QString>& row);
// The operator's box for a chain that does not verify: "营业记录已被改动" and the first bad row,
// or that the database holds fewer rows than this desk wrote, and when it wrote them.
QString ChainAlteredText(const ChainCheck& check);

// Rows whose time lies in [from, to), in id order; nullopt when they cannot be read.
std::optional<std::vector<JournalRow>> ReadJournal(Desk& desk, const QDateTime& from,
                                                   const QDateTime& to);

// The rows that where selects (a condition on Tjournal's columns with its order, values as
// :name parameters), for the ledger's own readers; nullopt when they cannot be read.
std::optional<std::vector<JournalRow>> SelectJournal(
    Desk& desk, const QString& where, const QList<std::pair<QString, QString>>& params);

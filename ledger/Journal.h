#pragma once

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QString>
#include <functional>
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
inline const QString PlanChange = QStringLiteral("价格方案");  // note: from when, old and new plan
inline const QString OvernightEnd = QStringLiteral("通宵结束");  // back to 正常 from tstart
// Operators who sign in.
inline const QString SignInOn = QStringLiteral("启用操作员登录");   // machine: the owner's name
inline const QString SignInOff = QStringLiteral("关闭操作员登录");
inline const QString SignIn = QStringLiteral("登录");
inline const QString SignInFailed = QStringLiteral("登录失败");  // machine: the name; flagged
inline const QString AccountChange = QStringLiteral("操作员账号");  // machine: the name; note
inline const QString Approval = QStringLiteral("店主授权");  // note: what the owner allowed
inline const QString ApprovalRefused = QStringLiteral("店主授权失败");  // flagged; note: what
// target: the row sealed (the one before); state: the key's fingerprint; note: the signature
inline const QString Seal = QStringLiteral("店主封账");
// A seal with the key of the owner's new password, which also carries the old key's signature
// over the same and the new key: note: the new signature, a space, the old one.
inline const QString SealKeyChange = QStringLiteral("店主改密码");
// Time sold up front. amount: cash in (a sale, an extension) or out (negative: a void, a
// refund); machine, and note: the package.
inline const QString PackageSale = QStringLiteral("包时售出");
inline const QString PackageExtend = QStringLiteral("包时续时");
inline const QString PackageVoid = QStringLiteral("包时作废");     // note: the reason
inline const QString PackageRefund = QStringLiteral("包时退款");   // at an early checkout
inline const QString PackageCatalogue = QStringLiteral("包时目录");  // note: old and new
// A package carried by a transfer into another zone, with the owner's approval; flagged.
// machine: from, target: to, note: the package and the zones.
inline const QString PackageCrossZone = QStringLiteral("包时跨区");
// Whether a row's amount is cash in or out of the drawer beside the checkouts' totals.
inline bool PackageMoney(const QString& kind) {
    return kind == PackageSale || kind == PackageExtend || kind == PackageVoid ||
           kind == PackageRefund;
}
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
    // 1: written before accounts, its hash over the fields above; 2: also over the account
    // signed in and the approving owner (ids; empty with sign-in off).
    int version = 2;
    QString account;
    QString approver;
    QString totalFen;  // the total in fen beside its text, for the engine to sum; empty: none
};

// Appends entry inside the caller's open transaction. False when it could not be written; the
// caller then rolls back its change too and shows its own message.
bool AppendJournal(Desk& desk, const JournalEntry& entry);

// The owner's seal (kind Seal or SealKeyChange): a row that carries Ed25519 signatures over
// the row before it (its number and hash), appended inside the caller's open transaction. sign
// gets the message and returns the row's note, the signatures in hex (empty: refused);
// fingerprint is the signing key's. The sealed row, or nullopt when nothing was written.
std::optional<JournalMark> AppendSeal(Desk& desk, const QString& kind, const QString& fingerprint,
                                      const std::function<QString(const QByteArray&)>& sign);
// What a seal of row id with this hash signs.
QByteArray SealMessage(qint64 id, const QString& hash);
// What the old key signs at a change of password: the seal's message and the new key.
QByteArray KeyChangeMessage(const QByteArray& sealMessage, const QByteArray& newPublicKey);
// The short fingerprint of a seal key, for the owner's paper: 16 hex digits in groups of four.
QString KeyFingerprint(const QByteArray& publicKey);

// The hash a row must carry: over its canonical text and the previous row's hash.
QString JournalHash(const JournalRow& row);
// The previous hash of the very first row.
QString JournalSeed();

struct ChainCheck {
    // Shorter: every row fits, but the file ends before the row this desk wrote last (a backup
    // restored by hand, a power cut, the newest rows removed): told as what it is.
    // SealBroken: an owner's seal does not hold (a row before it changed, even with the chain
    // rewritten after it; the seal row itself changed; a seal without the key it needs).
    enum Result { Intact, Altered, Shorter, Unreadable, SealBroken };
    ChainCheck(Result result_ = Intact, qint64 firstBad_ = 0, QString detail_ = {},
               qint64 rowsInFile_ = 0, qint64 seals_ = 0, QString keyFingerprint_ = {})
        : result(result_),
          firstBad(firstBad_),
          detail(std::move(detail_)),
          rowsInFile(rowsInFile_),
          seals(seals_),
          keyFingerprint(std::move(keyFingerprint_)) {}
    Result result = Intact;
    qint64 firstBad = 0;  // Altered: the first row that does not fit; Shorter: this desk's last
    QString detail;       // Altered, Unreadable: what; Shorter: when this desk wrote its last row
    qint64 rowsInFile = 0;  // Shorter: the rows the database holds
    qint64 seals = 0;       // seals checked (a whole chain's check)
    QString keyFingerprint;  // the seal key the database holds; empty when it has none
    // Every seal key's fingerprint, oldest first: each after the first signed in by the one
    // before it at a change of the owner's password (verified when the result is Intact).
    QStringList keyHistory;
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
// After a check that held: "；N次店主封账都对得上，公钥指纹 X" for the owner to compare with the
// fingerprint on paper (seals all made again with another key hold too); empty with no seal.
QString SealsHeldText(const ChainCheck& check);

// Rows whose time lies in [from, to), in id order; nullopt when they cannot be read.
std::optional<std::vector<JournalRow>> ReadJournal(Desk& desk, const QDateTime& from,
                                                   const QDateTime& to);

// The rows that where selects (a condition on Tjournal's columns with its order, values as
// :name parameters), for the ledger's own readers; nullopt when they cannot be read.
std::optional<std::vector<JournalRow>> SelectJournal(
    Desk& desk, const QString& where, const QList<std::pair<QString, QString>>& params);

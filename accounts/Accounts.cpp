#include "accounts/Accounts.h"

#include <QList>
#include <utility>

#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"
#include "ledger/Options.h"

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
constexpr int kMaxName = 32;
constexpr int kMinPin = 4;
constexpr int kMinPassword = 8;
constexpr int kTriesBeforeLockOut = 5;
constexpr int kFirstLockOutSeconds = 60;
constexpr int kDefaultIdleMinutes = 10;

using Params = QList<std::pair<QString, QString>>;

bool Fail(QString* why, const QString& text) {
    if (why) *why = text;
    return false;
}

// Statements on the journal's own query, which every step closes again.
Query* Run(Desk& desk, const QString& statement, const Params& params) {
    return desk.DataModule1.JournalQuery->Statement(statement, params);
}


struct StoredAccount {
    Account account;
    QString hash;
    int failures = 0;
    int lockouts = 0;
};

std::optional<std::vector<StoredAccount>> Stored(Desk& desk, const QString& where,
                                                 const Params& params) {
    Query* q = Run(desk,
                   QStringLiteral("select id, name, role, hash, enabled, failures, lockouts, "
                                  "locked_until from Taccount") +
                       where,
                   params);
    if (!q->Open()) return std::nullopt;
    std::vector<StoredAccount> rows;
    for (int i = 0; i < q->RecordCount(); ++i) {
        const auto f = [&](const char* c) { return q->FieldText(i, QString::fromLatin1(c)); };
        StoredAccount row;
        row.account.id = f("id");
        row.account.name = f("name");
        row.account.role = f("role");
        row.account.enabled = f("enabled") == QStringLiteral("1");
        row.account.lockedUntil = QDateTime::fromString(f("locked_until"), kTimeFormat);
        row.hash = f("hash");
        row.failures = f("failures").toInt();
        row.lockouts = f("lockouts").toInt();
        rows.push_back(std::move(row));
    }
    q->Close();
    return rows;
}

std::optional<StoredAccount> StoredByName(Desk& desk, const QString& name) {
    const auto rows = Stored(desk, QStringLiteral(" where name=:n"), {{QStringLiteral("n"), name}});
    if (!rows || rows->empty()) return std::nullopt;
    return rows->front();
}

// A new name may not differ from one in use by case alone: the sign-in list would show two
// names an operator cannot tell apart ("Wang", "wang").
std::optional<StoredAccount> StoredLike(Desk& desk, const QString& name) {
    const auto rows =
        Stored(desk, QStringLiteral(" where lower(name)=lower(:n)"), {{QStringLiteral("n"), name}});
    if (!rows || rows->empty()) return std::nullopt;
    return rows->front();
}

std::optional<StoredAccount> StoredOwner(Desk& desk) {
    const auto rows = Stored(desk, QStringLiteral(" where role=:r and enabled=1"),
                             {{QStringLiteral("r"), Role::Owner}});
    if (!rows || rows->empty()) return std::nullopt;
    return rows->front();
}

bool SecretFits(const QString& role, const Secret& secret, QString* why) {
    if (role == Role::Owner && secret.length() < kMinPassword)
        return Fail(why, QStringLiteral("店主密码至少要%1个字符。").arg(kMinPassword));
    if (role == Role::Cashier && (secret.length() < kMinPin || !secret.allDigits()))
        return Fail(why, QStringLiteral("收银员的PIN至少要%1位数字。").arg(kMinPin));
    return true;
}

bool NameFits(const QString& name, QString* why) {
    if (name.isEmpty() || name.size() > kMaxName)
        return Fail(why, QStringLiteral("操作员的名字要有1到%1个字。").arg(kMaxName));
    return true;
}

// Appends a journal row and commits; the caller's transaction is open.
bool JournalAndCommit(Desk& desk, Transaction& transaction, const JournalEntry& entry,
                      QString* why) {
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        return Fail(why, DeskText::DbContact);
    }
    return true;
}

JournalEntry Entry(const QString& kind, const QString& machine, const QString& note = {}) {
    JournalEntry entry;
    entry.kind = kind;
    entry.machine = machine;
    entry.note = note;
    return entry;
}

// The salt and public key of the seal key in force (the newest).
std::optional<QByteArray> StoredSealSalt(Desk& desk, QByteArray* publicKey) {
    Query* q = Run(desk, QStringLiteral("select salt, publickey from Tsealkey order by since desc"),
                   {});
    if (!q->Open()) return std::nullopt;
    QByteArray salt;
    if (q->RecordCount()) {
        salt = QByteArray::fromHex(q->FieldText(QStringLiteral("salt")).toLatin1());
        if (publicKey)
            *publicKey = QByteArray::fromHex(q->FieldText(QStringLiteral("publickey")).toLatin1());
    }
    q->Close();
    return salt;
}

bool InsertSealKey(Desk& desk, const QByteArray& salt, const QByteArray& publicKey, qint64 since) {
    return Run(desk,
               QStringLiteral("insert into Tsealkey (salt, publickey, since) values (:s, :k, :f)"),
               {{QStringLiteral("s"), QString::fromLatin1(salt.toHex())},
                {QStringLiteral("k"), QString::fromLatin1(publicKey.toHex())},
                {QStringLiteral("f"), QString::number(since)}})
        ->ExecSQL();
}

QString SignatureHex(const QByteArray& message, const SealKeys& keys) {
    const QByteArray signature = SignDetached(message, keys);
    return signature.isEmpty() ? QString() : QString::fromLatin1(signature.toHex());
}

QString NextAccountId(Desk& desk) {
    Query* q = Run(desk, QStringLiteral("select max(id) as last from Taccount"), {});
    if (!q->Open()) return {};
    const qint64 last = q->FieldText(QStringLiteral("last")).toLongLong();
    q->Close();
    return QString::number(last + 1);
}

bool InsertAccount(Desk& desk, const QString& id, const QString& name, const QString& role,
                   const QString& hash) {
    return Run(desk,
               QStringLiteral("insert into Taccount (id, name, role, hash, enabled, failures, "
                              "lockouts, locked_until) values (:i, :n, :r, :h, 1, 0, 0, '')"),
               {{QStringLiteral("i"), id},
                {QStringLiteral("n"), name},
                {QStringLiteral("r"), role},
                {QStringLiteral("h"), hash}})
        ->ExecSQL();
}

}  // namespace

QString RoleName(const QString& role) {
    return role == Role::Owner ? QStringLiteral("店主") : QStringLiteral("收银员");
}

bool SignInOn(Desk& desk) {
    return StoredOption(desk, QStringLiteral("signin")).value_or(QString()) == QStringLiteral("1");
}

int IdleLockMinutes(Desk& desk) {
    bool ok = false;
    const int minutes = StoredOption(desk, QStringLiteral("idle_lock_minutes")).value_or(QString()).toInt(&ok);
    return ok && minutes >= 0 ? minutes : kDefaultIdleMinutes;
}

bool SetIdleLockMinutes(Desk& desk, int minutes, QString* why) {
    if (minutes < 0 || minutes > 24 * 60)
        return Fail(why, QStringLiteral("自动锁定的时间要在0到1440分钟之间（0：不自动锁定）。"));
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite() ||
        !StoreOption(desk, QStringLiteral("idle_lock_minutes"), QString::number(minutes)))
        return Fail(why, DeskText::DbContact);
    return JournalAndCommit(desk, transaction,
                            Entry(JournalKind::AccountChange, {},
                                  QStringLiteral("自动锁定：%1分钟").arg(minutes)),
                            why);
}

std::optional<std::vector<Account>> ReadAccounts(Desk& desk) {
    const auto rows = Stored(desk, QStringLiteral(" order by name"), {});
    if (!rows) return std::nullopt;
    std::vector<Account> accounts;
    for (const StoredAccount& row : *rows) accounts.push_back(row.account);
    return accounts;
}

std::optional<Account> FindAccount(Desk& desk, const QString& name) {
    const auto row = StoredByName(desk, name);
    if (!row) return std::nullopt;
    return row->account;
}

bool EnableSignIn(Desk& desk, const QString& ownerName, const Secret& password, QString* why,
                  QString* fingerprint) {
    const QString name = ownerName.trimmed();
    if (!NameFits(name, why) || !SecretFits(Role::Owner, password, why)) return false;
    if (SignInOn(desk)) return Fail(why, QStringLiteral("操作员登录已经打开了。"));
    // The slow work (Argon2id) before the write lock, which other desks wait for.
    const std::optional<StoredAccount> owner = StoredOwner(desk);
    if (owner && (owner->account.name != name || !SecretMatches(owner->hash, password)))
        return Fail(why, QStringLiteral("本数据库已有店主账号“%1”：请用它的名字和密码。")
                             .arg(owner->account.name));
    if (!owner)
        if (const auto taken = StoredLike(desk, name))
            return Fail(why, QStringLiteral("已经有叫“%1”的操作员了。").arg(taken->account.name));
    QByteArray storedKey;
    const std::optional<QByteArray> storedSalt = StoredSealSalt(desk, &storedKey);
    if (!storedSalt) return Fail(why, DeskText::DbContact);
    const QByteArray salt = storedSalt->isEmpty() ? NewSalt() : *storedSalt;
    const SealKeys keys = DeriveSealKeys(password, salt);
    const QString hash = owner ? owner->hash : HashSecret(password);
    if (keys.publicKey.isEmpty() || hash.isEmpty())
        return Fail(why, QStringLiteral("内存不足，无法计算密码。"));
    if (!storedSalt->isEmpty() && storedKey != keys.publicKey)
        return Fail(why, QStringLiteral("这个密码与本数据库封账用的店主密码不符。"));

    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) return Fail(why, DeskText::DbContact);
    QString ownerId = owner ? owner->account.id : NextAccountId(desk);
    bool written = !ownerId.isEmpty() && StoreOption(desk, QStringLiteral("signin"), QStringLiteral("1"));
    if (written && !owner) written = InsertAccount(desk, ownerId, name, Role::Owner, hash);
    if (written && storedSalt->isEmpty())
        written = InsertSealKey(desk, salt, keys.publicKey, 0);
    if (!written) return Fail(why, DeskText::DbContact);
    const QString before = desk.accountId;
    desk.accountId = ownerId;
    const bool done =
        JournalAndCommit(desk, transaction, Entry(JournalKind::SignInOn, name), why);
    desk.accountId = before;
    if (done && fingerprint) *fingerprint = KeyFingerprint(keys.publicKey);
    return done;
}

bool DisableSignIn(Desk& desk, const Secret& ownerPassword, QString* why) {
    const std::optional<Account> owner = CheckOwnerPassword(desk, ownerPassword);
    if (!owner) return Fail(why, QStringLiteral("店主密码不对，操作员登录没有关闭。"));
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite() ||
        !StoreOption(desk, QStringLiteral("signin"), QStringLiteral("0")))
        return Fail(why, DeskText::DbContact);
    const ApprovedBy approved(desk, owner->id);
    return JournalAndCommit(desk, transaction, Entry(JournalKind::SignInOff, owner->name), why);
}

bool AddAccount(Desk& desk, const QString& name, const QString& role, const Secret& pin,
                QString* why) {
    const QString trimmed = name.trimmed();
    if (role != Role::Owner && role != Role::Cashier)
        return Fail(why, QStringLiteral("角色只能是店主（owner）或收银员（cashier）。"));
    if (!NameFits(trimmed, why) || !SecretFits(role, pin, why)) return false;
    if (role == Role::Owner && StoredOwner(desk))
        return Fail(why, QStringLiteral("已经有一个店主账号了：店主只能有一个。"));
    const QString hash = HashSecret(pin);
    if (hash.isEmpty()) return Fail(why, QStringLiteral("内存不足，无法计算密码。"));
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) return Fail(why, DeskText::DbContact);
    if (const auto taken = StoredLike(desk, trimmed)) {
        transaction.Rollback();
        return Fail(why, QStringLiteral("已经有叫“%1”的操作员了。").arg(taken->account.name));
    }
    const QString id = NextAccountId(desk);
    if (id.isEmpty() || !InsertAccount(desk, id, trimmed, role, hash))
        return Fail(why, DeskText::DbContact);
    return JournalAndCommit(
        desk, transaction,
        Entry(JournalKind::AccountChange, trimmed,
              QStringLiteral("新建%1账号（编号%2）").arg(RoleName(role), id)),
        why);
}

bool SetAccountEnabled(Desk& desk, const QString& name, bool enabled, QString* why) {
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) return Fail(why, DeskText::DbContact);
    const std::optional<StoredAccount> row = StoredByName(desk, name);
    if (!row) {
        transaction.Rollback();
        return Fail(why, QStringLiteral("没有叫“%1”的操作员。").arg(name));
    }
    if (row->account.role == Role::Owner && !enabled) {
        transaction.Rollback();
        return Fail(why, QStringLiteral("店主账号不能停用：总要有一个店主。"));
    }
    if (!Run(desk, QStringLiteral("update Taccount set enabled=:e, failures=0 where id=:i"),
             {{QStringLiteral("e"), enabled ? QStringLiteral("1") : QStringLiteral("0")},
              {QStringLiteral("i"), row->account.id}})
             ->ExecSQL())
        return Fail(why, DeskText::DbContact);
    return JournalAndCommit(
        desk, transaction,
        Entry(JournalKind::AccountChange, row->account.name,
              enabled ? QStringLiteral("启用") : QStringLiteral("停用")),
        why);
}

bool ResetPin(Desk& desk, const QString& name, const Secret& pin, QString* why) {
    const std::optional<StoredAccount> found = StoredByName(desk, name);
    if (!found) return Fail(why, QStringLiteral("没有叫“%1”的操作员。").arg(name));
    if (!SecretFits(found->account.role, pin, why)) return false;
    if (found->account.role == Role::Owner)  // the seal key comes from it
        return Fail(why, QStringLiteral("店主密码不能在这里重设。"));
    const QString hash = HashSecret(pin);
    if (hash.isEmpty()) return Fail(why, QStringLiteral("内存不足，无法计算密码。"));
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite() ||
        !Run(desk,
             QStringLiteral("update Taccount set hash=:h, failures=0, lockouts=0, "
                            "locked_until='' where id=:i"),
             {{QStringLiteral("h"), hash}, {QStringLiteral("i"), found->account.id}})
             ->ExecSQL())
        return Fail(why, DeskText::DbContact);
    return JournalAndCommit(
        desk, transaction,
        Entry(JournalKind::AccountChange, found->account.name, QStringLiteral("重设PIN")), why);
}

SignInResult SignIn(Desk& desk, const QString& name, const Secret& pin) {
    const std::optional<StoredAccount> found = StoredByName(desk, name);
    if (!found || !found->account.enabled)
        return {SignInResult::Unknown, {}, QStringLiteral("没有这个操作员，或者已经停用。")};
    const QDateTime now = desk.clock.nowDateTime();
    if (found->account.lockedUntil.isValid() && now < found->account.lockedUntil)
        return {SignInResult::LockedOut, found->account.lockedUntil,
                QStringLiteral("“%1”输错的次数太多，%2 以后才能再登录。")
                    .arg(name, found->account.lockedUntil.toString(QStringLiteral("H:mm:ss")))};
    const bool right = SecretMatches(found->hash, pin);  // slow: before the write lock

    Transaction transaction(desk.DataModule1);
    const std::optional<StoredAccount> row =
        transaction.BeginWrite() ? StoredByName(desk, name) : std::nullopt;
    if (!row) return {SignInResult::Failed, {}, DeskText::DbContact};
    SignInResult result;
    int failures = 0;
    int lockouts = row->lockouts;
    QString until;
    JournalEntry entry;
    if (right) {
        lockouts = 0;
        entry = Entry(JournalKind::SignIn, row->account.name);
        result = {SignInResult::Ok, {}, {}};
    } else {
        failures = row->failures + 1;
        if (failures >= kTriesBeforeLockOut) {
            const QDateTime lockedUntil = now.addSecs(qint64(kFirstLockOutSeconds) << std::min(lockouts, 16));
            ++lockouts;
            failures = 0;
            until = lockedUntil.toString(kTimeFormat);
            result = {SignInResult::LockedOut, lockedUntil,
                      QStringLiteral("PIN不对。“%1”连续输错%2次，%3 以后才能再登录。")
                          .arg(name)
                          .arg(kTriesBeforeLockOut)
                          .arg(lockedUntil.toString(QStringLiteral("H:mm:ss")))};
        } else {
            result = {SignInResult::Wrong, {}, QStringLiteral("PIN不对，请再输一次。")};
        }
        entry = Entry(JournalKind::SignInFailed, row->account.name,
                      until.isEmpty() ? QStringLiteral("连续第%1次").arg(failures)
                                      : QStringLiteral("锁定到 %1").arg(until));
        entry.flagged = true;
    }
    if (!Run(desk,
             QStringLiteral("update Taccount set failures=:f, lockouts=:l, locked_until=:u "
                          "where id=:i"),
             {{QStringLiteral("f"), QString::number(failures)},
              {QStringLiteral("l"), QString::number(lockouts)},
              {QStringLiteral("u"), until},
              {QStringLiteral("i"), row->account.id}})
             ->ExecSQL())
        return {SignInResult::Failed, {}, DeskText::DbContact};
    // The 登录 row is the new operator's own, by account and by name.
    const QString before = desk.accountId;
    const QString nameBefore = desk.operatorName;
    if (right) {
        desk.accountId = row->account.id;
        desk.operatorName = row->account.name;
    }
    QString why;
    if (!JournalAndCommit(desk, transaction, entry, &why)) {
        desk.accountId = before;
        desk.operatorName = nameBefore;
        return {SignInResult::Failed, {}, why};
    }
    if (right) desk.accountIsOwner = row->account.role == Role::Owner;
    return result;
}

void SignOut(Desk& desk) {
    desk.accountId.clear();
    desk.accountIsOwner = false;
    desk.approverId.clear();
}

std::optional<Account> CheckOwnerPassword(Desk& desk, const Secret& password) {
    const std::optional<StoredAccount> owner = StoredOwner(desk);
    if (!owner || !SecretMatches(owner->hash, password)) return std::nullopt;
    return owner->account;
}

OwnerApproval::OwnerApproval(Desk& desk, const QString& what, bool needed) : m_desk(desk) {
    if (!needed || desk.accountIsOwner || !SignInOn(desk)) {
        m_given = true;
        return;
    }
    std::optional<QString> typed = desk.prompts.secret(
        QStringLiteral("“%1”只有店主可以做。请店主输入密码：").arg(what));
    if (!typed) return;  // cancelled: nothing changes, nothing more to say
    const Secret password(*typed);
    const std::optional<Account> owner = CheckOwnerPassword(desk, password);
    if (!owner) {
        // Every wrong guess at the owner's password is on the record the owner reads.
        {
            Transaction transaction(desk.DataModule1);  // ended before the box
            JournalEntry refused = Entry(JournalKind::ApprovalRefused, {}, what);
            refused.flagged = true;
            QString why;
            if (transaction.BeginWrite()) JournalAndCommit(desk, transaction, refused, &why);
        }
        desk.prompts.message(QStringLiteral("店主密码不对，没有做任何改动。"));
        return;
    }
    desk.approverId = owner->id;
    m_approving = true;
    Transaction transaction(desk.DataModule1);
    QString why;
    if (!transaction.BeginWrite() ||
        !JournalAndCommit(desk, transaction, Entry(JournalKind::Approval, {}, what), &why)) {
        desk.approverId.clear();
        m_approving = false;
        desk.prompts.message(DeskText::DbContact);
        return;
    }
    m_given = true;
}

OwnerApproval::~OwnerApproval() {
    if (m_approving) m_desk.approverId.clear();
}

namespace {

// The seal keys the owner's password makes, when they are the ones in force; empty keys after
// saying why in why (what was not done: done).
SealKeys KeysInForce(Desk& desk, const Secret& ownerPassword, const QString& done, QString* why) {
    QByteArray storedKey;
    const std::optional<QByteArray> salt = StoredSealSalt(desk, &storedKey);
    if (!salt) {
        Fail(why, DeskText::DbContact);
        return {};
    }
    if (salt->isEmpty()) {
        Fail(why, QStringLiteral("还没有封账的钥匙：请先打开操作员登录。"));
        return {};
    }
    SealKeys keys = DeriveSealKeys(ownerPassword, *salt);
    if (keys.publicKey.isEmpty()) {
        Fail(why, QStringLiteral("内存不足，无法计算密码。"));
        return {};
    }
    if (keys.publicKey != storedKey) {
        Fail(why, QStringLiteral("数据库中封账的公钥与店主密码不符，%1。").arg(done));
        return {};
    }
    return keys;
}

}  // namespace

bool SealJournal(Desk& desk, const Secret& ownerPassword, QString* why, JournalMark* sealed,
                 QString* fingerprint) {
    const std::optional<Account> owner = CheckOwnerPassword(desk, ownerPassword);
    if (!owner) return Fail(why, QStringLiteral("店主密码不对，没有封账。"));
    const SealKeys keys = KeysInForce(desk, ownerPassword, QStringLiteral("没有封账"), why);
    if (keys.publicKey.isEmpty()) return false;
    const QString print = KeyFingerprint(keys.publicKey);

    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) return Fail(why, DeskText::DbContact);
    const std::optional<JournalMark> mark = [&] {
        const ApprovedBy approved(desk, owner->id);
        return AppendSeal(desk, JournalKind::Seal, print,
                          [&](const QByteArray& message) { return SignatureHex(message, keys); });
    }();
    if (!mark) {
        transaction.Rollback();
        return Fail(why, QStringLiteral("营业记录还是空的，或者无法写入：没有封账。"));
    }
    if (!transaction.Commit()) return Fail(why, DeskText::DbContact);
    if (sealed) *sealed = *mark;
    if (fingerprint) *fingerprint = print;
    desk.settings.setValue(desk.PerDatabaseKey(QStringLiteral("sealKey")), print);
    return true;
}

bool ChangeOwnerPassword(Desk& desk, const Secret& oldPassword, const Secret& newPassword,
                         QString* why, QString* fingerprint) {
    const std::optional<Account> owner = CheckOwnerPassword(desk, oldPassword);
    if (!owner) return Fail(why, QStringLiteral("原来的店主密码不对，密码没有改。"));
    if (!SecretFits(Role::Owner, newPassword, why)) return false;
    // The old key must be the one in force: it vouches for the new one.
    const SealKeys oldKeys = KeysInForce(desk, oldPassword, QStringLiteral("密码没有改"), why);
    if (oldKeys.publicKey.isEmpty()) return false;
    const QByteArray salt = NewSalt();
    const SealKeys newKeys = DeriveSealKeys(newPassword, salt);
    const QString hash = HashSecret(newPassword);
    if (newKeys.publicKey.isEmpty() || hash.isEmpty())
        return Fail(why, QStringLiteral("内存不足，无法计算密码。"));
    const QString print = KeyFingerprint(newKeys.publicKey);

    // One row signed by both keys: the new key seals all before it, the old one vouches for
    // the new. Seals made before keep holding with the old key, which stays beside it.
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) return Fail(why, DeskText::DbContact);
    const std::optional<JournalMark> mark = [&] {
        const ApprovedBy approved(desk, owner->id);
        return AppendSeal(desk, JournalKind::SealKeyChange, print, [&](const QByteArray& message) {
            const QString signedNew = SignatureHex(message, newKeys);
            const QString signedOld =
                SignatureHex(KeyChangeMessage(message, newKeys.publicKey), oldKeys);
            return signedNew.isEmpty() || signedOld.isEmpty()
                       ? QString()
                       : signedNew + QLatin1Char(' ') + signedOld;
        });
    }();
    const bool written =
        mark && InsertSealKey(desk, salt, newKeys.publicKey, mark->id + 1) &&
        Run(desk, QStringLiteral("update Taccount set hash=:h where id=:i"),
            {{QStringLiteral("h"), hash}, {QStringLiteral("i"), owner->id}})
            ->ExecSQL();
    if (!written || !transaction.Commit()) {
        transaction.Rollback();
        return Fail(why, mark ? DeskText::DbContact
                              : QStringLiteral("营业记录还是空的，或者无法写入：密码没有改。"));
    }
    desk.settings.setValue(desk.PerDatabaseKey(QStringLiteral("sealKey")), print);
    if (fingerprint) *fingerprint = print;
    return true;
}

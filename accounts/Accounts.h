#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

#include "accounts/Secret.h"

class Desk;
struct JournalMark;

// Operators who sign in. Off until the owner turns it on: then every desk of the database asks
// for an enabled name and its PIN, journal rows carry the account, and what moves money beyond
// the everyday needs the owner (signed in, or their password typed on the spot).
// Functions that can be refused return false with the reason in why, in words for the operator.

namespace Role {
inline const QString Owner = QStringLiteral("owner");      // 店主
inline const QString Cashier = QStringLiteral("cashier");  // 收银员
}  // namespace Role

struct Account {
    QString id;
    QString name;
    QString role;
    bool enabled = true;
    QDateTime lockedUntil;  // invalid when not locked out
};

QString RoleName(const QString& role);  // 店主, 收银员

// Whether sign-in is on for this database (false when it cannot be read: the described start).
bool SignInOn(Desk& desk);
// Minutes without a key or a click before the window locks itself (default 10; 0: never).
int IdleLockMinutes(Desk& desk);
bool SetIdleLockMinutes(Desk& desk, int minutes, QString* why);

// Every account, in name order; nullopt when they cannot be read.
std::optional<std::vector<Account>> ReadAccounts(Desk& desk);
std::optional<Account> FindAccount(Desk& desk, const QString& name);

// Turns sign-in on with the owner's account (made now, or the one made at an earlier enabling,
// whose password must then be this one) and the seal key; a journal row. The key's fingerprint,
// for the owner's paper, in fingerprint.
bool EnableSignIn(Desk& desk, const QString& ownerName, const Secret& password, QString* why,
                  QString* fingerprint = nullptr);
// Turns it off: needs the owner's password; a journal row.
bool DisableSignIn(Desk& desk, const Secret& ownerPassword, QString* why);

// Managing accounts; the caller has the owner's approval. A cashier's PIN is at least 4 digits,
// the owner's password at least 8 characters; names 1 to 32 characters, unique. There is
// always exactly one enabled owner.
bool AddAccount(Desk& desk, const QString& name, const QString& role, const Secret& pin,
                QString* why);
bool SetAccountEnabled(Desk& desk, const QString& name, bool enabled, QString* why);
bool ResetPin(Desk& desk, const QString& name, const Secret& pin, QString* why);

struct SignInResult {
    enum Result { Ok, Wrong, LockedOut, Unknown, Failed } result = Failed;
    QDateTime lockedUntil;  // LockedOut, and Wrong when this try locked the name
    QString text;           // what the operator is told
};
// Signs name in on this desk with its PIN. Five wrong PINs in a row lock the name for a minute,
// doubling at each lock-out until a right one; every wrong one is a journal row.
SignInResult SignIn(Desk& desk, const QString& name, const Secret& pin);
// Nobody signed in on this desk (the lock, 交班).
void SignOut(Desk& desk);

// The owner's approval for what a cashier may not do alone. With sign-in off, or the owner
// signed in, it is given without a box; otherwise the owner types the password (店主授权): a
// journal row names both, and until this object goes every row the action writes carries the
// owner as approver. False: nothing is to change (the box was cancelled or the password wrong,
// and a box said so). Not needed (what this time is everyday work): given without a word.
class OwnerApproval {
  public:
    OwnerApproval(Desk& desk, const QString& what, bool needed = true);
    ~OwnerApproval();
    OwnerApproval(const OwnerApproval&) = delete;
    OwnerApproval& operator=(const OwnerApproval&) = delete;
    explicit operator bool() const { return m_given; }

  private:
    Desk& m_desk;
    bool m_given = false;
    bool m_approving = false;
};

// Changes the owner's password (at least 8 characters) given the one in use. The seal key
// changes with it: a journal row signed by the new key and vouched for by the old one, whose
// seals keep holding. The new key's fingerprint, for the owner's paper, in fingerprint.
bool ChangeOwnerPassword(Desk& desk, const Secret& oldPassword, const Secret& newPassword,
                         QString* why, QString* fingerprint);

// Checks the owner's password; the owner's account when it is right.
std::optional<Account> CheckOwnerPassword(Desk& desk, const Secret& password);

// The owner's seal over the journal as it stands: the row sealed in sealed, the key's
// fingerprint in fingerprint. Needs the owner's password and sign-in turned on once.
bool SealJournal(Desk& desk, const Secret& ownerPassword, QString* why, JournalMark* sealed,
                 QString* fingerprint);

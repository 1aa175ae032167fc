#include "support/AccountFixtures.h"

#include "accounts/Accounts.h"
#include "support/LedgerFixtures.h"

Secret Typed(const QString& text) {
    QString copy = text;
    return Secret(copy);
}

void TurnOnSignIn(Env& env, const QString& ownerPassword, const QString& cashierPin) {
    QString why;
    if (!EnableSignIn(*env.desk, QStringLiteral("老板"), Typed(ownerPassword), &why) ||
        !AddAccount(*env.desk, QStringLiteral("小王"), Role::Cashier, Typed(cashierPin), &why))
        qFatal("sign-in: %s", qPrintable(why));
}

SealKeys ReplaceSealKey(Env& env) {
    const QByteArray salt = NewSalt();
    const SealKeys forged = DeriveSealKeys(Typed(QStringLiteral("the thief's")), salt);
    env.otherTool(QStringLiteral("update Tsealkey set salt='%1', publickey='%2'")
                      .arg(QString::fromLatin1(salt.toHex()),
                           QString::fromLatin1(forged.publicKey.toHex())));
    return forged;
}

void ResignSeal(Env& env, const JournalMark& sealed, const SealKeys& forged) {
    JournalRow seal = AllJournalRows(env).at(size_t(sealed.id));  // the row after the sealed one
    seal.entry.note =
        QString::fromLatin1(SignDetached(SealMessage(sealed.id, sealed.hash), forged).toHex());
    seal.hash = JournalHash(seal);
    env.otherTool(QStringLiteral("update Tjournal set note='%1', hash='%2' where id=%3")
                      .arg(seal.entry.note, seal.hash)
                      .arg(seal.id));
}

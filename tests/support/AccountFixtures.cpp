#include "support/AccountFixtures.h"

#include "accounts/Accounts.h"

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

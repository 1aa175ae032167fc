#pragma once

#include <QString>

#include "accounts/Secret.h"
#include "support/Fixtures.h"

// A secret as an operator types it (the test's text stays as it is).
Secret Typed(const QString& text);

// Sign-in turned on with the owner 老板 and the cashier 小王; a failure ends the test program.
void TurnOnSignIn(Env& env, const QString& ownerPassword, const QString& cashierPin);

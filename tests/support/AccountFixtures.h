#pragma once

#include <QString>

#include "accounts/Secret.h"
#include "ledger/Journal.h"
#include "support/Fixtures.h"

// A secret as an operator types it (the test's text stays as it is).
Secret Typed(const QString& text);

// Sign-in turned on with the owner 老板 and the cashier 小王; a failure ends the test program.
void TurnOnSignIn(Env& env, const QString& ownerPassword, const QString& cashierPin);

// What a thief does who wants the seals to hold again: their own key in place of the owner's
// (returned), then, with ResignSeal, the seal on the row sealed signed again and its hash made
// to fit.
SealKeys ReplaceSealKey(Env& env);
void ResignSeal(Env& env, const JournalMark& sealed, const SealKeys& forged);

#pragma once

#include <QString>
#include <vector>

#include "ledger/Journal.h"
#include "support/Fixtures.h"

// A machine whose bill is ready to settle: in session since start with these amounts, its
// time fee and the clock as the grid shows them after a pass.
void AddBill(Env& env, const QString& name, const QString& state, const QString& fee,
             const QString& other, const QString& sum, const QString& start = "9:5:7");

// Every journal row, in id order; a journal that cannot be read ends the test program.
std::vector<JournalRow> AllJournalRows(Env& env);

// How many journal rows are of kind; -1 when the journal cannot be read.
int JournalRowsOf(Env& env, const QString& kind);

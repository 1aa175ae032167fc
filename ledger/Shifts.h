#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "ledger/Journal.h"

class Desk;

// One open shift per desk, opened with a name and the cash in the drawer, closed with a blind
// count; both are journal rows.

struct Shift {
    qint64 openId = 0;
    QString operatorName;
    QString openedAt;
    qint64 floatCents = 0;
};

// The shift open on this desk; nullopt when none is (or the journal cannot be read).
std::optional<Shift> OpenShiftOf(Desk& desk);

// Opens a shift for operatorName (at most 32 characters) with the opening float (an amount from
// 0 to 100,000 yuan, two decimals at most; empty is refused); with its boxes. True when opened.
bool OpenShift(Desk& desk, const QString& operatorName, const QString& floatText);

struct ShiftCount {
    qint64 expectedCents = 0;  // the float plus the shift's takings
    qint64 countedCents = 0;
    qint64 differenceCents = 0;  // counted minus expected
};

// The blind count: what the drawer should hold, worked out only once the count is typed, and
// the count recorded then (a journal row 清点), so it cannot be changed once the expected cash
// is seen. A second count is recorded beside the first (flagged) and the first stands: the
// result is always the first count. nullopt (after its box) when the count is not an amount
// (0 to 100,000 yuan, two decimals at most) or no shift is open.
std::optional<ShiftCount> CountShift(Desk& desk, const QString& countedText);
// The open shift's first count, if one was made.
std::optional<ShiftCount> ShiftCountOf(Desk& desk);

// Closes the open shift with its first count against the expected cash as it is now (a bill
// settled after the count makes a difference); a difference needs a note. True when closed.
bool CloseShift(Desk& desk, const QString& note);

// At start: the operator on duty comes back from the open shift, and the chain is verified
// beside the window: the rows added since the last verified one, or the whole chain when the
// last full check is a week old. Only a chain that does not verify says anything
// ("营业记录已被改动").
void ResumeJournal(Desk& desk);

enum class JournalCheck {
    SinceLastVerified,  // the rows after the last verified one
    Full,               // the whole chain, now (on demand)
    Weekly,             // the whole chain, at low priority
};
// Runs a check of the chain on a thread of its own; done() comes back on the desk's thread.
// An intact chain moves the desk's verified head (and, for a whole-chain check, its date).
void CheckJournalBeside(Desk& desk, JournalCheck kind,
                        std::function<void(const ChainCheck&)> done);

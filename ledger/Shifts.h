#pragma once

#include <QString>
#include <optional>

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

// Opens a shift for operatorName with the opening float; with its boxes. True when opened.
bool OpenShift(Desk& desk, const QString& operatorName, const QString& floatText);

struct ShiftCount {
    qint64 expectedCents = 0;  // the float plus the shift's takings
    qint64 countedCents = 0;
    qint64 differenceCents = 0;  // counted minus expected
};

// The blind count: what the drawer should hold, worked out only once the count is typed.
// nullopt (after its box) when the count is not an amount or no shift is open.
std::optional<ShiftCount> CountShift(Desk& desk, const QString& countedText);

// Closes the open shift with the counted cash; a difference needs a note. True when closed.
bool CloseShift(Desk& desk, const QString& countedText, const QString& note);

// At start: the operator on duty comes back from the open shift, and the whole chain is
// verified; only a chain that does not verify says anything ("营业记录已被改动").
void ResumeJournal(Desk& desk);

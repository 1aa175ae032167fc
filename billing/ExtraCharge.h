#pragma once

#include <QString>

class Desk;

// What the selection check found for a machine text.
struct ChargeSelection {
    enum Kind { InSession, NotInSession, Failed } kind;
    QString other;  // Tother, "0" when empty (InSession only)
    QString total;  // Tsum, "0" when empty (InSession only)
};

// The selection check of "添加附加费", with its boxes. A typed name finds its machine as the
// machine list does (any letter case, in any script).
ChargeSelection CheckChargeMachine(Desk& desk, const QString& machine);

enum class ChargeOutcome { Added, NoMachine, NoAmount, NotAdded };

// "添   加": checks the two texts, that the machine is still in session, then adds; with the
// boxes (a success ends with "添加成功!"). A text that does not convert throws ConversionError.
ChargeOutcome AddExtraCharge(Desk& desk, const QString& machine, const QString& amountText);

// Adds amountText to the machine's Tother and Tsum, both read afresh in the same transaction
// that writes them, so no charge is lost to a stale total. True when written.
bool ApplyExtraCharge(Desk& desk, const QString& machine, const QString& amountText);

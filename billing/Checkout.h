#pragma once

#include <QString>
#include <optional>

class Desk;

// 下机 / double-click: takes the highlighted machine as SelectedMachine. For an idle machine it
// runs the start command instead and returns nullopt; for a machine in session it returns the
// grid row whose bill the checkout dialog shows (-1: no row). nullopt also when the look-up
// failed (after its box).
std::optional<int> CheckoutRow(Desk& desk);

// The bill as the checkout dialog shows it: the grid's row as of its last refresh.
struct ShownBill {
    QString machine, start, now, used, fee, other, total, reminder, state;
};
ShownBill GridBill(Desk& desk, int gridRow);  // -1: all empty

// 结账下机 for the bill shown: "xiaji" to its machine and the row back to idle, with the
// checkout's boxes; the bill is the money taken and goes into the journal with the reset.
// True when done (the dialog then hides); false leaves it open.
bool CheckOut(Desk& desk, const ShownBill& bill);
// The same for the bill of the machine's grid row.
bool CheckOut(Desk& desk, const QString& machine);

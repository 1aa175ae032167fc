#pragma once

#include <QString>
#include <optional>

class Desk;

// 下机 / double-click: takes the highlighted machine as SelectedMachine. For an idle machine it
// runs the start command instead and returns nullopt; for a machine in session it returns the
// grid row whose bill the checkout dialog shows (-1: no row). nullopt also when the look-up
// failed (after its box).
std::optional<int> CheckoutRow(Desk& desk);

// 结账下机 for the machine whose bill is shown: "xiaji" to it and its row back to idle, with
// the checkout's boxes. True when done (the dialog then hides); false leaves it open.
bool CheckOut(Desk& desk, const QString& machine);

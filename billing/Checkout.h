#pragma once

#include <QString>
#include <functional>
#include <optional>

class Desk;
class Query;

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

// Whether the row as it stands is still the bill shown: the same state, start and extra
// charges, and a total that is the shown one or what the billing pass gives now (a pass that
// ran since the bill was shown moves only the time fee). rate: the hourly rate now.
bool SameBill(const ShownBill& shown, const ShownBill& row, std::optional<double> rate,
              int nowHour, int nowMinute);

// Inside a write transaction, after the look-up and before "xiaji" leaves: the machine's row,
// read under its lock, decides. When it is still the bill shown, update (a query object) resets
// it and the bill shown goes into the journal (with note): Reset. Otherwise nothing is
// written: Idle, Changed (current: the row's own bill) or Failed (the database failed).
enum class RowDecision { Reset, Idle, Changed, Failed };
RowDecision LockAndSettle(Desk& desk, const ShownBill& bill, Query* update, const QString& note,
                          ShownBill* current);

enum class CheckoutOutcome {
    Done,         // "xiaji" sent, the row idle, the bill shown journalled
    NotDone,      // not sent or not recorded, after its boxes; the dialog stays open
    Idle,         // the row is idle: nothing sent or written, the grid read again
    BillChanged,  // the row is not the bill shown: nothing sent, refill() had the row's bill
};

// 结账下机 for the bill shown. The decision is the row's, read under its lock after the look-up
// and before "xiaji" leaves: an idle row sends nothing; a row that is no longer the bill shown
// sends nothing, hands its own bill to refill (the dialog shows it) and asks the operator to
// confirm that one. Otherwise "xiaji" leaves, the row goes back to idle and the bill shown is
// the journal's row: the money taken. With the checkout's boxes.
CheckoutOutcome CheckOut(Desk& desk, const ShownBill& bill,
                         const std::function<void(const ShownBill&)>& refill = {});
// The same for the bill of the machine's grid row; true when done.
bool CheckOut(Desk& desk, const QString& machine);

namespace BillingText {
// The operator is asked to confirm the row's bill instead of the one that was shown.
QString BillChangedText(const QString& machine);
QString NotInSessionAtCheckoutText(const QString& machine);
}  // namespace BillingText

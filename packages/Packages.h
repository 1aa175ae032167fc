#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

#include "desk/Desk.h"
#include "packages/Package.h"


// Packages as the café keeps them: the catalogue (in Tsetting, for every desk), each sale (a row
// of Tpackage, numbered by its journal row) and what the pass does as the end comes near.

namespace PackageText {
// The client's warning before the end, within the messenger's 28 bytes.
QString Warning(int minutes);  // 包时还剩10分钟
inline const QString EndContinue = QStringLiteral("包时已到，开始按时计费");
inline const QString EndLock = QStringLiteral("包时已到，1分钟后锁机");
inline const QString TimeCharge = QStringLiteral("按时计费");
// Why a catalogue cannot be kept without a price plan in force.
inline const QString NoPlan = QStringLiteral("现在没有价格方案，包时要属于方案的区域");
}  // namespace PackageText

// Where a machine stands for a sale: its zone now and the holidays of the plan.
struct SaleContext {
    QString zone;
    QSet<qint64> holidays;  // julian days
    QStringList zones;      // every zone of the plan (what a catalogue may name)
};

// Where machine stands now under the plan in force (its zone, the holidays, the zones).
SaleContext SaleContextFor(Desk& desk, const QString& machine);

// The saved catalogue: empty when none was saved; nullopt when it cannot be read.
std::optional<Catalogue> StoredCatalogue(Desk& desk);
// Checks it as 设置 does and saves it, journalled (the old and the new JSON). False with one
// line saying what is wrong; nothing changes then.
bool SaveCatalogue(Desk& desk, const Catalogue& catalogue, const QStringList& zones,
                   QString* problem);

// The warnings before the end, in minutes (10 and 1 unless set; 0: none).
struct PackageWarnings {
    int first = 10;
    int second = 1;
};
PackageWarnings StoredWarnings(Desk& desk);
bool SaveWarnings(Desk& desk, const PackageWarnings& warnings, QString* problem);

// A package sold and not yet closed by a checkout or voided.
struct SoldPackage {
    qint64 id = 0;  // the sale's journal row
    QString machine;
    Package package;
    QString zone;
    QDateTime sold;  // to the second: its length counts from here
    QDateTime ends;
    qint64 paid = 0;  // fen, with extensions
    int step = 0;     // Step below
    QString desk;
};
// How far the end has come; each is claimed by one desk.
enum PackageStep { Sold = 0, FirstWarned = 1, SecondWarned = 2, Ended = 3, Locked = 4 };

// The running package of machine; nullopt when it has none. *failed when it cannot be read.
std::optional<SoldPackage> RunningPackage(Desk& desk, const QString& machine, bool* failed);
// The machines holding a running package sold as name (any package when name is empty),
// sorted; nullopt when they cannot be read.
std::optional<QStringList> MachinesHolding(Desk& desk, const QString& name = {});

// The packages a machine may be sold now, in the catalogue's order; those it may not with why.
struct Offer {
    const Package* package;
    std::optional<NotSellable> why;
};
std::vector<Offer> Offers(const Catalogue& catalogue, const SaleContext& where, const QDateTime& at,
                          bool machineHoldsOne);

// Sells package name to machine and takes the money (a journal row 包时售出): on an idle
// machine the session starts on it ("sj", as 上机 does); on a machine in a normal session the
// package starts now and the time before stays billed as before. With its boxes; true when
// sold.
bool SellPackage(Desk& desk, const QString& machine, const QString& name, const SaleContext& where);

// A sale made by mistake is voided (a journal row 包时作废 giving back all that was paid for it,
// extensions included; never an edit): within kVoidMinutes of the sale by whoever is at the
// desk, later only with the owner's approval; a reason is required. The session is then billed
// by the clock from its start. With its boxes; true when voided.
constexpr int kVoidMinutes = 5;
bool VoidPackage(Desk& desk, const QString& machine, const QString& reason);

// More time for a running package: another package of the catalogue (sellable now, in the
// machine's zone; a length adds its minutes, a window or "until" runs to its next end after
// the current one) or minutes for money. A journal row 包时续时; the end moves and the warnings
// come again. Not once the package has ended. With its boxes; true when done.
struct Extension {
    QString package;  // the catalogue's; empty: minutes for price
    int minutes = 0;
    qint64 price = 0;  // fen
};
bool ExtendPackage(Desk& desk, const QString& machine, const Extension& extension,
                   const SaleContext& where);

// Every tick: the warnings before the end, the end itself, and a locked package's "xiaji" a
// minute after its end, each told once (on a server, by the one desk that claims it). The
// client's messages go out without a box; the operator's warning comes as a reminder does.
void WatchPackages(Desk& desk);

// What a checkout shows for a machine's package: the price paid, the refund if it ended now.
struct PackageBill {
    SoldPackage sold;
    qint64 refund = 0;  // fen
};
// nullopt when the machine holds none (or it cannot be read: *failed). at: the checkout's
// moment (invalid: now).
std::optional<PackageBill> PackageAtCheckout(Desk& desk, const QString& machine, bool* failed,
                                             const QDateTime& at = {});
// What the bill and the receipt list for it: the package with what was paid up front, and the
// refund when there is one (amounts in yuan, as the bill writes money).
std::vector<Desk::SettledLine> PackageLines(const PackageBill& bill);

// A transfer from..to that would carry from's package into another zone: the box's text for
// the owner's approval; nullopt when it stays in its zone (or there is none).
std::optional<QString> CrossZoneMove(Desk& desk, const QString& from, const QString& to);

// Hooks the desk's checkouts and transfers: a checkout closes the machine's package and
// journals its refund (a row 包时退款, cash out) in the checkout's transaction; a transfer
// carries the package to the new machine, a flagged row 包时跨区 when that is in another zone
// (the approval was asked for before, with CrossZoneMove).
void InstallPackageHooks(Desk& desk);

// 提示时间 of a package session: its end as H:mm.
QString PackageEndText(const QDateTime& ends);

#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "ledger/BillDetail.h"
#include "plans/Plan.h"

class Desk;
class Engine;
class QSqlDatabase;

// The price plans as they are stored: versions (each from a date-time), holidays, the
// machines' zones, and each session's full start. Without a saved plan nothing here changes
// how a session is billed.

// Where a session stands beyond what Tcount holds.
struct SessionRecord {
    qint64 startedMinute = -1;  // on the wall clock (WallMinute); -1: unreadable
    int startedSecond = 0;
    QString zone;       // empty: the machine's zone
    qint64 carried = 0;  // fen billed before (time fee before an overnight that ended)
    // Time paid for up front (a package): not billed from prepaidFrom to prepaidTo; after it,
    // billed from that minute on when billAfter, else not at all.
    QDateTime prepaidFrom, prepaidTo;
    bool billAfter = true;
};

struct PlanState {
    Pricing pricing;
    QHash<QString, SessionRecord> sessions;  // by machine name as Tcount holds it
    bool any = false;                        // some version has ever been saved
};

// Reads what billing by the clock needs, on any connection (the pass's worker). rate is the
// tariff's OneTime. A database without the plans' tables has no plan. False with the error
// when the tables are there but cannot be read. With machine, only that machine's zone and
// session are read.
bool ReadPlanState(QSqlDatabase& db, const Engine& engine, double rate, PlanState* state,
                   QString* error, const QString& machine = {});
// What the billing pass keeps between its ticks: the versions, holidays and machines' zones as
// they were when Tplanstamp last moved (every change of them moves it, on whichever desk), and
// the listed zone of the machine at each place of the pass's rows, as last looked up.
struct PlanCache {
    qint64 stamp = -1;
    PlanState state;  // no sessions; the pass sets the tariff's rate
    std::vector<std::pair<QString, QString>> byRow;
    // The listed zone of the machine at row of a pass (empty: not listed). The rows come in
    // the same order pass after pass, so the machine there is looked up only when it changed.
    QString ListedZone(size_t row, const QString& machine);
};
// Reads again what the stamp says has changed, on any connection (the pass's worker). False
// with the error; a file without the plans' tables has no plan.
bool RefreshPlanCache(QSqlDatabase& db, const Engine& engine, PlanCache* cache, QString* error);
// The records a pass needs: of sessions begun before today, or kept (their zone kept over a
// change of the zones, a transfer, an overnight that ended). Any other session began today at
// its Tstart in its machine's zone, as its record says. By the name as Tcount holds it.
bool ReadKeptSessions(QSqlDatabase& db, const Engine& engine, const QDateTime& now,
                      QHash<QString, SessionRecord>* sessions, QString* error);
// The same on the desk's connection, with the tariff read too; nullopt after its box.
std::optional<PlanState> ReadPlanState(Desk& desk);

// The bill of a session in 正常 under the plan in force at now, by the clock from its full
// start (a session without a record began today at tstart), plus what it carried; nullopt
// when no plan is in force.
std::optional<PlanBill> SessionPlanBill(const PlanState& state, const QString& machine,
                                        const QTime& tstart, const QDateTime& now,
                                        bool withSlots = false);
// The same given the session's record (null: none) and the machine's listed zone (empty: the
// default), as the pass reads them with the row.
std::optional<PlanBill> SessionPlanBill(const Pricing& pricing, const SessionRecord* record,
                                        const QString& listedZone, const QTime& tstart,
                                        const QDateTime& now, bool withSlots = false);
// The session's full start and zone as billing takes them.
QDateTime SessionStart(const PlanState& state, const QString& machine, const QTime& tstart,
                       const QDateTime& now);
QString SessionZone(const PlanState& state, const QString& machine, const QDateTime& now);

// In the caller's transaction: a session's record is written at its start, moved by a transfer,
// dropped by a checkout. True (nothing written) on a file that cannot hold the plans' tables.
bool NoteSessionStart(Desk& desk, const QString& machine, const QDateTime& started);
bool MoveSessionRecord(Desk& desk, const QString& from, const QString& to);
bool DropSessionRecord(Desk& desk, const QString& machine);
// Time paid up front in the caller's transaction: from..to is not billed; after to, billed
// from that minute when billAfter. sessionStart: the session's full start, for a session whose
// record was not kept.
bool NotePrepaid(Desk& desk, const QString& machine, const QDateTime& sessionStart,
                 const QDateTime& from, const QDateTime& to, bool billAfter);
// The session is billed by the clock from its start again, as if nothing was paid up front.
bool DropPrepaid(Desk& desk, const QString& machine);
// An overnight sold under a plan: from now, ending at ends.
bool NoteOvernight(Desk& desk, const QString& machine, const QDateTime& now,
                   const QDateTime& ends);

// The plan as saved last (the newest version, with today's holidays and zones); nullopt when
// none is saved or the newest turned it off.
std::optional<Plan> SavedPlan(Desk& desk);

// Checks the plan and saves it as a version taking effect at from (never earlier than now),
// with its holidays and machines' zones, the default zone's base rate and overnight price in
// Tmoney, and a journal row (old plan, new plan, from when). False with one line saying why.
bool SavePlan(Desk& desk, const Plan& plan, const QDateTime& from, QString* problem);
// Back to the single rate of the tariff from then on, journalled.
bool PlanOff(Desk& desk, const QDateTime& from, QString* problem);
// When a change asked for from takes effect: from, or this minute when from is past or not
// given (time already played is never re-priced).
QDateTime PlanEffectiveFrom(Desk& desk, const QDateTime& from);
// A machine's zone, journalled; an empty zone puts it in the default zone.
bool SetMachineZone(Desk& desk, const QString& machine, const QString& zone, QString* problem);

// The next moment at minute of the day strictly after now (an overnight's end).
QDateTime NextAt(const QDateTime& now, int minute);

QString PlanDateTimeText(const QDateTime& t);  // yyyy-MM-dd HH:mm
QDateTime ParsePlanDateTime(const QString& text);  // invalid when it is not one

// The overnight the machine's zone sells under the plan in force now; nullopt without a plan
// or when the zone sells none (the tariff's 通宵 then, as without a plan).
std::optional<NightSale> PlanOvernight(Desk& desk, const QString& machine);

// 试算 and `cafe-admin bill`: a session of zone (empty: the default zone) from start to end,
// priced by the same slots as the billing pass; without a plan, at Tmoney's rate by the
// part-hour bands. nullopt after its box when the prices cannot be read; nullopt without a
// box, with *unknownZone set, when the plan in force at start has no such zone.
// With prepaid: a session sold on a package at start, billed as the pass bills one (nothing
// until prepaid->to, then from that second when billAfter). *zoneUsed: the zone priced.
struct PreviewPrepaid {
    QDateTime to;
    bool billAfter = true;
};
std::optional<PlanBill> PreviewBill(Desk& desk, const QString& zone, const QDateTime& start,
                                    const QDateTime& end, QString* unknownZone = nullptr,
                                    const PreviewPrepaid* prepaid = nullptr,
                                    QString* zoneUsed = nullptr);

// The machine's zone when a plan is in force now; empty without one (the panel then shows
// nothing, as it always did).
QString MachineZoneNow(Desk& desk, const QString& machine);
// The zones of the plan saved last; empty when none is on.
QStringList PlanZoneNames(Desk& desk);

// A bill as the checkout shows it, explained: each run of hour slots with its times, rate and
// amount, the part hour, what was billed before an overnight that ended, the extras (the
// overnight price among them), the total. One line each, for the 明细 box.
QStringList BillBreakdown(Desk& desk, const QString& machine, const QString& tstart,
                          const QString& used, const QString& fee, const QString& other,
                          const QString& total, const QString& state);
// The same runs for the checkout's journal row and the receipt: empty without a plan in force
// (the receipt then is as it always was) or when the plan cannot be read. Asks nothing: a
// checkout reads it under its row lock.
BillDetail PlanBillDetail(Desk& desk, const QString& machine, const QString& tstart,
                          const QString& used, const QString& state);

// The runs of a bill, one line each: times, hours × rate = amount; the part hour.
QStringList SlotLines(const PlanBill& bill);

// --- The owner's command line (cafe-admin prices …, bill) ---

// The saved plan as its JSON; nullopt when none is on.
std::optional<QByteArray> ExportPlan(Desk& desk);
// Checks json as 设置 does and saves it from fromText ("YYYY-MM-DD HH:MM"; empty: now),
// journalled. Empty on success, else one line saying what is wrong (zone, day, minutes);
// nothing is changed then.
QString ImportPlan(Desk& desk, const QByteArray& json, const QString& fromText);
// One object: "total" (the fee as the bill shows it), "used", and "slots" (from, to, rate,
// amount, each run of slots and the part hour).
QByteArray BillJson(const PlanBill& bill);
// Notes the tariff written by 设置 while a plan is on, so it is not taken for another tool's.
bool NoteTariff(Desk& desk, const QString& hourly, const QString& overnight);

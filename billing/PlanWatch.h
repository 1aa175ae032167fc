#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class Desk;
class Engine;
class QSqlDatabase;

// What the watch reads at a tick, on any connection (the desk's worker): the overnights under
// way that end, what Tmoney holds and what the plan in force wrote there, and the machines'
// zones for the panel. ok is false when it could not be read (the passes say so).
struct PlanWatchRead {
    struct Night {
        QString machine;
        QDateTime ends;
        bool warned = false;
    };
    bool ok = false;
    std::vector<Night> nights;
    QString defaultZone;             // the first zone of the plan in force; empty: no plan
    QHash<QString, QString> zoneOf;  // MachineNameKey -> zone
    QString tariffSeen;              // Tmoney's OneTime/Tnight, under a plan
    QString tariffWritten;           // the same as the plan in force wrote them
};
PlanWatchRead ReadPlanWatch(QSqlDatabase& db, const Engine& engine, const QDateTime& now);

// What a price plan needs watching for between the passes, on every tick of the window:
// ten minutes before an overnight ends the operator is told (and the client, when sendMessage);
// at its end the session goes back to 正常, billed from that minute at its zone's rate, its
// overnight price kept in its charges. A change made to Tmoney by another tool while a plan is
// on is shown once. On a server one desk tells and ends each overnight. It also keeps the
// machines' zones as the tick read them, for the panel beside "当前机器：".
class PlanWatch {
  public:
    explicit PlanWatch(Desk& desk) : desk(desk) {}
    // Read on the desk's own connection, then acted on: a test's way, or a desk's without a
    // worker.
    void Tick();
    // The same with the reads on the desk's worker, the timer's way: the window never waits
    // for the server. A tick while the last read is out is skipped.
    void TickBeside();
    // The machine's zone as the last tick read it, under the plan in force; empty without one.
    QString ZoneOf(const QString& machine) const;
    bool sendMessage = true;
    std::function<void()> onRead;  // on the window's thread, once a tick's read is in

  private:
    void Act(const PlanWatchRead& read);
    Desk& desk;
    QString m_toldTariff;  // the Tmoney texts already shown
    QString m_defaultZone;
    QHash<QString, QString> m_zoneOf;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);  // for a read still out
};

// Ends machine's overnight that ended at ends: back to 正常 from then, journalled. False when
// another desk (or a checkout) was first.
bool EndOvernight(Desk& desk, const QString& machine, const QDateTime& ends);

// The text sent to the client ten minutes before its overnight ends.
QString OvernightEndingMessage();

#pragma once

#include <QDateTime>
#include <QString>

class Desk;

// What a price plan needs watching for between the passes, on every tick of the window:
// ten minutes before an overnight ends the operator is told (and the client, when sendMessage);
// at its end the session goes back to 正常, billed from that minute at its zone's rate, its
// overnight price kept in its charges. A change made to Tmoney by another tool while a plan is
// on is shown once. On a server one desk tells and ends each overnight.
class PlanWatch {
  public:
    explicit PlanWatch(Desk& desk) : desk(desk) {}
    void Tick();
    bool sendMessage = true;

  private:
    Desk& desk;
    QString m_toldTariff;  // the Tmoney texts already shown
};

// Ends machine's overnight that ended at ends: back to 正常 from then, journalled. False when
// another desk (or a checkout) was first.
bool EndOvernight(Desk& desk, const QString& machine, const QDateTime& ends);

// The text sent to the client ten minutes before its overnight ends.
QString OvernightEndingMessage();

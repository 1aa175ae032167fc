#pragma once

#include <QString>

class Desk;

// Every 30 s: writes the time of day into Tnow of the normal sessions, reopens the grid.
void RefreshClock(Desk& desk);

// Every 30 s: re-prices every normal session from its start with the current rate, and asks
// about sessions that ran past midnight. A tick while a pass of the same kind still waits in a
// box is skipped.
void BillingPass(Desk& desk);

// The box for a bill whose amount is not a finite number: nothing is written for it.
QString NonFiniteBillText(const QString& machine);

struct ElapsedTime {
    int hours;
    int minutes;  // 0 to 59
};

// Whole hours and minutes from start to now; seconds do not count. Only for now >= start
// by hour and minute.
ElapsedTime Elapsed(int startHour, int startMinute, int nowHour, int nowMinute);

// The time fee by the part-hour bands: a third of the rate from 5 minutes, two thirds from 20,
// the whole rate from 40; the part formed in extended precision, rounded to a tenth (ties
// to even).
double TimeFee(double rate, int hours, int minutes);

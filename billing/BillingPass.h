#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

class Desk;

// Every 30 s: writes the time of day into Tnow of the normal sessions and shows it in the grid.
void RefreshClock(Desk& desk);

// Every 30 s: re-prices every normal session from its start with the current rate, and asks
// about sessions that ran past midnight. A tick while a pass of the same kind still runs or
// waits in a box is skipped.
void BillingPass(Desk& desk);

// The same two, with their reading and writing on the desk's worker, beside the window: the
// timers' way. Boxes, the midnight question and the grid still come on the window's thread,
// in the same order; the pass is over when its flag on the desk goes down.
void RefreshClockBeside(Desk& desk);
void BillingPassBeside(Desk& desk);

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

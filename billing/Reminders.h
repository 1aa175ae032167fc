#pragma once

#include <QString>
#include <QTime>

class Desk;

// 定时提醒: for a machine in session, a reminder at a time of day (the next time the clock shows
// it) or in some minutes, written into gotime (提示时间) as H:mm. With sendMessage the client is
// also sent " 您的上网时间到了" when it falls due. With its boxes; true when set.
bool SetReminder(Desk& desk, const QString& machine, const QTime& at, bool sendMessage);
bool SetReminderIn(Desk& desk, const QString& machine, int minutes, bool sendMessage);

// Whether machine is in a session and can have a reminder; says why not when it cannot.
bool CanRemind(Desk& desk, const QString& machine);

// Every tick: a reminder whose time has come is told once (a box naming the machine and the
// time), and its message sent if asked for. A reminder this desk did not set (another desk's,
// or one from before a restart) falls due when the clock has passed its time by less than 12
// hours.
void CheckReminders(Desk& desk);
// The same with the rows read on the desk's worker: the timer's way, so the window never waits
// for the server. A tick while the last read is still out is skipped.
void CheckRemindersBeside(Desk& desk);

// Whether the reminder shown in a machine's 提示时间 has fallen due: the grid marks the cell
// until the session ends or a new reminder is set.
bool ReminderDue(const Desk& desk, const QString& machine, const QString& gotime);

// The text sent to the client when its reminder falls due (the messenger's command).
QString ReminderMessage();

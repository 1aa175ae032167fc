#pragma once

#include <QString>

class Desk;

// A command that changes a client's lock leaves before its transaction commits (the write is
// done and the lock held, only the commit follows). When that commit fails, the database is
// asked again, on a connection of its own, what it holds: no client may stay unlocked
// without a recorded session.

enum class Recorded { Yes, No, Unknown };  // Unknown: the database could not be read

// Whether machine's start is in the database after all: its row is in a normal session (the
// row was idle under the lock the start took, so that session is the one whose "sj" left).
Recorded StartRecorded(Desk& desk, const QString& machine);
// Whether machine's checkout is: its row is idle.
Recorded CheckoutRecorded(Desk& desk, const QString& machine);

// After "sj" left and the start's commit failed: unless the start is recorded after all, the
// client is locked again with "xiaji" (sent without a box).
enum class Relock {
    Started,       // the start is recorded after all: nothing sent
    Locked,        // not recorded: "xiaji" sent
    LockedUnsure,  // the database could not say: "xiaji" sent to be safe
    NotLocked,     // not recorded (or unsure) and "xiaji" could not be sent
};
Relock LockAgainUnlessStarted(Desk& desk, const QString& machine);
// The single command's one box for it (empty for Started); why: the commit's error.
QString RelockText(Relock relock, const QString& machine, const QString& why);

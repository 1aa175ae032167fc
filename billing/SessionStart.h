#pragma once

#include <functional>

class QString;

class Desk;

// 上机: checks that the highlighted machine is idle, tells it "sj", writes the start row.
void StartCommand(Desk& desk);
// Sends "sj" to SelectedMachine and, when that went out, writes the start row. alsoWrite, when
// given, writes what else the start records in the same transaction (a package sold with it);
// false from it stops the start before "sj" leaves. True when the start is recorded.
bool StartSession(Desk& desk, const std::function<bool()>& alsoWrite = {});
// Writes the start row for machine on the grid query (which it leaves closed). No box.
bool WriteSessionStart(Desk& desk, const QString& machine);

// Inside a write transaction: the machine is still idle (re-checked under its row lock, so a
// second desk cannot start it too) and its start row is written. False with the refusal to
// show (empty when the database failed).
bool LockIdleAndWriteStart(Desk& desk, const QString& machine, QString* refusal);

#pragma once

#include <QString>
#include <functional>

class Desk;

// Sends text to SelectedMachine; true when the datagram was handed to the network.
bool SendCommand(Desk& desk, const QString& text);

enum class SendOutcome { Sent, Failed, NotLocked };

// SendCommand for a command whose effect must be recorded ("sj", "xiaji"): prepare runs after
// the look-up and before the datagram leaves, to lock and write (false: nothing leaves, no box
// is shown, NotLocked); record runs right after it left, to commit, before the box that names
// the machine. Neither may show a box or run the event loop.
SendOutcome SendRecordedCommand(Desk& desk, const QString& text,
                                const std::function<bool()>& prepare,
                                const std::function<void()>& record);

// Sends text to machine without the box that names it (the caller tells the operator what
// happened); false when it could not leave.
bool SendQuietly(Desk& desk, const QString& machine, const QString& text);

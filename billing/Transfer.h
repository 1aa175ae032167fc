#pragma once

#include <QString>
#include <functional>

class Desk;

// Copies the source's session onto the target and resets the source, both or neither, while
// the source is still in session and the target still idle; then "xiaji" to the source and
// "sj" to the target. moved runs once the rows are written and the grid refreshed, before the
// sends (the dialog hides then). False when nothing was moved.
bool TransferSession(Desk& desk, const QString& source, const QString& target,
                     const std::function<void()>& moved = {});

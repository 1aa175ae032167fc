#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "record_store/PackedTexts.h"

class Desk;

namespace MachineText {
inline const QString DuplicateName = QStringLiteral("数据库中已有此计算机名，请重新输入!");
}  // namespace MachineText

// Every machine's name in name order; nullopt (after its box) when the table cannot be read.
std::optional<QStringList> AllMachineNames(Desk& desk);
// The same names packed into names (emptied first, its buffer kept), for a list of thousands.
// False (after its box) when the table cannot be read.
bool AllMachineNamesInto(Desk& desk, PackedTexts* names);

// Mode 1: the machines in a session (normal or overnight); any other mode: the idle machines,
// in the order the engine returns them. nullopt (after its box) on a failure.
std::optional<QStringList> MachineNamesByState(Desk& desk, int mode);

enum class AddOutcome { Added, Duplicate, Failed };

// Adds a row for name unless a machine of that name exists, ignoring case in any script.
// Shows the boxes: a duplicate or a database failure; a success says nothing.
AddOutcome AddMachine(Desk& desk, const QString& name);

// Deletes the machine's row, whatever its state. False (after its box) when it failed.
bool DeleteMachine(Desk& desk, const QString& name);

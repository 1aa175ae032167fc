#include "console/FillMachineCombo.h"

#include <QComboBox>

#include "machines/Machines.h"

void FillMachineCombo(Desk& desk, QComboBox* combo, int mode) {
    const std::optional<QStringList> names = MachineNamesByState(desk, mode);
    if (!names) return;  // the list keeps what it held
    combo->clear();
    combo->addItems(*names);
}

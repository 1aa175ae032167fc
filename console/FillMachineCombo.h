#pragma once

class Desk;
class QComboBox;

// Mode 1: the machines in a session (normal or overnight); any other mode: the idle machines.
void FillMachineCombo(Desk& desk, QComboBox* combo, int mode);

#pragma once

class Desk;

// True when SelectedMachine's row is overnight; refreshes the grid when the look-up ran.
bool IsOvernight(Desk& desk);

// 通宵: the flat overnight price is added to the charges and the total, the start time restarts,
// the state becomes "通宵" and the client is told "sj". Written before it is sent.
void StartOvernight(Desk& desk);

#pragma once

class Desk;

// At start: the day's first copy of the database into backup/ beside it, keeping the last 14,
// made beside the window on a connection of its own. Only a failure says anything.
void BackUpToday(Desk& desk);

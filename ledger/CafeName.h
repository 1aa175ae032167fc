#pragma once

#include <QString>

class Desk;

// The café's name, the heading of every report and receipt. Kept in the database, so every
// desk prints the same; "青岚网吧" until the owner sets another.
inline const QString DefaultCafeName = QStringLiteral("青岚网吧");

// The name as set, or the default when none is (or it cannot be read).
QString CafeName(Desk& desk);

// Sets it, blanks around it removed; an empty name is refused. With its boxes; true when
// written.
bool SetCafeName(Desk& desk, const QString& name);

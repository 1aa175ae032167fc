#pragma once

#include <QString>
#include <optional>

class Desk;

// The database's own settings (Tsetting), shared by every desk: one value per name. Run on the
// journal's query, inside the caller's transaction when there is one.
// The value, empty when none is set; nullopt when it cannot be read.
std::optional<QString> StoredOption(Desk& desk, const QString& name);
bool StoreOption(Desk& desk, const QString& name, const QString& value);

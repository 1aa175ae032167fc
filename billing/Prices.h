#pragma once

#include <QString>
#include <optional>
#include <utility>

class Desk;

struct Prices {
    QString hourly;     // OneTime of the first Tmoney row
    QString overnight;  // Tnight
};

// The tariff the passes use; nullopt (after its box) when it cannot be read.
std::optional<Prices> ReadPrices(Desk& desk);
// The same without a box, for a caller inside a transaction; an empty table reads as empty texts.
std::optional<Prices> ReadTariff(Desk& desk);

// Sets both prices: each a finite decimal above zero, stored in the console's decimal format,
// written in one transaction with a journal row (old and new prices, operator). With its
// boxes; true when written. The next billing pass uses the new rate.
bool SetPrices(Desk& desk, const QString& hourlyText, const QString& overnightText);

// How many machines a new hourly rate would bill again from their session's start: the normal
// sessions, which every pass prices afresh; none when the rate would stay as it is or is not
// a price at all.
int SessionsRepricedBy(Desk& desk, const QString& hourlyText);

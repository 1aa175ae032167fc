#pragma once

#include <QString>
#include <QTime>
#include <optional>

#include "record_store/CafeError.h"

// A text that does not convert to a number or a time. Carries the operator-facing text;
// every entry point's guard shows it through the unhandled-error report.
class ConversionError : public CafeError {
  public:
    using CafeError::CafeError;
};

// Any other failure that no operation handles itself (a failed tariff read, a database that
// cannot be connected); shown like a ConversionError.
class UnhandledError : public CafeError {
  public:
    using CafeError::CafeError;
};

// The default database file cannot be made in the start folder, and nothing else is usable:
// the console cannot work at all.
class NoDatabaseError : public UnhandledError {
  public:
    using UnhandledError::UnhandledError;
};

// General float-to-text: up to 15 significant digits, no trailing zeros, "." as the point.
QString DecimalText(double value);

// Machine names are one machine when they differ only in letter case, in any script (Ä-pc and
// ä-pc, Straße and STRASSE): this key is equal exactly then.
QString MachineNameKey(const QString& name);

// An empty amount counts as "0".
inline QString TextOrZero(const QString& text) {
    return text.isEmpty() ? QStringLiteral("0") : text;
}

// Strict text-to-float: blanks, sign, digits, point, exponent and nothing else.
// Throws ConversionError "'<text>' is not a valid floating point value".
double ParseDecimal(const QString& text);

// Money in whole fen (0.01 yuan), summed exactly: 0.1 + 0.2 is 0.3 in every total. The text
// of an amount may carry the unit "元" (a time fee does); empty counts as 0. nullopt for a
// text that is not an amount or does not fit.
std::optional<qint64> ParseCents(const QString& text);
QString CentsText(qint64 cents);  // "12.30", "-0.50"

// An amount the operator types, read exactly: the strict grammar of ParseDecimal, at most two
// decimals once trailing zeros are dropped (2.555 is refused, not rounded; 2.50 and 1e-2 are
// fine), and at most limitCents either side of zero.
struct TypedAmount {
    enum Check { Ok, NotANumber, TooManyDecimals, TooLarge } check = NotANumber;
    qint64 cents = 0;
};
TypedAmount ReadTypedAmount(const QString& text, qint64 limitCents);

// Unpadded H:M:S (9:05:07 gives 9:5:7).
QString ClockText(const QTime& time);

// 24-hour H:mm:ss without a leading zero on the hour (9:05:07).
QString LongTimeText(const QTime& time);

// A time of day "H:M[:S[.zzz]]", leading zeros optional, optionally preceded by a date
// "yyyy-M-d" or "yyyy/M/d" and a blank. Throws ConversionError
// "'<text>' is not a valid date and time".
QTime ParseDateTime(const QString& text);

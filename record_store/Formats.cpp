#include "record_store/Formats.h"

#include <QDate>
#include <QLocale>
#include <charconv>
#include <cmath>

QString DecimalText(double value) {
    if (value == 0.0) return QStringLiteral("0");  // never "-0"
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString MachineNameKey(const QString& name) {
    // Upper case first: it maps ß to SS and final sigma to Σ, which folding alone does not.
    return name.toUpper().toCaseFolded();
}

double ParseDecimal(const QString& text) {
    // Blanks, sign, digits, point, exponent, blanks; nothing else (no inf, nan, separators).
    const auto invalid = [&] {
        return ConversionError(
            QStringLiteral("'%1' is not a valid floating point value").arg(text));
    };
    qsizetype begin = 0, end = text.size();
    while (begin < end && (text[begin] == QLatin1Char(' ') || text[begin] == QLatin1Char('\t')))
        ++begin;
    while (end > begin && (text[end - 1] == QLatin1Char(' ') || text[end - 1] == QLatin1Char('\t')))
        --end;
    QByteArray number;
    number.reserve(end - begin);
    qsizetype pos = begin;
    const auto at = [&](char16_t c) { return pos < end && text[pos].unicode() == c; };
    const auto sign = [&] {
        if (at(u'-')) number.append('-');
        if (at(u'-') || at(u'+')) ++pos;  // from_chars takes no leading plus
    };
    // Where the first significant digit stands, to tell an underflow from an overflow.
    qsizetype integerDigits = 0, leadIndex = -1, mantissaDigits = 0;
    const auto digitRun = [&](bool fraction) {
        while (pos < end && text[pos].unicode() >= u'0' && text[pos].unicode() <= u'9') {
            if (leadIndex < 0 && text[pos] != QLatin1Char('0')) leadIndex = mantissaDigits;
            number.append(static_cast<char>(text[pos].unicode()));
            ++mantissaDigits;
            if (!fraction) ++integerDigits;
            ++pos;
        }
    };
    sign();
    digitRun(false);
    if (at(u'.')) {
        number.append('.');
        ++pos;
        digitRun(true);
    }
    if (mantissaDigits == 0) throw invalid();
    long long exponent = 0;
    if (at(u'e') || at(u'E')) {
        number.append('e');
        ++pos;
        const bool negative = at(u'-');
        sign();
        const qsizetype exponentStart = pos;
        while (pos < end && text[pos].unicode() >= u'0' && text[pos].unicode() <= u'9') {
            number.append(static_cast<char>(text[pos].unicode()));
            exponent = qMin(exponent * 10 + (text[pos].unicode() - u'0'), 1000000000LL);
            ++pos;
        }
        if (pos == exponentStart) throw invalid();
        if (negative) exponent = -exponent;
    }
    if (pos != end) throw invalid();

    double value = 0;
    const auto [ptr, error] =
        std::from_chars(number.constData(), number.constData() + number.size(), value);
    if (ptr != number.constData() + number.size()) throw invalid();
    if (error == std::errc::result_out_of_range) {
        // Too small to hold: the nearest double, zero, as 1e-320 becomes the nearest subnormal.
        const long long order = static_cast<long long>(integerDigits - 1 - leadIndex) + exponent;
        if (leadIndex >= 0 && order < 0) return number.startsWith('-') ? -0.0 : 0.0;
        throw invalid();
    }
    if (error != std::errc() || !std::isfinite(value)) throw invalid();
    return value;
}

std::optional<qint64> ParseCents(const QString& text) {
    QString amount = text.trimmed();
    if (amount.endsWith(u'元')) amount.chop(1);
    if (amount.isEmpty()) return 0;
    try {
        // Texts the console writes have at most 15 significant digits, so the nearest double
        // times 100 rounds to the exact fen.
        const long double fen = static_cast<long double>(ParseDecimal(amount)) * 100;
        if (std::fabs(fen) > 9e15L) return std::nullopt;
        return static_cast<qint64>(std::llround(fen));
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

QString CentsText(qint64 cents) {
    const qint64 whole = cents / 100, part = std::llabs(cents % 100);
    const QString sign = cents < 0 && whole == 0 ? QStringLiteral("-") : QString();
    return sign + QString::number(whole) + QLatin1Char('.') +
           QStringLiteral("%1").arg(part, 2, 10, QLatin1Char('0'));
}

TypedAmount ReadTypedAmount(const QString& text, qint64 limitCents) {
    TypedAmount out;
    try {
        ParseDecimal(text);  // the grammar, and a finite value
    } catch (const ConversionError&) {
        return out;
    }
    // The digits exactly as typed: value = digits x 10^(exponent - fraction digits).
    QString t = text.trimmed();
    const bool negative = t.startsWith(QLatin1Char('-'));
    if (negative || t.startsWith(QLatin1Char('+'))) t.remove(0, 1);
    long long exponent = 0;
    const qsizetype e = t.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
    if (e >= 0) {
        bool ok = false;
        exponent = t.mid(e + 1).toLongLong(&ok);
        if (!ok) exponent = t.mid(e + 1).startsWith(QLatin1Char('-')) ? -100000 : 100000;
        t.truncate(e);
    }
    const qsizetype point = t.indexOf(QLatin1Char('.'));
    QString digits = t;
    if (point >= 0) {
        digits.remove(point, 1);
        exponent -= t.size() - point - 1;
    }
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0'))) digits.remove(0, 1);
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0'))) {  // 2.50 is 2.5
        digits.chop(1);
        ++exponent;
    }
    if (digits == QLatin1String("0")) exponent = 0;
    const long long scale = exponent + 2;  // to fen
    if (scale < 0) {
        out.check = TypedAmount::TooManyDecimals;
        return out;
    }
    if (digits.size() + scale > 17) {  // beyond any limit, and beyond qint64
        out.check = TypedAmount::TooLarge;
        return out;
    }
    qint64 cents = digits.toLongLong();
    for (long long i = 0; i < scale; ++i) cents *= 10;
    if (cents > limitCents) {
        out.check = TypedAmount::TooLarge;
        return out;
    }
    out.check = TypedAmount::Ok;
    out.cents = negative ? -cents : cents;
    return out;
}

QString ClockText(const QTime& time) {
    return QStringLiteral("%1:%2:%3").arg(time.hour()).arg(time.minute()).arg(time.second());
}

QString LongTimeText(const QTime& time) {
    return QStringLiteral("%1:%2:%3")
        .arg(time.hour())
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'));
}

namespace {

// Reads 1 to maxDigits digits at pos; -1 when there are none.
int digits(const QString& text, qsizetype& pos, int maxDigits) {
    int value = 0, count = 0;
    while (pos < text.size() && count < maxDigits && text[pos].isDigit() &&
           text[pos].unicode() < 128) {
        value = value * 10 + (text[pos].unicode() - '0');
        ++pos;
        ++count;
    }
    return count ? value : -1;
}

bool blank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

}  // namespace

// Hand-written rather than a regular expression: the billing pass parses every running
// session's start every 30 seconds.
QTime ParseDateTime(const QString& text) {
    const auto invalid = [&] {
        return ConversionError(QStringLiteral("'%1' is not a valid date and time").arg(text));
    };
    qsizetype pos = 0;
    const qsizetype end = text.size();
    while (pos < end && blank(text[pos])) ++pos;

    // An optional date: yyyy-M-d or yyyy/M/d, then blanks or the end.
    bool hasDate = false;
    {
        qsizetype p = pos;
        const int year = digits(text, p, 4);
        if (year >= 0 && p - pos == 4 && p < end &&
            (text[p] == QLatin1Char('-') || text[p] == QLatin1Char('/'))) {
            const QChar separator = text[p++];
            const int month = digits(text, p, 2);
            if (month < 0 || p >= end || text[p] != separator) throw invalid();
            ++p;
            const int day = digits(text, p, 2);
            if (day < 0 || !QDate(year, month, day).isValid()) throw invalid();
            if (p < end && !blank(text[p])) throw invalid();
            while (p < end && blank(text[p])) ++p;
            pos = p;
            hasDate = true;
        }
    }
    if (pos == end) {
        if (hasDate) return QTime(0, 0);
        throw invalid();
    }
    const int hour = digits(text, pos, 2);
    if (hour < 0 || pos >= end || text[pos] != QLatin1Char(':')) throw invalid();
    ++pos;
    const int minute = digits(text, pos, 2);
    if (minute < 0) throw invalid();
    int second = 0, ms = 0;
    if (pos < end && text[pos] == QLatin1Char(':')) {
        ++pos;
        second = digits(text, pos, 2);
        if (second < 0) throw invalid();
        if (pos < end && text[pos] == QLatin1Char('.')) {
            ++pos;
            ms = digits(text, pos, 3);
            if (ms < 0) throw invalid();
        }
    }
    while (pos < end && blank(text[pos])) ++pos;
    const QTime time(hour, minute, second, ms);
    if (pos != end || !time.isValid()) throw invalid();
    return time;
}

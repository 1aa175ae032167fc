#include "record_store/Formats.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

ConversionError::ConversionError(const QString& text)
    : std::runtime_error(text.toStdString()), m_text(text) {}

UnhandledError::UnhandledError(const QString& text)
    : std::runtime_error(text.toStdString()), m_text(text) {}

QString DecimalText(double value) {
    if (value == 0.0) return QStringLiteral("0");  // never "-0"
    return QString::number(value, 'g', 15);
}

double ParseDecimal(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^[ \t]*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)[ \t]*$)"));
    const auto match = pattern.match(text);
    if (match.hasMatch()) {
        bool ok = false;
        const double value = QLocale::c().toDouble(match.captured(1), &ok);
        if (ok && std::isfinite(value)) return value;
    }
    throw ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
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

QTime ParseDateTime(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^[ \t]*(?:(\d{4})[-/](\d{1,2})[-/](\d{1,2})(?:[ \t]+|$))?)"
        R"((?:(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,3}))?)?)?[ \t]*$)"));
    const auto m = pattern.match(text);
    const bool hasDate = m.hasMatch() && !m.captured(1).isEmpty();
    const bool hasTime = m.hasMatch() && !m.captured(4).isEmpty();
    if (hasDate || hasTime) {
        const bool dateOk =
            !hasDate || QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt())
                            .isValid();
        const QTime time = hasTime ? QTime(m.captured(4).toInt(), m.captured(5).toInt(),
                                           m.captured(6).toInt(), m.captured(7).toInt())
                                   : QTime(0, 0);
        if (dateOk && time.isValid()) return time;
    }
    throw ConversionError(QStringLiteral("'%1' is not a valid date and time").arg(text));
}

#include "packages/Package.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include "record_store/Formats.h"

namespace {

const char* const kDayKeys[kSellDayTypes] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun", "holiday"};

// "HH:MM", 00:00 to 24:00; -1 when it is not such a time.
int ParseMinute(const QJsonValue& value) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch m = form.match(value.toString());
    if (!value.isString() || !m.hasMatch()) return -1;
    const int h = m.captured(1).toInt(), min = m.captured(2).toInt();
    if (min > 59 || h > 24 || (h == 24 && min != 0)) return -1;
    return h * 60 + min;
}

QString MinuteText(int minute) {
    return QStringLiteral("%1:%2").arg(minute / 60, 2, 10, QLatin1Char('0')).arg(minute % 60, 2, 10,
                                                                                 QLatin1Char('0'));
}

// A price: a decimal text with at most two places, above zero, at most 10,000 元 as every typed
// price is.
std::optional<qint64> ParsePrice(const QJsonValue& value) {
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,2})?$"));
    if (!value.isString() || !form.match(value.toString()).hasMatch()) return std::nullopt;
    const std::optional<qint64> fen = ParseCents(value.toString());
    if (!fen || *fen <= 0 || *fen > 1'000'000) return std::nullopt;
    return fen;
}

QString PriceText(qint64 fen) {
    QString text = CentsText(fen);  // "12.30"
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

// Minutes from a forward to b around the clock, in 1..1440 (b == a is a whole day).
int Forward(int a, int b) {
    const int d = ((b - a) % 1440 + 1440) % 1440;
    return d == 0 ? 1440 : d;
}

// The minute of the day a kind ends at; -1 for a length.
int EndMinute(const Package& p) {
    switch (p.kind) {
        case PackageKind::Window: return p.to % 1440;
        case PackageKind::Until: return p.until % 1440;
        case PackageKind::Length: break;
    }
    return -1;
}

std::optional<Package> FromObject(const QJsonObject& o, int index, QString* problem) {
    Package p;
    p.name = o.value(QStringLiteral("name")).toString();
    const QString label = !p.name.trimmed().isEmpty() ? QStringLiteral("包时“%1”").arg(p.name)
                          : index < 0              ? QStringLiteral("包时")
                                                   : QStringLiteral("第%1个包时").arg(index + 1);
    const auto fail = [&](const QString& text) -> std::optional<Package> {
        if (problem) *problem = label + QStringLiteral("：") + text;
        return std::nullopt;
    };
    if (p.name.trimmed().isEmpty()) return fail(QStringLiteral("没有名称"));
    for (const QJsonValue& z : o.value(QStringLiteral("zones")).toArray()) {
        if (!z.isString() || z.toString().trimmed().isEmpty())
            return fail(QStringLiteral("区域名称不能为空"));
        p.zones << z.toString();
    }
    if (p.zones.isEmpty()) return fail(QStringLiteral("没有写区域"));

    const QString kind = o.value(QStringLiteral("kind")).toString();
    if (kind == QLatin1String("length")) {
        p.kind = PackageKind::Length;
        const QJsonValue m = o.value(QStringLiteral("minutes"));
        const double minutes = m.toDouble(-1);
        if (!m.isDouble() || minutes != double(qint64(minutes)) || minutes < 1 || minutes > 7 * 1440)
            return fail(QStringLiteral("时长必须是1到10080之间的整分钟数"));
        p.minutes = int(minutes);
    } else if (kind == QLatin1String("window")) {
        p.kind = PackageKind::Window;
        p.from = ParseMinute(o.value(QStringLiteral("from")));
        p.to = ParseMinute(o.value(QStringLiteral("to")));
        if (p.from < 0 || p.to < 0 || p.from % 1440 == p.to % 1440)
            return fail(QStringLiteral("时段不对（格式 22:00，from 与 to 不能相同）"));
    } else if (kind == QLatin1String("until")) {
        p.kind = PackageKind::Until;
        p.until = ParseMinute(o.value(QStringLiteral("until")));
        if (p.until < 0) return fail(QStringLiteral("结束时间不对（格式 18:00）"));
    } else {
        return fail(QStringLiteral("种类“%1”不认识（length、window、until）").arg(kind));
    }

    const std::optional<qint64> price = ParsePrice(o.value(QStringLiteral("price")));
    if (!price) return fail(QStringLiteral("价格必须是大于0、不超过10000的金额，最多两位小数"));
    p.price = *price;

    const QJsonArray days = o.value(QStringLiteral("sell_days")).toArray();
    if (days.isEmpty()) return fail(QStringLiteral("没有写出售的日子"));
    for (const QJsonValue& d : days) {
        int found = -1;
        for (int k = 0; k < kSellDayTypes; ++k)
            if (d.toString() == QLatin1String(kDayKeys[k])) found = k;
        if (found < 0)
            return fail(QStringLiteral("出售的日子“%1”不认识（mon…sun、holiday）").arg(d.toString()));
        p.sellDays[size_t(found)] = true;
    }
    p.sellFrom = ParseMinute(o.value(QStringLiteral("sell_from")));
    p.sellTo = ParseMinute(o.value(QStringLiteral("sell_to")));
    if (p.sellFrom < 0 || p.sellTo < 0 || p.sellFrom == 1440 || p.sellTo == 0 ||
        (p.sellFrom == p.sellTo))
        return fail(QStringLiteral("出售时间不对（格式 20:00，到 24:00 为止，两者不能相同）"));

    const QString atEnd = o.value(QStringLiteral("at_end")).toString(QStringLiteral("continue"));
    if (atEnd == QLatin1String("continue"))
        p.atEnd = PackageEnd::Continue;
    else if (atEnd == QLatin1String("lock"))
        p.atEnd = PackageEnd::Lock;
    else
        return fail(QStringLiteral("到期处理“%1”不认识（continue、lock）").arg(atEnd));
    const QString refund = o.value(QStringLiteral("refund")).toString(QStringLiteral("none"));
    if (refund == QLatin1String("none"))
        p.refund = PackageRefund::None;
    else if (refund == QLatin1String("pro_rata"))
        p.refund = PackageRefund::ProRata;
    else
        return fail(QStringLiteral("退款方式“%1”不认识（none、pro_rata）").arg(refund));
    return p;
}

QJsonObject ToObject(const Package& p) {
    QJsonObject o{{QStringLiteral("name"), p.name},
                  {QStringLiteral("zones"), QJsonArray::fromStringList(p.zones)}};
    switch (p.kind) {
        case PackageKind::Length:
            o.insert(QStringLiteral("kind"), QStringLiteral("length"));
            o.insert(QStringLiteral("minutes"), p.minutes);
            break;
        case PackageKind::Window:
            o.insert(QStringLiteral("kind"), QStringLiteral("window"));
            o.insert(QStringLiteral("from"), MinuteText(p.from));
            o.insert(QStringLiteral("to"), MinuteText(p.to));
            break;
        case PackageKind::Until:
            o.insert(QStringLiteral("kind"), QStringLiteral("until"));
            o.insert(QStringLiteral("until"), MinuteText(p.until));
            break;
    }
    o.insert(QStringLiteral("price"), PriceText(p.price));
    QJsonArray days;
    for (int k = 0; k < kSellDayTypes; ++k)
        if (p.sellDays[size_t(k)]) days.append(QLatin1String(kDayKeys[k]));
    o.insert(QStringLiteral("sell_days"), days);
    o.insert(QStringLiteral("sell_from"), MinuteText(p.sellFrom));
    o.insert(QStringLiteral("sell_to"), MinuteText(p.sellTo));
    o.insert(QStringLiteral("at_end"), p.atEnd == PackageEnd::Lock ? QStringLiteral("lock")
                                                                   : QStringLiteral("continue"));
    o.insert(QStringLiteral("refund"), p.refund == PackageRefund::ProRata
                                           ? QStringLiteral("pro_rata")
                                           : QStringLiteral("none"));
    return o;
}

}  // namespace

const Package* Catalogue::Find(const QString& name) const {
    for (const Package& p : packages)
        if (p.name == name) return &p;
    return nullptr;
}

std::optional<Catalogue> CatalogueFromJson(const QByteArray& json, QString* problem) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (doc.isNull() || !doc.isObject() || !doc.object().value(QStringLiteral("packages")).isArray()) {
        if (problem)
            *problem = QStringLiteral("不是包时目录（要一个带 \"packages\" 列表的 JSON 对象）");
        return std::nullopt;
    }
    Catalogue catalogue;
    const QJsonArray list = doc.object().value(QStringLiteral("packages")).toArray();
    for (int i = 0; i < list.size(); ++i) {
        std::optional<Package> p = FromObject(list[i].toObject(), i, problem);
        if (!p) return std::nullopt;
        catalogue.packages.push_back(*p);
    }
    return catalogue;
}

QByteArray CatalogueToJson(const Catalogue& catalogue) {
    QJsonArray list;
    for (const Package& p : catalogue.packages) list.append(ToObject(p));
    return QJsonDocument(QJsonObject{{QStringLiteral("packages"), list}}).toJson();
}

QByteArray PackageToJson(const Package& package) {
    return QJsonDocument(ToObject(package)).toJson(QJsonDocument::Compact);
}

std::optional<Package> PackageFromJson(const QByteArray& json, QString* problem) {
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject()) {
        if (problem) *problem = QStringLiteral("包时记录无法读取");
        return std::nullopt;
    }
    return FromObject(doc.object(), 0, problem);
}

std::optional<Package> PackageFromObject(const QJsonObject& object, QString* problem) {
    return FromObject(object, -1, problem);
}

std::optional<QString> CheckCatalogue(const Catalogue& catalogue, const QStringList& zones) {
    QSet<QString> names;
    for (size_t i = 0; i < catalogue.packages.size(); ++i) {
        const Package& p = catalogue.packages[i];
        const QString label = QStringLiteral("包时“%1”：").arg(p.name);
        if (p.name.trimmed().isEmpty()) return QStringLiteral("包时没有名称");
        if (names.contains(p.name)) return label + QStringLiteral("名称重复");
        names.insert(p.name);
        if (p.price <= 0 || p.price > 1'000'000)
            return label + QStringLiteral("价格必须是大于0、不超过10000的金额");
        if (p.kind == PackageKind::Length && p.minutes < 1)
            return label + QStringLiteral("时长至少1分钟");
        if (p.zones.isEmpty()) return label + QStringLiteral("没有写区域");
        if (!zones.isEmpty())
            for (const QString& z : p.zones)
                if (!zones.contains(z))
                    return label + QStringLiteral("区域“%1”不在价格方案里").arg(z);
        bool anyDay = false;
        for (bool d : p.sellDays) anyDay = anyDay || d;
        if (!anyDay) return label + QStringLiteral("没有写出售的日子");
        // Sold past its end, a window or "until" would run to the next day's end: a night sold
        // at 09:00 would cover 23 hours. Its selling hours must close by its end.
        const int end = EndMinute(p);
        if (end >= 0 && Forward(p.sellFrom, p.sellTo) > Forward(p.sellFrom, end))
            return label + QStringLiteral("出售时间 %1–%2 超过了它的结束时间 %3")
                               .arg(MinuteText(p.sellFrom), MinuteText(p.sellTo), MinuteText(end));
        // What is saved is read back by every sale: a package its reader would refuse (a
        // window from 08:00 to 08:00, a length of eight days) would stop the whole catalogue.
        QString unreadable;
        if (!FromObject(ToObject(p), int(i), &unreadable)) return unreadable;
    }
    return std::nullopt;
}

QDateTime PackageEndsAt(const Package& package, const QDateTime& start) {
    if (package.kind == PackageKind::Length) return start.addSecs(qint64(package.minutes) * 60);
    const int end = EndMinute(package);
    // The next end strictly after the start: a start at 08:00:30 on a night ending at 08:00
    // runs to the next morning's.
    QDateTime at(start.date(), QTime(end / 60, end % 60), start.timeZone());
    while (at <= start) at = at.addDays(1);
    return at;
}

std::optional<NotSellable> WhyNotSellable(const Package& package, const QString& zone,
                                          const QDateTime& at, const QSet<qint64>& holidays,
                                          bool machineHoldsOne) {
    if (machineHoldsOne) return NotSellable::AlreadyHolds;
    if (!package.zones.contains(zone)) return NotSellable::WrongZone;
    const int now = at.time().hour() * 60 + at.time().minute();
    const bool crosses = package.sellFrom > package.sellTo;
    bool inHours;
    QDate day = at.date();
    if (!crosses) {
        inHours = now >= package.sellFrom && now < package.sellTo;
    } else {
        inHours = now >= package.sellFrom || now < package.sellTo;
        if (now < package.sellTo) day = day.addDays(-1);
    }
    if (!inHours) return NotSellable::OutsideHours;
    const int dayType = holidays.contains(day.toJulianDay()) ? kSellDayTypes - 1 : day.dayOfWeek() - 1;
    if (!package.sellDays[size_t(dayType)]) return NotSellable::OutsideHours;
    return std::nullopt;
}

QString NotSellableText(const Package& package, NotSellable why, const QString& zone) {
    switch (why) {
        case NotSellable::WrongZone:
            return QStringLiteral("“%1”不能卖给这台机器：它只用于%2，这台机器在%3。")
                .arg(package.name, package.zones.join(QStringLiteral("、")),
                     zone.isEmpty() ? QStringLiteral("默认区域") : zone);
        case NotSellable::OutsideHours: {
            QStringList days;
            static const char16_t* const names[kSellDayTypes] = {
                u"周一", u"周二", u"周三", u"周四", u"周五", u"周六", u"周日", u"节假日"};
            for (int k = 0; k < kSellDayTypes; ++k)
                if (package.sellDays[size_t(k)]) days << QString::fromUtf16(names[k]);
            return QStringLiteral("“%1”现在不出售：它只在%2 %3–%4出售。")
                .arg(package.name, days.join(QStringLiteral("、")), MinuteText(package.sellFrom),
                     MinuteText(package.sellTo));
        }
        case NotSellable::AlreadyHolds:
            return QStringLiteral("这台机器已经有一个包时，不能再买“%1”（到期后再买，或用续时）。")
                .arg(package.name);
    }
    return {};
}

qint64 WholeMinutes(const QDateTime& a, const QDateTime& b) {
    const qint64 secs = a.secsTo(b);
    return secs > 0 ? secs / 60 : 0;
}

qint64 PackageRefundAt(const Package& package, qint64 paid, const QDateTime& start,
                       const QDateTime& ends, const QDateTime& checkout) {
    if (package.refund != PackageRefund::ProRata || paid <= 0) return 0;
    const qint64 total = WholeMinutes(start, ends);
    const qint64 unused = WholeMinutes(checkout < start ? start : checkout, ends);
    if (total <= 0 || unused <= 0) return 0;
    // Down to a tenth of a yuan: the café never gives back more than the unused share.
    return paid * unused / total / 10 * 10;
}

QString PackageKindText(const Package& package) {
    switch (package.kind) {
        case PackageKind::Length:
            return package.minutes % 60 == 0
                       ? QStringLiteral("%1小时").arg(package.minutes / 60)
                       : QStringLiteral("%1分钟").arg(package.minutes);
        case PackageKind::Window:
            return MinuteText(package.from) + QStringLiteral("–") + MinuteText(package.to);
        case PackageKind::Until: return QStringLiteral("到") + MinuteText(package.until);
    }
    return {};
}

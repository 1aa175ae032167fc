#include "plans/Plan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "record_store/Formats.h"

namespace {

const char* const kDayKeys[kDayTypes] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun", "holiday"};
const char16_t* const kDayNames[kDayTypes] = {u"周一", u"周二", u"周三", u"周四",
                                              u"周五", u"周六", u"周日", u"节假日"};

// "HH:MM", 00:00 to 24:00; -1 when it is not such a time.
int ParseMinute(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return -1;
    const int h = m.captured(1).toInt(), min = m.captured(2).toInt();
    if (min > 59 || h > 24 || (h == 24 && min != 0)) return -1;
    return h * 60 + min;
}

// A decimal text with at most two places, above zero.
std::optional<qint64> ParseFen(const QJsonValue& value) {
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,2})?$"));
    if (!value.isString() || !form.match(value.toString()).hasMatch()) return std::nullopt;
    const std::optional<qint64> fen = ParseCents(value.toString());
    if (!fen || *fen <= 0) return std::nullopt;
    return fen;
}

std::optional<Zone> ZoneFromJson(const QJsonObject& o, int index, PlanProblem* problem) {
    Zone zone;
    zone.name = o.value(QStringLiteral("name")).toString();
    const QString label =
        zone.name.isEmpty() ? QStringLiteral("第%1个区域").arg(index + 1)
                            : QStringLiteral("区域“%1”").arg(zone.name);
    const auto fail = [&](const QString& text) {
        problem->text = label + QStringLiteral("：") + text;
        return std::nullopt;
    };
    if (zone.name.trimmed().isEmpty()) return fail(QStringLiteral("没有名称"));
    const QJsonArray rates = o.value(QStringLiteral("rates")).toArray();
    for (int i = 0; i < rates.size(); ++i) {
        const QJsonObject r = rates[i].toObject();
        const QString row = QStringLiteral("第%1条价格").arg(i + 1);
        const int from = ParseMinute(r.value(QStringLiteral("from")).toString());
        const int to = ParseMinute(r.value(QStringLiteral("to")).toString());
        if (from < 0 || to < 0 || from >= to)
            return fail(row + QStringLiteral("的时间不对（from 要早于 to，格式 08:00，到 24:00 为止）"));
        const std::optional<qint64> hourly = ParseFen(r.value(QStringLiteral("hourly")));
        if (!hourly) return fail(row + QStringLiteral("的价格必须是大于0的金额，最多两位小数"));
        const QJsonArray days = r.value(QStringLiteral("days")).toArray();
        if (days.isEmpty()) return fail(row + QStringLiteral("没有写星期"));
        for (const QJsonValue& d : days) {
            int found = -1;
            for (int k = 0; k < kDayTypes; ++k)
                if (d.toString() == QLatin1String(kDayKeys[k])) found = k;
            if (found < 0)
                return fail(row + QStringLiteral("的星期“%1”不认识（mon…sun、holiday）")
                                      .arg(d.toString()));
            zone.days[size_t(found)].push_back({from, to, *hourly});
        }
    }
    if (o.contains(QStringLiteral("overnight")) &&
        !o.value(QStringLiteral("overnight")).isNull()) {
        const QJsonObject n = o.value(QStringLiteral("overnight")).toObject();
        const std::optional<qint64> price = ParseFen(n.value(QStringLiteral("price")));
        const int sellFrom = ParseMinute(n.value(QStringLiteral("sell_from")).toString());
        const int sellTo = ParseMinute(n.value(QStringLiteral("sell_to")).toString());
        const int ends = ParseMinute(n.value(QStringLiteral("ends")).toString());
        if (!price) return fail(QStringLiteral("通宵价格必须是大于0的金额，最多两位小数"));
        if (sellFrom < 0 || sellTo < 0 || ends < 0)
            return fail(QStringLiteral("通宵的时间不对（sell_from、sell_to、ends，格式 08:00）"));
        zone.overnight = NightSale{*price, sellFrom % 1440, sellTo % 1440, ends % 1440};
    }
    return zone;
}

QJsonObject ZoneToJson(const Zone& zone) {
    // Bands equal in from, to and rate on several days are one row, in the order first met.
    QJsonArray rates;
    std::vector<std::pair<Band, QJsonArray>> rows;
    for (int day = 0; day < kDayTypes; ++day)
        for (const Band& b : zone.days[size_t(day)]) {
            auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& row) {
                return row.first.from == b.from && row.first.to == b.to &&
                       row.first.hourly == b.hourly;
            });
            if (it == rows.end()) {
                rows.push_back({b, {}});
                it = std::prev(rows.end());
            }
            it->second.append(DayKey(day));
        }
    for (const auto& [b, days] : rows)
        rates.append(QJsonObject{{QStringLiteral("days"), days},
                                 {QStringLiteral("from"), MinuteText(b.from)},
                                 {QStringLiteral("to"), MinuteText(b.to)},
                                 {QStringLiteral("hourly"), FenText(b.hourly)}});
    QJsonObject o{{QStringLiteral("name"), zone.name}, {QStringLiteral("rates"), rates}};
    if (zone.overnight)
        o.insert(QStringLiteral("overnight"),
                 QJsonObject{{QStringLiteral("price"), FenText(zone.overnight->price)},
                             {QStringLiteral("sell_from"), MinuteText(zone.overnight->sellFrom)},
                             {QStringLiteral("sell_to"), MinuteText(zone.overnight->sellTo)},
                             {QStringLiteral("ends"), MinuteText(zone.overnight->ends)}});
    return o;
}

std::optional<std::vector<Zone>> ZonesFromArray(const QJsonArray& array, PlanProblem* problem) {
    std::vector<Zone> zones;
    for (int i = 0; i < array.size(); ++i) {
        if (!array[i].isObject()) {
            problem->text = QStringLiteral("第%1个区域不是一个对象").arg(i + 1);
            return std::nullopt;
        }
        std::optional<Zone> zone = ZoneFromJson(array[i].toObject(), i, problem);
        if (!zone) return std::nullopt;
        zones.push_back(std::move(*zone));
    }
    return zones;
}

std::optional<QJsonObject> ParseObject(const QByteArray& json, PlanProblem* problem) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        problem->text = QStringLiteral("不是价格方案的 JSON（第%1个字符：%2）")
                            .arg(error.offset)
                            .arg(error.errorString());
        return std::nullopt;
    }
    return doc.object();
}

}  // namespace

qint64 WallMinute(const QDateTime& t) {
    return t.date().toJulianDay() * 1440 + t.time().hour() * 60 + t.time().minute();
}

QDateTime FromWallMinute(qint64 m) {
    return QDateTime(QDate::fromJulianDay(m / 1440), QTime(int(m % 1440 / 60), int(m % 60)));
}

qint64 ParseWallMinute(const QString& text, int* second) {
    // yyyy-MM-dd HH:mm[:ss]
    if (text.size() != 16 && text.size() != 19) return -1;
    const auto number = [&](int at, int digits) {
        int value = 0;
        for (int i = at; i < at + digits; ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9') return -1;
            value = value * 10 + (c - u'0');
        }
        return value;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const int h = number(11, 2), m = number(14, 2);
    const int s = text.size() == 19 ? number(17, 2) : 0;
    if (!date.isValid() || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return -1;
    if (second) *second = s;
    return date.toJulianDay() * 1440 + h * 60 + m;
}

QString DayKey(int day) { return QString::fromLatin1(kDayKeys[day]); }
QString DayName(int day) { return QString::fromUtf16(kDayNames[day]); }

bool NightSale::SellableAt(int minute) const {
    if (sellFrom == sellTo) return true;
    if (sellFrom < sellTo) return minute >= sellFrom && minute < sellTo;
    return minute >= sellFrom || minute < sellTo;
}

const std::vector<Band>& Zone::BandsFor(int day) const {
    if (day == kHoliday && days[kHoliday].empty()) return days[6];
    return days[size_t(day)];
}

const Zone* Plan::FindZone(const QString& name) const {
    for (const Zone& z : zones)
        if (z.name == name) return &z;
    return nullptr;
}

QString MinuteText(int minute) {
    return QStringLiteral("%1:%2")
        .arg(minute / 60, 2, 10, QLatin1Char('0'))
        .arg(minute % 60, 2, 10, QLatin1Char('0'));
}

QString FenText(qint64 fen) { return DecimalText(double(fen) / 100); }

std::optional<std::vector<Zone>> ZonesFromJson(const QByteArray& json, PlanProblem* problem) {
    const std::optional<QJsonObject> o = ParseObject(json, problem);
    if (!o) return std::nullopt;
    return ZonesFromArray(o->value(QStringLiteral("zones")).toArray(), problem);
}

QByteArray ZonesToJson(const std::vector<Zone>& zones) {
    QJsonArray array;
    for (const Zone& z : zones) array.append(ZoneToJson(z));
    return QJsonDocument(QJsonObject{{QStringLiteral("zones"), array}})
        .toJson(QJsonDocument::Compact);
}

std::optional<Plan> PlanFromJson(const QByteArray& json, PlanProblem* problem) {
    const std::optional<QJsonObject> o = ParseObject(json, problem);
    if (!o) return std::nullopt;
    Plan plan;
    std::optional<std::vector<Zone>> zones =
        ZonesFromArray(o->value(QStringLiteral("zones")).toArray(), problem);
    if (!zones) return std::nullopt;
    plan.zones = std::move(*zones);
    for (const QJsonValue& d : o->value(QStringLiteral("holidays")).toArray()) {
        const QDate day = QDate::fromString(d.toString(), QStringLiteral("yyyy-MM-dd"));
        if (!day.isValid()) {
            problem->text = QStringLiteral("节假日“%1”不是日期（格式 2027-01-01）").arg(d.toString());
            return std::nullopt;
        }
        plan.holidays << day.toString(QStringLiteral("yyyy-MM-dd"));
    }
    plan.holidays.removeDuplicates();
    plan.holidays.sort();
    const QJsonObject machines = o->value(QStringLiteral("machines")).toObject();
    for (auto it = machines.begin(); it != machines.end(); ++it)
        plan.machines.insert(it.key(), it.value().toString());
    return plan;
}

namespace {

// A JSON string literal.
QString Quoted(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Keys in the order a person reads them, not QJsonObject's sorted order.
QString Members(const QList<std::pair<QString, QString>>& members) {
    QStringList parts;
    for (const auto& [key, value] : members) parts << Quoted(key) + QStringLiteral(": ") + value;
    return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
}

}  // namespace

QByteArray PlanToJson(const Plan& plan) {
    // The layout of the documented example: a zone's rates one to a line.
    QStringList zones;
    for (const Zone& zone : plan.zones) {
        const QJsonObject o = ZoneToJson(zone);
        QStringList rates;
        for (const QJsonValue& r : o.value(QStringLiteral("rates")).toArray()) {
            const QJsonObject rate = r.toObject();
            QStringList days;
            for (const QJsonValue& d : rate.value(QStringLiteral("days")).toArray())
                days << Quoted(d.toString());
            rates << Members({{QStringLiteral("days"), QLatin1Char('[') + days.join(u',') + u']'},
                              {QStringLiteral("from"), Quoted(rate.value(QStringLiteral("from")).toString())},
                              {QStringLiteral("to"), Quoted(rate.value(QStringLiteral("to")).toString())},
                              {QStringLiteral("hourly"), Quoted(rate.value(QStringLiteral("hourly")).toString())}});
        }
        QString text = QStringLiteral("   {\"name\": %1,\n    \"rates\": [").arg(Quoted(zone.name)) +
                       rates.join(QStringLiteral(",\n              ")) + u']';
        if (zone.overnight) {
            const NightSale& n = *zone.overnight;
            text += QStringLiteral(",\n    \"overnight\": ") +
                    Members({{QStringLiteral("price"), Quoted(FenText(n.price))},
                             {QStringLiteral("sell_from"), Quoted(MinuteText(n.sellFrom))},
                             {QStringLiteral("sell_to"), Quoted(MinuteText(n.sellTo))},
                             {QStringLiteral("ends"), Quoted(MinuteText(n.ends))}});
        }
        zones << text + u'}';
    }
    QStringList holidays, machines;
    for (const QString& d : plan.holidays) holidays << Quoted(d);
    for (auto it = plan.machines.begin(); it != plan.machines.end(); ++it)
        machines << Quoted(it.key()) + QStringLiteral(": ") + Quoted(it.value());
    return (QStringLiteral("{\"zones\": [\n") + zones.join(QStringLiteral(",\n")) +
            QStringLiteral("],\n \"holidays\": [") + holidays.join(QStringLiteral(", ")) +
            QStringLiteral("],\n \"machines\": {") + machines.join(QStringLiteral(", ")) +
            QStringLiteral("}}\n"))
        .toUtf8();
}

std::optional<PlanProblem> CheckPlan(const Plan& plan) {
    if (plan.zones.empty()) return PlanProblem{QStringLiteral("价格方案至少要有一个区域")};
    QSet<QString> names;
    for (const Zone& zone : plan.zones) {
        const QString label = QStringLiteral("区域“%1”").arg(zone.name);
        if (zone.name.trimmed().isEmpty()) return PlanProblem{QStringLiteral("有一个区域没有名称")};
        if (names.contains(zone.name))
            return PlanProblem{label + QStringLiteral("：名称重复了")};
        names.insert(zone.name);
        for (int day = 0; day < kDayTypes; ++day) {
            // Holidays without bands of their own take Sunday's.
            if (day == kHoliday && zone.days[kHoliday].empty()) continue;
            // Count how many bands cover each minute; report the first run that is not one.
            std::array<int, 1440> cover{};
            for (const Band& b : zone.days[size_t(day)])
                for (int m = b.from; m < b.to; ++m) ++cover[size_t(m)];
            for (int m = 0; m < 1440; ++m) {
                if (cover[size_t(m)] == 1) continue;
                const int c = cover[size_t(m)];
                int end = m;
                while (end < 1440 && (cover[size_t(end)] == 0) == (c == 0) &&
                       (c == 0 || cover[size_t(end)] > 1))
                    ++end;
                return PlanProblem{label + QStringLiteral("，%1(%2)，%3–%4 ")
                                               .arg(DayName(day), DayKey(day), MinuteText(m),
                                                    MinuteText(end)) +
                                   (c == 0 ? QStringLiteral("没有价格（空档）")
                                           : QStringLiteral("有%1个价格（重叠）").arg(c))};
            }
        }
    }
    for (auto it = plan.machines.begin(); it != plan.machines.end(); ++it)
        if (!names.contains(it.value()))
            return PlanProblem{QStringLiteral("机器“%1”的区域“%2”不在方案中").arg(it.key(), it.value())};
    return std::nullopt;
}

qint64 BaseRate(const Zone& zone) {
    QMap<qint64, int> minutes;
    for (int day = 0; day < 7; ++day)
        for (const Band& b : zone.days[size_t(day)]) minutes[b.hourly] += b.to - b.from;
    qint64 best = 0;
    int most = -1;
    for (auto it = minutes.begin(); it != minutes.end(); ++it)
        if (it.value() >= most) {  // ascending: a tie goes to the higher rate
            most = it.value();
            best = it.key();
        }
    return best;
}

qint64 PartTenths(double rate, int thirds) {
    // rate x n / 3 x 10 in the x87 extended type, nearest integer with ties to even.
    const long double tenths = static_cast<long double>(rate) * thirds / 3 * 10;
    return static_cast<qint64>(std::nearbyintl(tenths));
}

const PlanVersion* Pricing::InForce(qint64 minute) const {
    const PlanVersion* found = nullptr;
    for (const PlanVersion& v : versions) {
        if (v.fromMinute > minute) break;
        found = &v;
    }
    return found;
}

bool Pricing::On(qint64 at) const {
    const PlanVersion* v = InForce(at);
    return v && v->zones && !v->zones->empty();
}

QString Pricing::ZoneOf(const QString& machine, const QDateTime& at) const {
    const QString listed = zoneOf.value(MachineNameKey(machine));
    if (!listed.isEmpty()) return listed;
    const PlanVersion* v = InForce(at);
    if (v && v->zones && !v->zones->empty()) return v->zones->front().name;
    return {};
}

namespace {

// The zone named in a version, or its default (a zone since renamed or removed).
const Zone& ZoneIn(const std::vector<Zone>& zones, const QString& name) {
    for (const Zone& z : zones)
        if (z.name == name) return z;
    return zones.front();
}

}  // namespace

Rate Pricing::RateIn(const Zone& zone, qint64 at) const {
    const qint64 julian = at / 1440;
    const int day = holidays.contains(julian) ? kHoliday : int(julian % 7);  // day 0 a Monday
    const int minute = int(at % 1440);
    for (const Band& b : zone.BandsFor(day))
        if (minute >= b.from && minute < b.to) return Rate::FromFen(b.hourly);
    return base;  // a checked plan covers every minute
}

Rate Pricing::RateAt(const QString& zoneName, qint64 at) const {
    const PlanVersion* v = InForce(at);
    if (v && !v->zones && v->single) return *v->single;
    if (!v || !v->zones || v->zones->empty()) return base;
    return RateIn(ZoneIn(*v->zones, zoneName), at);
}

PlanBill BillByPlan(const Pricing& pricing, const QString& zone, const QDateTime& start,
                    const QDateTime& end, bool withSlots) {
    return BillByPlan(pricing, zone, WallMinute(start), WallMinute(end), withSlots);
}

PlanBill BillByPlan(const Pricing& pricing, const QString& zone, qint64 from, qint64 to,
                    bool withSlots) {
    PlanBill bill;
    const qint64 used = std::max<qint64>(0, to - from);
    bill.hours = int(used / 60);
    bill.minutes = int(used % 60);
    const auto add = [&](qint64 at, qint64 length, const Rate& rate, qint64 amount, bool part) {
        bill.fee += amount;
        if (!withSlots) return;
        if (!part && !bill.runs.empty() && !bill.runs.back().part &&
            bill.runs.back().rate == rate) {
            bill.runs.back().to = FromWallMinute(at + length);
            bill.runs.back().amount += amount;
            return;
        }
        bill.runs.push_back({FromWallMinute(at), FromWallMinute(at + length), rate, amount, part});
    };
    // The zone is looked up once for each version the slots meet, not at every slot.
    const PlanVersion* version = nullptr;
    const Zone* inVersion = nullptr;
    const auto rateAt = [&](qint64 at) {
        const PlanVersion* v = pricing.InForce(at);
        if (!v || !v->zones || v->zones->empty()) return pricing.RateAt(zone, at);
        if (v != version) {
            version = v;
            inVersion = &ZoneIn(*v->zones, zone);
        }
        return pricing.RateIn(*inVersion, at);
    };
    for (int h = 0; h < bill.hours; ++h) {
        const qint64 at = from + qint64(h) * 60;
        const Rate rate = rateAt(at);
        add(at, 60, rate, rate.fen, false);
    }
    if (bill.minutes >= 5) {
        const qint64 at = from + qint64(bill.hours) * 60;
        const Rate rate = rateAt(at);
        const qint64 amount = bill.minutes >= 40   ? rate.fen
                              : bill.minutes >= 20 ? PartTenths(rate.yuan, 2) * 10
                                                   : PartTenths(rate.yuan, 1) * 10;
        add(at, bill.minutes, rate, amount, true);
    }
    return bill;
}

#pragma once

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

// A price plan: zones of machines, each with an hourly rate for each band of the day per day
// type (Monday to Sunday, and holidays), and an overnight that ends. Money is whole fen.

// Day types in the order of the plan's texts: mon … sun, then holiday.
constexpr int kDayTypes = 8;
constexpr int kHoliday = 7;
QString DayKey(int day);   // "mon" … "sun", "holiday"
QString DayName(int day);  // 周一 … 周日, 节假日

struct Band {
    int from = 0;  // minutes of the day, [from, to)
    int to = 0;
    qint64 hourly = 0;  // fen
};

struct NightSale {
    qint64 price = 0;  // fen
    int sellFrom = 0;  // minutes of the day; the hours it may be sold may cross midnight
    int sellTo = 0;
    int ends = 0;  // the hour of the morning it ends
    bool SellableAt(int minute) const;
};

struct Zone {
    QString name;
    // Bands in the order given. A zone without holiday bands bills holidays by Sunday's.
    std::array<std::vector<Band>, kDayTypes> days;
    std::optional<NightSale> overnight;
    const std::vector<Band>& BandsFor(int day) const;
};

struct Plan {
    std::vector<Zone> zones;  // the first is the default zone
    QStringList holidays;     // yyyy-MM-dd
    QMap<QString, QString> machines;  // machine name -> zone name; not listed: the first zone
    const Zone* FindZone(const QString& name) const;  // null when absent
};

// Where a plan does not cover its days exactly once, or what else keeps it from being saved.
struct PlanProblem {
    QString text;  // one line: the zone, the day, the minutes
};

// The plan's JSON (the format cafe-admin exports and imports). nullopt with the reason.
std::optional<Plan> PlanFromJson(const QByteArray& json, PlanProblem* problem);
QByteArray PlanToJson(const Plan& plan);
// The zones only (what a plan version stores; holidays and machines have tables of their own).
QByteArray ZonesToJson(const std::vector<Zone>& zones);
std::optional<std::vector<Zone>> ZonesFromJson(const QByteArray& json, PlanProblem* problem);

// Every minute of every day type of every zone covered exactly once, names unique and given,
// the machines' zones known. nullopt when it may be saved.
std::optional<PlanProblem> CheckPlan(const Plan& plan);

// The rate the described rule bills for a whole day, as the plan's base: the rate covering the
// most minutes of the default zone's week.
qint64 BaseRate(const Zone& zone);

QString MinuteText(int minute);  // 08:00, 24:00
// Fen as the bill shows money: 2.7, 3, 0.35.
QString FenText(qint64 fen);

// --- Billing under a plan ---

// A rate: in fen for whole hours, and as the yuan amount the part-hour rounding takes.
struct Rate {
    qint64 fen = 0;
    double yuan = 0;
    static Rate FromFen(qint64 fen) { return {fen, double(fen) / 100}; }
    bool operator==(const Rate& o) const { return fen == o.fen && yuan == o.yuan; }
};

// The part-hour fee of thirds (1 or 2) thirds of the rate in tenths of a yuan: rate × n / 3 × 10
// in extended precision, nearest with ties to even.
qint64 PartTenths(double rate, int thirds);

// One version of the plan: in force from its date-time until the next one. No zones: no plan
// (the single rate of the tariff).
// A moment on the wall clock in whole minutes (julian day × 1440 + minute of the day): seconds
// never count, and the arithmetic needs no time zone.
qint64 WallMinute(const QDateTime& t);
QDateTime FromWallMinute(qint64 minute);
// "yyyy-MM-dd HH:mm[:ss]" read without QDateTime's parser (a pass reads thousands); -1 when it
// is not such a text.
qint64 ParseWallMinute(const QString& text, int* second = nullptr);

struct PlanVersion {
    QDateTime from;
    qint64 fromMinute = 0;
    std::optional<std::vector<Zone>> zones;
    // Without zones: the tariff's rate as it stood then, when a plan came after it (time
    // played before a plan keeps the price it had).
    std::optional<Rate> single;
};

// A run of slots at one rate, or the last, partial hour.
struct Slot {
    QDateTime from, to;
    Rate rate;
    qint64 amount = 0;  // fen
    bool part = false;
};

struct PlanBill {
    int hours = 0;
    int minutes = 0;
    qint64 fee = 0;           // fen, the slots only
    std::vector<Slot> runs;  // when asked for: runs of slots at one rate, then the part hour
};

// Everything the billing needs to price by the clock: the versions in order, holidays, the
// machines' zones, and the tariff's rate for time before any plan or while it is off.
struct Pricing {
    std::vector<PlanVersion> versions;  // by from, ascending
    QSet<qint64> holidays;           // julian days
    QHash<QString, QString> zoneOf;  // MachineNameKey -> zone
    Rate base;
    // Whether the plan in force at that moment has zones.
    bool On(const QDateTime& at) const { return On(WallMinute(at)); }
    bool On(qint64 minute) const;
    const PlanVersion* InForce(const QDateTime& at) const { return InForce(WallMinute(at)); }
    const PlanVersion* InForce(qint64 minute) const;  // null before the first
    // The machine's zone now: listed, or the first zone of the plan in force.
    QString ZoneOf(const QString& machine, const QDateTime& at) const;
    Rate RateAt(const QString& zone, const QDateTime& at) const { return RateAt(zone, WallMinute(at)); }
    Rate RateAt(const QString& zone, qint64 minute) const;
    // The rate of a zone of the version in force, by the day type and minute.
    Rate RateIn(const Zone& zone, qint64 minute) const;
};

// Cuts start..end (seconds do not count) into hour slots from the start: each whole hour at
// the rate in force at its start, the last partial hour by the part-hour bands at the rate in
// force at its start. An end before the start bills nothing.
PlanBill BillByPlan(const Pricing& pricing, const QString& zone, const QDateTime& start,
                    const QDateTime& end, bool withSlots = false);
PlanBill BillByPlan(const Pricing& pricing, const QString& zone, qint64 startMinute,
                    qint64 endMinute, bool withSlots = false);

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

// Time sold up front: a package is bought at the desk before the customer sits down and covers
// the session until its end; what comes after is billed by the hour again (or the client is
// locked). Money is whole fen.

enum class PackageKind { Length, Window, Until };
enum class PackageEnd { Continue, Lock };
enum class PackageRefund { None, ProRata };

// Day types of the selling days, as the price plan names them: mon … sun, then holiday.
constexpr int kSellDayTypes = 8;

struct Package {
    QString name;
    QStringList zones;
    PackageKind kind = PackageKind::Length;
    int minutes = 0;      // length: how long it covers
    int from = 0, to = 0;  // window: minutes of the day; it ends at to, may cross midnight
    int until = 0;        // until: the minute of the day it ends
    qint64 price = 0;     // fen
    std::array<bool, kSellDayTypes> sellDays{};
    int sellFrom = 0, sellTo = 1440;  // minutes of the day; may cross midnight
    PackageEnd atEnd = PackageEnd::Continue;
    PackageRefund refund = PackageRefund::None;
};

struct Catalogue {
    std::vector<Package> packages;
    const Package* Find(const QString& name) const;  // null when absent
};

// The catalogue's JSON (what cafe-admin exports and imports). nullopt with one line saying what
// is wrong: which package, which field.
std::optional<Catalogue> CatalogueFromJson(const QByteArray& json, QString* problem);
QByteArray CatalogueToJson(const Catalogue& catalogue);
// One package as stored beside the session it was sold to, so a later change of the
// catalogue leaves a sold package as it was sold.
QByteArray PackageToJson(const Package& package);
std::optional<Package> PackageFromJson(const QByteArray& json, QString* problem);
// One package as the catalogue's JSON writes it (a form filled in 设置 is one): the same checks
// as a file's, the problem naming the package.
std::optional<Package> PackageFromObject(const QJsonObject& object, QString* problem);

// What keeps a catalogue from being saved: names unique and given, zones known (when zones is
// not empty), a price above zero, a length of at least a minute, selling hours that cannot sell
// a window or "until" package past its own end, and every field as its JSON would be read
// back. nullopt when it may be saved.
std::optional<QString> CheckCatalogue(const Catalogue& catalogue, const QStringList& zones = {});

// When a package sold at start ends: a length from the very second of the start; a window at
// its end; "until" at that time of day, the next one strictly after the start.
QDateTime PackageEndsAt(const Package& package, const QDateTime& start);

// Why a package cannot be sold to a machine in zone at a moment: nullopt when it can. The
// selling day of a moment after midnight within selling hours that cross it is the day before
// (a night sold from 20:00 to 04:00 on Fridays is still Friday's at 01:00). holidays: julian
// days.
enum class NotSellable { WrongZone, OutsideHours, AlreadyHolds };
std::optional<NotSellable> WhyNotSellable(const Package& package, const QString& zone,
                                          const QDateTime& at, const QSet<qint64>& holidays,
                                          bool machineHoldsOne);
// The box's text for it: which of the three it is, with the package's name.
QString NotSellableText(const Package& package, NotSellable why, const QString& zone);

// What an early checkout gives back: the unused whole minutes of the covered time, pro rata of
// the price, rounded down to 0.1 元; zero for a package without refunds or once it has ended.
qint64 PackageRefundAt(const Package& package, qint64 paid, const QDateTime& start,
                       const QDateTime& ends, const QDateTime& checkout);

// Whole minutes from a to b (seconds count toward none); zero when b is not after a.
qint64 WholeMinutes(const QDateTime& a, const QDateTime& b);

QString PackageKindText(const Package& package);  // 3小时, 22:00–08:00, 到18:00

#include "plans/Plans.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <algorithm>
#include <cmath>

#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"
#include "record_store/Engine.h"

namespace {

const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QDateTime ParseStamp(const QString& text) {
    QDateTime t = QDateTime::fromString(text, kStamp);
    if (!t.isValid()) t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm"));
    return t;
}

QString StampText(const QDateTime& t) { return t.isValid() ? t.toString(kStamp) : QString(); }

bool HasPlanTables(QSqlDatabase& db) {
    for (const QString& table : db.tables())
        if (table.compare(QStringLiteral("Tplan"), Qt::CaseInsensitive) == 0) return true;
    return false;
}

// One statement on the plans' query with its values by name; false when it fails.
bool Run(Desk& desk, const QString& sql, const QList<std::pair<QString, QString>>& values = {}) {
    return desk.DataModule1.PlanQuery->Statement(sql, values)->ExecSQL();
}

bool Select(Desk& desk, const QString& sql, const QList<std::pair<QString, QString>>& values = {}) {
    return desk.DataModule1.PlanQuery->Statement(sql, values)->Open();
}

// The plans' tables are there (the file took the migration); otherwise nothing is recorded.
bool Recording(Desk& desk) { return desk.DataModule1.SchemaError().isEmpty(); }

QString PlanNote(const std::optional<QByteArray>& zones) {
    return zones ? QString::fromUtf8(*zones) : QStringLiteral("无价格方案（单一价格）");
}

// The newest version's zones as stored (nullopt: none saved, or the newest is off).
std::optional<QByteArray> NewestZones(Desk& desk) {
    if (!Select(desk, QStringLiteral("select body from Tplan order by id desc"))) return {};
    Query* q = desk.DataModule1.PlanQuery;
    if (q->RecordCount() == 0 || q->FieldText(QStringLiteral("body")).isEmpty()) return {};
    return q->FieldText(QStringLiteral("body")).toUtf8();
}

// A new version from `from` (never before now) with its journal row, in the caller's
// transaction.
bool AddVersion(Desk& desk, const QDateTime& from, const QByteArray& body, const QString& base,
                const QString& night, QString* problem) {
    const std::optional<QByteArray> old = NewestZones(desk);
    Query* q = desk.DataModule1.PlanQuery;
    if (!Select(desk, QStringLiteral("select max(id) as n from Tplan"))) return false;
    const qint64 id = q->FieldText(QStringLiteral("n")).toLongLong() + 1;
    if (!Run(desk,
             QStringLiteral("insert into Tplan (id, effective, body, base, night) values (:i, "
                            ":e, :b, :r, :n)"),
             {{QStringLiteral("i"), QString::number(id)},
              {QStringLiteral("e"), StampText(from)},
              {QStringLiteral("b"), QString::fromUtf8(body)},
              {QStringLiteral("r"), base},
              {QStringLiteral("n"), night}}))
        return false;
    JournalEntry change;
    change.kind = JournalKind::PlanChange;
    change.start = PlanDateTimeText(from);
    change.note = QStringLiteral("自 %1 起。旧：%2；新：%3")
                      .arg(PlanDateTimeText(from), PlanNote(old),
                           PlanNote(body.isEmpty() ? std::nullopt
                                                   : std::optional<QByteArray>(body)));
    (void)problem;
    return AppendJournal(desk, change);
}

// Before Tmoney takes the plan's base rate: the time without a plan keeps the rate it had. The
// first plan gets a version before it (no plan, at the old rate); a plan after one turned off
// notes the rate on that version.
bool KeepSingleRate(Desk& desk) {
    if (!Select(desk, QStringLiteral("select OneTime from Tmoney"))) return false;
    const QString rate = desk.DataModule1.PlanQuery->FieldText(QStringLiteral("OneTime"));
    if (!Select(desk, QStringLiteral("select id, body, base from Tplan order by id desc")))
        return false;
    Query* q = desk.DataModule1.PlanQuery;
    if (q->RecordCount() == 0)
        return Run(desk,
                   QStringLiteral("insert into Tplan (id, effective, body, base, night) values "
                                  "(1, '2000-01-01 00:00:00', '', :r, '')"),
                   {{QStringLiteral("r"), rate}});
    if (!q->FieldText(QStringLiteral("body")).isEmpty() ||
        !q->FieldText(QStringLiteral("base")).isEmpty())
        return true;
    return Run(desk, QStringLiteral("update Tplan set base=:r where id=:i"),
               {{QStringLiteral("r"), rate}, {QStringLiteral("i"), q->FieldText(QStringLiteral("id"))}});
}

}  // namespace

namespace {

// The zones of the version in force now; nullopt without a plan.
std::optional<std::vector<Zone>> ZonesNow(Desk& desk) {
    if (!Select(desk, QStringLiteral("select body from Tplan where effective<=:n order by id desc"),
                {{QStringLiteral("n"), StampText(desk.clock.nowDateTime())}}))
        return std::nullopt;
    const QString body = desk.DataModule1.PlanQuery->FieldText(QStringLiteral("body"));
    if (body.isEmpty()) return std::nullopt;
    PlanProblem problem;
    std::optional<std::vector<Zone>> zones = ZonesFromJson(body.toUtf8(), &problem);
    if (zones && zones->empty()) return std::nullopt;
    return zones;
}

// Every desk's pass reads the versions, holidays and zones again.
bool MoveStamp(Desk& desk) { return Run(desk, QStringLiteral("update Tplanstamp set n=n+1")); }

// From now on every pass reads the record of these sessions (all, or machine's), their zone as
// it is now: a change of the zones, or a transfer, moves no session begun before it.
bool KeepSessions(Desk& desk, const QString& machine) {
    // A session in no listed zone is in the default zone of now: it stays there.
    const std::optional<std::vector<Zone>> zones = ZonesNow(desk);
    const QString fallback = zones ? zones->front().name : QString();
    return Run(desk,
               QStringLiteral("update Tsession set kept=1, zone=case when zone='' then :d else "
                              "zone end") +
                   (machine.isEmpty() ? QString() : QStringLiteral(" where username=:m")),
               machine.isEmpty() ? QList<std::pair<QString, QString>>{{QStringLiteral("d"), fallback}}
                                 : QList<std::pair<QString, QString>>{{QStringLiteral("d"), fallback},
                                                                      {QStringLiteral("m"), machine}});
}

}  // namespace

QDateTime PlanEffectiveFrom(Desk& desk, const QDateTime& from) {
    QDateTime now = desk.clock.nowDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute()));
    return from.isValid() && from > now ? from : now;
}

QString PlanDateTimeText(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

QDateTime ParsePlanDateTime(const QString& text) {
    return QDateTime::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm"));
}

QDateTime NextAt(const QDateTime& now, int minute) {
    QDateTime at(now.date(), QTime(minute / 60, minute % 60));
    if (at <= now) at = at.addDays(1);
    return at;
}

bool ReadPlanPricing(QSqlDatabase& db, const Engine& engine, double rate, PlanState* state,
                     QString* error) {
    state->pricing.base = {qint64(std::llround(static_cast<long double>(rate) * 100)), rate};
    std::vector<QStringList> versions;
    const bool read = engine.Walk(
        db, QStringLiteral("select effective, body, base from Tplan order by id"), {},
        [&](const QString* r, int) { versions.push_back({r[0], r[1], r[2]}); }, error);
    if (!read) return !HasPlanTables(db);  // a file without them has no plan
    if (versions.empty()) return true;
    state->any = true;
    for (const QStringList& row : versions) {
        const QString& body = row[1];
        PlanVersion v{ParseStamp(row[0]), ParseWallMinute(row[0]), std::nullopt, std::nullopt};
        if (body.isEmpty() && !row[2].isEmpty()) {
            double single = 0;
            try {
                single = ParseDecimal(row[2]);
            } catch (const ConversionError&) {
            }
            v.single = Rate{qint64(std::llround(static_cast<long double>(single) * 100)), single};
        }
        if (!body.isEmpty()) {
            PlanProblem problem;
            v.zones = ZonesFromJson(body.toUtf8(), &problem);
            if (!v.zones) {
                if (error) *error = problem.text;
                return false;
            }
        }
        // A version saved for later than one saved after it is overtaken at its own time.
        auto& list = state->pricing.versions;
        while (!list.empty() && list.back().fromMinute >= v.fromMinute) list.pop_back();
        list.push_back(std::move(v));
    }
    return engine.Walk(
        db, QStringLiteral("select day from Tholiday"), {},
        [&](const QString* r, int) {
            state->pricing.holidays.insert(
                QDate::fromString(r[0], QStringLiteral("yyyy-MM-dd")).toJulianDay());
        },
        error);
}

namespace {

// r: username, started, zone, carried, prepaid_from, prepaid_to, bill_after.
std::optional<SessionRecord> RecordFromTexts(const QString* r) {
    if (r[1].isEmpty()) return std::nullopt;
    SessionRecord s;
    s.startedMinute = ParseWallMinute(r[1], &s.startedSecond);
    s.zone = r[2];
    if (r[3] != QLatin1String("0")) s.carried = ParseCents(r[3]).value_or(0);
    if (!r[5].isEmpty()) {
        s.prepaidFrom = QDateTime::fromString(r[4], kStamp);
        s.prepaidTo = QDateTime::fromString(r[5], kStamp);
        s.billAfter = r[6] != QLatin1String("0");
    }
    return s;
}

// The machines' zones, and the sessions' records by the name as Tcount holds it (the console
// writes both from one text); where narrows them with its values.
bool ReadZones(QSqlDatabase& db, const Engine& engine, const QString& where,
               const QStringList& values, QHash<QString, QString>* zoneOf, QString* error) {
    return engine.Walk(
        db, QStringLiteral("select username, zone from Tzone") + where, values,
        [&](const QString* r, int) { zoneOf->insert(MachineNameKey(r[0]), r[1]); }, error);
}

bool ReadSessions(QSqlDatabase& db, const Engine& engine, const QString& where,
                  const QStringList& values, QHash<QString, SessionRecord>* sessions,
                  QString* error) {
    return engine.Walk(
        db,
        QStringLiteral("select username, started, zone, carried, prepaid_from, prepaid_to, "
                       "bill_after from Tsession") +
            where,
        values,
        [&](const QString* r, int) {
            if (std::optional<SessionRecord> s = RecordFromTexts(r))
                sessions->insert(r[0], *s);
        },
        error);
}

}  // namespace

QString PlanCache::ListedZone(size_t row, const QString& machine) {
    if (state.pricing.zoneOf.isEmpty()) return {};
    if (row < byRow.size() && byRow[row].first == machine) return byRow[row].second;
    if (row >= byRow.size()) byRow.resize(row + 1);
    byRow[row] = {machine, state.pricing.zoneOf.value(MachineNameKey(machine))};
    return byRow[row].second;
}

bool RefreshPlanCache(QSqlDatabase& db, const Engine& engine, PlanCache* cache, QString* error) {
    qint64 stamp = -1;
    if (!engine.Walk(
            db, QStringLiteral("select n from Tplanstamp"), {},
            [&](const QString* r, int) { stamp = r[0].toLongLong(); }, error)) {
        if (HasPlanTables(db)) return false;
        *cache = PlanCache{};  // a file without them has no plan
        return true;
    }
    if (stamp == cache->stamp) return true;
    // Read after the stamp: a change committed meanwhile moves it again for the next pass.
    PlanCache fresh;
    fresh.stamp = stamp;
    if (!ReadPlanPricing(db, engine, 0, &fresh.state, error) ||
        !ReadZones(db, engine, {}, {}, &fresh.state.pricing.zoneOf, error))
        return false;
    *cache = std::move(fresh);
    return true;
}

bool ReadKeptSessions(QSqlDatabase& db, const Engine& engine, const QDateTime& now,
                      QHash<QString, SessionRecord>* sessions, QString* error) {
    return ReadSessions(db, engine, QStringLiteral(" where started<? or kept=1"),
                        {StampText(QDateTime(now.date(), QTime(0, 0)))}, sessions, error);
}

bool ReadPlanState(QSqlDatabase& db, const Engine& engine, double rate, PlanState* state,
                   QString* error, const QString& machine) {
    if (!ReadPlanPricing(db, engine, rate, state, error)) return false;
    if (!state->any) return true;
    const QString only = machine.isEmpty() ? QString() : QStringLiteral(" where username=?");
    const QStringList values = machine.isEmpty() ? QStringList() : QStringList{machine};
    return ReadZones(db, engine, only, values, &state->pricing.zoneOf, error) &&
           ReadSessions(db, engine, only, values, &state->sessions, error);
}

namespace {

// The tariff and the plans on the desk's connection, without a box.
std::optional<PlanState> ReadQuietly(Desk& desk, const QString& machine = {}) {
    Query* q = desk.DataModule1.PlanQuery;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tmoney"));
    if (!q->Open()) return std::nullopt;
    q->First();
    const QString oneTime = q->FieldText(QStringLiteral("OneTime"));
    q->Close();
    double rate = 0;
    try {
        rate = ParseDecimal(oneTime);
    } catch (const ConversionError&) {
        rate = 0;  // only time before any plan is billed at it
    }
    PlanState state;
    QSqlDatabase db = QSqlDatabase::database(desk.DataModule1.connectionName(), false);
    QString error;
    if (!ReadPlanState(db, desk.DataModule1.engine(), rate, &state, &error, machine))
        return std::nullopt;
    return state;
}

}  // namespace

std::optional<PlanState> ReadPlanState(Desk& desk) {
    std::optional<PlanState> state = ReadQuietly(desk);
    if (!state) desk.prompts.message(DeskText::DbRestart);
    return state;
}

namespace {

// The record, when it belongs to the session Tstart shows (it began at that time).
const SessionRecord* Matching(const SessionRecord* r, const QTime& tstart) {
    if (!r || r->startedMinute < 0 ||
        r->startedMinute % 1440 != tstart.hour() * 60 + tstart.minute())
        return nullptr;
    return r;
}

const SessionRecord* RecordOf(const PlanState& state, const QString& machine, const QTime& tstart) {
    const auto it = state.sessions.constFind(machine);
    return Matching(it == state.sessions.constEnd() ? nullptr : &*it, tstart);
}

}  // namespace

QDateTime SessionStart(const PlanState& state, const QString& machine, const QTime& tstart,
                       const QDateTime& now) {
    if (const SessionRecord* r = RecordOf(state, machine, tstart))
        return FromWallMinute(r->startedMinute).addSecs(r->startedSecond);
    return QDateTime(now.date(), QTime(tstart.hour(), tstart.minute(), tstart.second()));
}

QString SessionZone(const PlanState& state, const QString& machine, const QDateTime& now) {
    const auto it = state.sessions.constFind(machine);
    if (it != state.sessions.constEnd() && !it->zone.isEmpty()) return it->zone;
    return state.pricing.ZoneOf(machine, now);
}

namespace {

// A session with time paid up front: the time before it as if settled then, nothing while it
// covers, then (unless it locks) whole minutes from the very second it ended; by the plan in
// force, or the tariff's rate while none is. Used time is the whole session's.
PlanBill PrepaidBill(const Pricing& pricing, const SessionRecord& record,
                     const QString& listedZone, const QDateTime& now, bool withSlots) {
    const qint64 at = WallMinute(now);
    QString zone = record.zone;
    if (zone.isEmpty()) zone = listedZone;
    const qint64 start = record.startedMinute;
    PlanBill bill = BillByPlan(pricing, zone, start, at);
    bill.fee = 0;
    bill.runs.clear();
    const auto add = [&](qint64 from, qint64 to) {
        const PlanBill part = BillByPlan(pricing, zone, from, to, withSlots);
        bill.fee += part.fee;
        bill.runs.insert(bill.runs.end(), part.runs.begin(), part.runs.end());
    };
    add(start, std::min(WallMinute(record.prepaidFrom), at));
    if (record.billAfter && now > record.prepaidTo) {
        const qint64 ended = WallMinute(record.prepaidTo);
        add(ended, ended + record.prepaidTo.secsTo(now) / 60);
    }
    bill.fee += record.carried;
    return bill;
}

}  // namespace

std::optional<PlanBill> SessionPlanBill(const PlanState& state, const QString& machine,
                                        const QTime& tstart, const QDateTime& now,
                                        bool withSlots) {
    const auto it = state.sessions.constFind(machine);
    return SessionPlanBill(state.pricing, it == state.sessions.constEnd() ? nullptr : &*it,
                           state.pricing.zoneOf.value(MachineNameKey(machine)), tstart, now,
                           withSlots);
}

std::optional<PlanBill> SessionPlanBill(const Pricing& pricing, const SessionRecord* record,
                                        const QString& listedZone, const QTime& tstart,
                                        const QDateTime& now, bool withSlots) {
    const qint64 at = WallMinute(now);
    record = Matching(record, tstart);
    if (record && record->prepaidTo.isValid())
        return PrepaidBill(pricing, *record, listedZone, now, withSlots);
    if (!pricing.On(at)) return std::nullopt;
    // A session without a record began today at Tstart.
    const qint64 start =
        record ? record->startedMinute : at - at % 1440 + tstart.hour() * 60 + tstart.minute();
    QString zone = record ? record->zone : QString();
    if (zone.isEmpty()) zone = listedZone;
    if (zone.isEmpty()) zone = pricing.InForce(at)->zones->front().name;
    PlanBill bill = BillByPlan(pricing, zone, start, at, withSlots);
    if (record) bill.fee += record->carried;
    return bill;
}

bool NoteSessionStart(Desk& desk, const QString& machine, const QDateTime& started) {
    if (!Recording(desk)) return true;
    if (!Select(desk, QStringLiteral("select zone from Tzone where username=:m"),
                {{QStringLiteral("m"), machine}}))
        return false;
    const QString zone = desk.DataModule1.PlanQuery->FieldText(QStringLiteral("zone"));
    return Run(desk, QStringLiteral("delete from Tsession where username=:m"),
               {{QStringLiteral("m"), machine}}) &&
           Run(desk,
               QStringLiteral("insert into Tsession (username, started, zone, carried, "
                              "night_ends, warned, kept) values (:m, :s, :z, '0', '', 0, 0)"),
               {{QStringLiteral("m"), machine},
                {QStringLiteral("s"), StampText(started)},
                {QStringLiteral("z"), zone}});
}

bool NotePrepaid(Desk& desk, const QString& machine, const QDateTime& sessionStart,
                 const QDateTime& from, const QDateTime& to, bool billAfter) {
    if (!Select(desk, QStringLiteral("select username from Tsession where username=:m"),
                {{QStringLiteral("m"), machine}}))
        return false;
    // A session started before its record was kept gets one from its start.
    if (desk.DataModule1.PlanQuery->RecordCount() == 0 &&
        !NoteSessionStart(desk, machine, sessionStart))
        return false;
    // Every pass reads a prepaid session's record, its zone the one it was sold for.
    return KeepSessions(desk, machine) &&
           Run(desk,
               QStringLiteral("update Tsession set prepaid_from=:f, prepaid_to=:t, bill_after=:a "
                              "where username=:m"),
               {{QStringLiteral("f"), StampText(from)},
                {QStringLiteral("t"), StampText(to)},
                {QStringLiteral("a"), billAfter ? QStringLiteral("1") : QStringLiteral("0")},
                {QStringLiteral("m"), machine}});
}

bool DropPrepaid(Desk& desk, const QString& machine) {
    return Run(desk,
               QStringLiteral("update Tsession set prepaid_from='', prepaid_to='', bill_after=1 "
                              "where username=:m"),
               {{QStringLiteral("m"), machine}});
}

bool MoveSessionRecord(Desk& desk, const QString& from, const QString& to) {
    if (!Recording(desk)) return true;
    // The session keeps its zone on the machine it moves to.
    return KeepSessions(desk, from) &&
           Run(desk, QStringLiteral("delete from Tsession where username=:m"),
               {{QStringLiteral("m"), to}}) &&
           Run(desk, QStringLiteral("update Tsession set username=:t where username=:f"),
               {{QStringLiteral("t"), to}, {QStringLiteral("f"), from}});
}

bool DropSessionRecord(Desk& desk, const QString& machine) {
    if (!Recording(desk)) return true;
    return Run(desk, QStringLiteral("delete from Tsession where username=:m"),
               {{QStringLiteral("m"), machine}});
}

bool NoteOvernight(Desk& desk, const QString& machine, const QDateTime& now,
                   const QDateTime& ends) {
    if (!Recording(desk)) return true;
    return NoteSessionStart(desk, machine, now) &&
           Run(desk, QStringLiteral("update Tsession set night_ends=:e where username=:m"),
               {{QStringLiteral("e"), StampText(ends)}, {QStringLiteral("m"), machine}});
}

std::optional<Plan> SavedPlan(Desk& desk) {
    const std::optional<QByteArray> body = NewestZones(desk);
    if (!body) return std::nullopt;
    PlanProblem problem;
    std::optional<std::vector<Zone>> zones = ZonesFromJson(*body, &problem);
    if (!zones) return std::nullopt;
    Plan plan;
    plan.zones = std::move(*zones);
    Query* q = desk.DataModule1.PlanQuery;
    if (Select(desk, QStringLiteral("select day from Tholiday order by day")))
        for (int i = 0; i < q->RecordCount(); ++i) plan.holidays << q->FieldText(i, QStringLiteral("day"));
    if (Select(desk, QStringLiteral("select username, zone from Tzone order by username")))
        for (int i = 0; i < q->RecordCount(); ++i)
            plan.machines.insert(q->FieldText(i, QStringLiteral("username")),
                                 q->FieldText(i, QStringLiteral("zone")));
    return plan;
}

bool SavePlan(Desk& desk, const Plan& plan, const QDateTime& from, QString* problem) {
    if (const std::optional<PlanProblem> wrong = CheckPlan(plan)) {
        *problem = wrong->text;
        return false;
    }
    if (!Recording(desk)) {
        *problem = desk.DataModule1.SchemaError();
        return false;
    }
    const Zone& first = plan.zones.front();
    const QString base = FenText(BaseRate(first));
    Transaction transaction(desk.DataModule1);
    bool ok = transaction.BeginWrite();
    QString night;
    if (ok && first.overnight) {
        night = FenText(first.overnight->price);
    } else if (ok && Select(desk, QStringLiteral("select Tnight from Tmoney"))) {
        night = desk.DataModule1.PlanQuery->FieldText(QStringLiteral("Tnight"));
    }
    // Sessions begun before keep their zone; every desk reads the plan again.
    ok = ok && KeepSessions(desk, {}) && MoveStamp(desk) && KeepSingleRate(desk) &&
         AddVersion(desk, PlanEffectiveFrom(desk, from), ZonesToJson(plan.zones), base, night,
                    problem) &&
         Run(desk, QStringLiteral("delete from Tholiday"));
    for (const QString& day : plan.holidays)
        ok = ok && Run(desk, QStringLiteral("insert into Tholiday (day) values (:d)"),
                       {{QStringLiteral("d"), day}});
    ok = ok && Run(desk, QStringLiteral("delete from Tzone"));
    for (auto it = plan.machines.begin(); it != plan.machines.end(); ++it)
        ok = ok && Run(desk, QStringLiteral("insert into Tzone (username, zone) values (:m, :z)"),
                       {{QStringLiteral("m"), it.key()}, {QStringLiteral("z"), it.value()}});
    // Other tools that read Tmoney see the default zone's usual rate and its overnight price.
    ok = ok && Run(desk, QStringLiteral("update Tmoney set OneTime=:a, Tnight=:b"),
                   {{QStringLiteral("a"), base}, {QStringLiteral("b"), night}});
    if (ok && desk.DataModule1.PlanQuery->RowsAffected() == 0)
        ok = Run(desk, QStringLiteral("insert into Tmoney (OneTime, Tnight) values (:a, :b)"),
                 {{QStringLiteral("a"), base}, {QStringLiteral("b"), night}});
    if (!ok || !transaction.Commit()) {
        transaction.Rollback();
        if (problem->isEmpty()) *problem = DeskText::DbContact;
        return false;
    }
    return true;
}

bool PlanOff(Desk& desk, const QDateTime& from, QString* problem) {
    if (!Recording(desk)) {
        *problem = desk.DataModule1.SchemaError();
        return false;
    }
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite() || !MoveStamp(desk) ||
        !AddVersion(desk, PlanEffectiveFrom(desk, from), {}, {}, {}, problem) ||
        !transaction.Commit()) {
        transaction.Rollback();
        *problem = DeskText::DbContact;
        return false;
    }
    return true;
}

bool SetMachineZone(Desk& desk, const QString& machine, const QString& zone, QString* problem) {
    if (!Recording(desk)) {
        *problem = desk.DataModule1.SchemaError();
        return false;
    }
    Transaction transaction(desk.DataModule1);
    JournalEntry change;
    change.kind = JournalKind::PlanChange;
    change.machine = machine;
    change.note = zone.isEmpty() ? QStringLiteral("机器归入默认区域")
                                 : QStringLiteral("机器归入区域“%1”").arg(zone);
    bool ok = transaction.BeginWrite() && KeepSessions(desk, machine) && MoveStamp(desk) &&
              Run(desk, QStringLiteral("delete from Tzone where username=:m"),
                  {{QStringLiteral("m"), machine}});
    if (!zone.isEmpty())
        ok = ok && Run(desk, QStringLiteral("insert into Tzone (username, zone) values (:m, :z)"),
                       {{QStringLiteral("m"), machine}, {QStringLiteral("z"), zone}});
    if (!ok || !AppendJournal(desk, change) || !transaction.Commit()) {
        transaction.Rollback();
        *problem = DeskText::DbContact;
        return false;
    }
    return true;
}

std::optional<NightSale> PlanOvernight(Desk& desk, const QString& machine) {
    const std::optional<PlanState> state = ReadPlanState(desk);
    const QDateTime now = desk.clock.nowDateTime();
    if (!state || !state->pricing.On(now)) return std::nullopt;
    const QString zoneName = state->pricing.ZoneOf(machine, now);
    for (const Zone& zone : *state->pricing.InForce(now)->zones)
        if (zone.name == zoneName) return zone.overnight;
    return state->pricing.InForce(now)->zones->front().overnight;
}

std::optional<PlanBill> PreviewBill(Desk& desk, const QString& zone, const QDateTime& start,
                                    const QDateTime& end, QString* unknownZone,
                                    const PreviewPrepaid* prepaid, QString* zoneUsed) {
    const std::optional<PlanState> state = ReadPlanState(desk);
    if (!state) return std::nullopt;
    const PlanVersion* v = state->pricing.InForce(start);
    if (!zone.isEmpty() && v && v->zones &&
        std::none_of(v->zones->begin(), v->zones->end(),
                     [&](const Zone& z) { return z.name == zone; })) {
        if (unknownZone) {
            QStringList names;
            for (const Zone& z : *v->zones) names << z.name;
            *unknownZone = QStringLiteral("区域“%1”不在 %2 起的价格方案中（有：%3）")
                               .arg(zone, PlanDateTimeText(v->from), names.join(u'、'));
        }
        return std::nullopt;
    }
    const QString name = !zone.isEmpty() || !v || !v->zones ? zone : v->zones->front().name;
    if (zoneUsed) *zoneUsed = name;
    if (!prepaid) return BillByPlan(state->pricing, name, start, end, true);
    SessionRecord record;
    record.startedMinute = WallMinute(start);
    record.startedSecond = start.time().second();
    record.zone = name;
    record.prepaidFrom = start;
    record.prepaidTo = prepaid->to;
    record.billAfter = prepaid->billAfter;
    return PrepaidBill(state->pricing, record, QString(), end, true);
}

QString MachineZoneNow(Desk& desk, const QString& machine) {
    if (!Recording(desk) || machine.isEmpty()) return {};
    const std::optional<std::vector<Zone>> zones = ZonesNow(desk);
    if (!zones) return {};
    if (Select(desk, QStringLiteral("select zone from Tzone where username=:m"),
               {{QStringLiteral("m"), machine}}) &&
        !desk.DataModule1.PlanQuery->FieldText(QStringLiteral("zone")).isEmpty())
        return desk.DataModule1.PlanQuery->FieldText(QStringLiteral("zone"));
    return zones->front().name;
}

QStringList PlanZoneNames(Desk& desk) {
    QStringList names;
    if (const std::optional<Plan> plan = SavedPlan(desk))
        for (const Zone& z : plan->zones) names << z.name;
    return names;
}

namespace {

QString RunTimes(const Slot& s) {
    const bool sameDay = s.from.date() == s.to.date() ||
                         (s.to.time() == QTime(0, 0) && s.from.date().addDays(1) == s.to.date());
    const QString f = sameDay ? QStringLiteral("HH:mm") : QStringLiteral("MM-dd HH:mm");
    return s.from.toString(f) + QStringLiteral("–") +
           (s.to.time() == QTime(0, 0) && sameDay ? QStringLiteral("24:00") : s.to.toString(f));
}

}  // namespace

namespace {

// How a run was counted: 2小时 × 7元/小时, or the part hour's 不足1小时（20分钟），7元/小时.
QString SlotDetail(const Slot& s) {
    const QString rate = FenText(s.rate.fen) + QStringLiteral("元/小时");
    if (s.part)
        return QStringLiteral("不足1小时（%1分钟），%2").arg(s.from.secsTo(s.to) / 60).arg(rate);
    return QStringLiteral("%1小时 × %2").arg(s.from.secsTo(s.to) / 3600).arg(rate);
}

// A bill of a session in 正常 as its texts show it, priced from its start: under the plan in
// force now, or at today's single rate as the pass bills it without one.
struct Explained {
    bool underPlan = false;
    QString zone;
    PlanBill bill;
    qint64 carried = 0;  // billed before an overnight that ended
};

std::optional<Explained> Explain(const PlanState& plans, const QString& machine,
                                 const QString& tstart, const QString& used, const QString& state,
                                 const QDateTime& now) {
    static const QRegularExpression usedForm(QStringLiteral("^([0-9]+)时([0-9]+)分$"));
    const QRegularExpressionMatch m = usedForm.match(used);
    QTime start;
    try {
        start = ParseDateTime(tstart);
    } catch (const ConversionError&) {
    }
    if (!m.hasMatch() || !start.isValid() || state != QStringLiteral("正常")) return std::nullopt;
    const qint64 minutes = m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong();
    Explained e;
    e.underPlan = plans.pricing.On(now);
    Pricing single;
    single.base = plans.pricing.base;
    const Pricing& pricing = e.underPlan ? plans.pricing : single;
    const QDateTime from = e.underPlan ? SessionStart(plans, machine, start, now)
                                       : QDateTime(now.date(), QTime(start.hour(), start.minute()));
    e.zone = e.underPlan ? SessionZone(plans, machine, now) : QString();
    e.bill = BillByPlan(pricing, e.zone, from, from.addSecs(minutes * 60), true);
    const SessionRecord* record = RecordOf(plans, machine, start);
    if (e.underPlan && record) e.carried = record->carried;
    return e;
}

const QString kCarried = QStringLiteral("通宵前的上网费");

}  // namespace

QStringList SlotLines(const PlanBill& bill) {
    QStringList lines;
    for (const Slot& s : bill.runs)
        lines << RunTimes(s) + QStringLiteral("  ") + SlotDetail(s) +
                     (s.part ? QStringLiteral("，计 ") : QStringLiteral(" = ")) +
                     FenText(s.amount) + QStringLiteral("元");
    return lines;
}

QStringList BillBreakdown(Desk& desk, const QString& machine, const QString& tstart,
                          const QString& used, const QString& fee, const QString& other,
                          const QString& total, const QString& state) {
    QStringList lines{QStringLiteral("机器 %1，%2").arg(machine, state)};
    const std::optional<PlanState> plans = ReadPlanState(desk);
    const std::optional<Explained> e =
        plans ? Explain(*plans, machine, tstart, used, state, desk.clock.nowDateTime())
              : std::nullopt;
    if (e) {
        if (!e->zone.isEmpty()) lines << QStringLiteral("区域 %1").arg(e->zone);
        lines << SlotLines(e->bill);
        if (e->carried) lines << kCarried + QLatin1Char(' ') + FenText(e->carried) + u'元';
    } else if (state == QStringLiteral("通宵")) {
        lines << QStringLiteral("通宵：通宵价已计入附加费");
    }
    lines << QStringLiteral("上网费用 %1").arg(fee) << QStringLiteral("附加费 %1元").arg(other)
          << QStringLiteral("共需费用 %1元").arg(total);
    return lines;
}

BillDetail PlanBillDetail(Desk& desk, const QString& machine, const QString& tstart,
                          const QString& used, const QString& state) {
    BillDetail detail;
    if (!Recording(desk)) return detail;
    const std::optional<PlanState> plans = ReadQuietly(desk, machine);
    const std::optional<Explained> e =
        plans ? Explain(*plans, machine, tstart, used, state, desk.clock.nowDateTime())
              : std::nullopt;
    if (!e || !e->underPlan) return detail;
    detail.zone = e->zone;
    for (const Slot& s : e->bill.runs)
        detail.runs.push_back({RunTimes(s), SlotDetail(s), FenText(s.amount)});
    if (e->carried) detail.runs.push_back({kCarried, QString(), FenText(e->carried)});
    return detail;
}

std::optional<QByteArray> ExportPlan(Desk& desk) {
    const std::optional<Plan> plan = SavedPlan(desk);
    if (!plan) return std::nullopt;
    return PlanToJson(*plan);
}

QString ImportPlan(Desk& desk, const QByteArray& json, const QString& fromText) {
    QDateTime from;
    if (!fromText.isEmpty()) {
        from = ParsePlanDateTime(fromText);
        if (!from.isValid())
            return QStringLiteral("生效时间“%1”不对，要写成 2027-01-01 08:00").arg(fromText);
    }
    PlanProblem problem;
    const std::optional<Plan> plan = PlanFromJson(json, &problem);
    if (!plan) return problem.text;
    QString why;
    return SavePlan(desk, *plan, from, &why) ? QString() : why;
}

QByteArray BillJson(const PlanBill& bill) {
    QJsonArray runs;
    for (const Slot& s : bill.runs)
        runs.append(QJsonObject{{QStringLiteral("from"), PlanDateTimeText(s.from)},
                                 {QStringLiteral("to"), PlanDateTimeText(s.to)},
                                 {QStringLiteral("rate"), FenText(s.rate.fen)},
                                 {QStringLiteral("amount"), FenText(s.amount)}});
    return QJsonDocument(
               QJsonObject{{QStringLiteral("total"), FenText(bill.fee)},
                           {QStringLiteral("used"),
                            QStringLiteral("%1时%2分").arg(bill.hours).arg(bill.minutes)},
                           {QStringLiteral("slots"), runs}})
        .toJson(QJsonDocument::Compact);
}

bool NoteTariff(Desk& desk, const QString& hourly, const QString& overnight) {
    if (!Recording(desk)) return true;
    return MoveStamp(desk) &&
           Run(desk,
               QStringLiteral("update Tplan set base=:a, night=:b where body<>'' and id=(select "
                              "max(id) from Tplan)"),
               {{QStringLiteral("a"), hourly}, {QStringLiteral("b"), overnight}});
}

#include "record_store/Schema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <vector>

#include "record_store/DatabaseError.h"
#include "record_store/Engine.h"
#include "record_store/Formats.h"

namespace {

using Fill = std::function<bool(QSqlDatabase& db, QSqlQuery& q)>;

// All of them or none; fill (when given) runs after the statements, in the same transaction.
bool RunInOneTransaction(QSqlDatabase& db, const QStringList& statements, QString* error,
                         const Fill& fill = {}) {
    const auto failed = [&](const QSqlError& e) {
        if (error) *error = DatabaseErrorText(e);
        return false;
    };
    if (!db.transaction()) return failed(db.lastError());
    {
        QSqlQuery q(db);
        for (const QString& statement : statements) {
            if (!q.exec(statement)) {
                const QSqlError e = q.lastError();
                q.finish();
                db.rollback();
                return failed(e);
            }
        }
        if (fill && !fill(db, q)) {
            const QSqlError e = q.lastError();
            q.finish();
            db.rollback();
            return failed(e);
        }
    }
    if (db.commit()) return true;
    const QSqlError e = db.lastError();
    db.rollback();
    return failed(e);
}

bool HasTable(const QSqlDatabase& db, const QString& table) {
    const QStringList tables = db.tables();
    return std::any_of(tables.cbegin(), tables.cend(), [&](const QString& t) {
        return t.compare(table, Qt::CaseInsensitive) == 0;
    });
}

// Each row's total in fen, from its texts as the reports read them (none when one of them is not
// an amount): the engine sums and groups them exactly.
bool FillTotalFen(QSqlDatabase& db, QSqlQuery& q) {
    std::vector<std::pair<qint64, QString>> fen;
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select id, tmoney, tother, tsum from Tjournal"))) return false;
    while (q.next())
        fen.emplace_back(
            q.value(0).toLongLong(),
            JournalFenText(q.value(1).toString(), q.value(2).toString(), q.value(3).toString()));
    if (q.lastError().isValid()) return false;
    q.finish();
    if (!q.prepare(QStringLiteral("update Tjournal set total_fen=? where id=?"))) return false;
    for (const auto& [id, cents] : fen) {
        q.bindValue(0, cents.isEmpty() ? QVariant(QMetaType(QMetaType::LongLong))
                                       : QVariant(cents.toLongLong()));
        q.bindValue(1, id);
        if (!q.exec()) return false;
    }
    (void)db;
    return true;
}

struct Step {
    QStringList statements;
    Fill fill = {};
};

// The console's own tables, by schema version: step n brings version n-1 to n. Tables keyed by
// machine name take the engine's case rule, as Tcount does.
std::vector<Step> Steps(const Engine& engine) {
    const Engine::TableRules rules = engine.Tables();
    return {
        // 1: the takings journal, append-only, each row chained to the one before by SHA-256.
        {{QStringLiteral(
              "create table Tjournal (id integer primary key, at text not null, desk text not "
              "null, operator text not null, kind text not null, machine text not null, target "
              "text not null, tstart text not null, tend text not null, stime text not null, "
              "tmoney text not null, tother text not null, tsum text not null, state text not "
              "null, amount text not null, note text not null, flagged integer not null, prev "
              "text not null, hash text not null)"),
          QStringLiteral("create index Tjournal_at on Tjournal(at)"),
          QStringLiteral("create table Tschema (version integer not null)")}},
        // 2: what the café sets once for every desk (its name on reports and receipts).
        {{QStringLiteral(
            "create table Tsetting (name text not null primary key, value text not null)")}},
        // 3: operators who sign in. Journal rows name the account (an id that survives a rename)
        // and, for what a cashier did with the owner's password, the owner; v says which canonical
        // text a row's hash covers, so the rows written before keep verifying. The owner's seal
        // keys: each a public key and the salt its private half is derived with from the password,
        // from the journal row (since) where a change of the owner's password brought it in.
        {{QStringLiteral("alter table Tjournal add column v integer not null default 1"),
          QStringLiteral("alter table Tjournal add column account text not null default ''"),
          QStringLiteral("alter table Tjournal add column approver text not null default ''"),
          QStringLiteral(
              "create table Taccount (id integer primary key, name text not null, role text not "
              "null, hash text not null, enabled integer not null, failures integer not null, "
              "lockouts integer not null, locked_until text not null)"),
          QStringLiteral("create table Tsealkey (salt text not null, publickey text not null, "
                         "since integer not null)")}},
        // 4: price plans. Each version takes effect at its date-time (body empty: no plan, the
        // single rate); holidays; the machines' zones; each session's full start and zone, kept
        // (1) when it is more than "begun today at Tstart in the machine's zone", so a pass
        // reads only those and the sessions begun on an earlier day; a stamp that every change
        // of the versions, holidays or zones moves, on whichever desk.
        {rules.before +
         QStringList{
             QStringLiteral("create table Tplan (id integer not null primary key, effective "
                            "text not null, body text not null, base text not null, night "
                            "text not null)"),
             QStringLiteral("create table Tholiday (day text not null primary key)"),
             QStringLiteral("create table Tzone (") + rules.nameColumn +
                 QStringLiteral(", zone text not null)"),
             QStringLiteral("create table Tsession (") + rules.nameColumn +
                 QStringLiteral(", started text not null, zone text not null, carried text "
                                "not null, night_ends text not null, warned integer not "
                                "null, kept integer not null)"),
             QStringLiteral("create index Tsession_started on Tsession(started)"),
             QStringLiteral("create index Tsession_kept on Tsession(kept)"),
             QStringLiteral("create table Tplanstamp (n integer not null)"),
             QStringLiteral("insert into Tplanstamp (n) values (0)")}},
        // 5: totals in fen for the engine to sum, and indexes for the reports' filters and the
        // open shift's look-up, so neither reads the whole journal.
        {{QStringLiteral("alter table Tjournal add column total_fen bigint"),
          QStringLiteral("create index Tjournal_kind_at on Tjournal(kind, at)"),
          QStringLiteral("create index Tjournal_desk_kind_at on Tjournal(desk, kind, at)"),
          QStringLiteral("create index Tjournal_desk_kind_id on Tjournal(desk, kind, id)")},
         FillTotalFen},
        // 6: packages sold: one row per sale, numbered by the sale's journal row, the package as
        // it was sold (body), its end, what was paid for it with extensions (fen), how far the
        // end has come (step: claimed by one desk each, told: when) and whether it is on,
        // closed at checkout or voided. A session's prepaid time: from when until when it is
        // covered (empty: not at all) and whether time after it is billed (1) or not (0: locked).
        {{QStringLiteral(
              "create table Tpackage (id integer not null primary key, machine text not null, "
              "name text not null, body text not null, zone text not null, sold text not null, "
              "ends text not null, paid text not null, step integer not null, told text not "
              "null, state text not null, desk text not null)"),
          QStringLiteral("create index Tpackage_machine on Tpackage(machine, state)"),
          QStringLiteral("alter table Tsession add column prepaid_from text not null default ''"),
          QStringLiteral("alter table Tsession add column prepaid_to text not null default ''"),
          QStringLiteral("alter table Tsession add column bill_after integer not null default 1")}},
        // 7: the settled bills' totals kept per day and hour, per machine by day and by month,
        // and per shift by day, so a report reads a few rows per day rather than every bill;
        // upto: the last journal row summed in (later rows are summed from the journal). Partial
        // indexes find the flagged rows and the bills without a total in fen of some days.
        {{QStringLiteral("create table Tsumhour (day text not null, desk text not null, hour "
                         "text not null, n bigint not null, fen bigint not null, primary key "
                         "(day, desk, hour))"),
          QStringLiteral("create table Tsummachine (span text not null, period text not null, "
                         "desk text not null, machine text not null, n bigint not null, fen "
                         "bigint not null, primary key (span, period, desk, machine))"),
          QStringLiteral("create table Tsumshift (day text not null, desk text not null, shift "
                         "bigint not null, operator text not null, account text not null, n "
                         "bigint not null, fen bigint not null, primary key (day, desk, shift, "
                         "operator, account))"),
          QStringLiteral("create table Tsumstamp (upto bigint not null)"),
          QStringLiteral("insert into Tsumstamp (upto) values (0)"),
          QStringLiteral("create index Tjournal_flagged_at on Tjournal(at) where flagged=1"),
          QStringLiteral(
              "create index Tjournal_unsummable on Tjournal(kind, at) where total_fen is null")}},
    };
}

}  // namespace

bool CreateTables(QSqlDatabase& db, const Engine& engine, QString* error) {
    const Engine::TableRules rules = engine.Tables();
    QStringList statements = rules.before;
    statements << QStringLiteral("create table Tcount (") + rules.nameColumn +
                      QStringLiteral(
                          ", Tstart text, Tnow text, Stime text, Tmoney text, Tother "
                          "text, Tsum text, gotime text, Cstate text default '无')")
               << QStringLiteral("create table Tmoney (OneTime text, Tnight text)")
               << QStringLiteral("insert into Tmoney (OneTime, Tnight) values ('2', '10')");
    statements << rules.after;
    return RunInOneTransaction(db, statements, error);
}

int OurTables(const QSqlDatabase& db) {
    int found = 0;
    for (const QString& table : db.tables())
        if (table.compare(QStringLiteral("Tcount"), Qt::CaseInsensitive) == 0 ||
            table.compare(QStringLiteral("Tmoney"), Qt::CaseInsensitive) == 0)
            ++found;
    return found;
}

bool MigrateSchema(QSqlDatabase& db, const Engine& engine, QString* error) {
    int version = 0;
    if (HasTable(db, QStringLiteral("Tschema"))) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select max(version) from Tschema"))) {
            if (error) *error = DatabaseErrorText(q.lastError());
            return false;
        }
        if (q.next()) version = q.value(0).toInt();
    }
    const std::vector<Step> steps = Steps(engine);
    for (int step = version; step < int(steps.size()); ++step) {
        QStringList statements = steps[size_t(step)].statements;
        statements << QStringLiteral("delete from Tschema")
                   << QStringLiteral("insert into Tschema (version) values (%1)").arg(step + 1);
        if (!RunInOneTransaction(db, statements, error, steps[size_t(step)].fill)) return false;
    }
    return true;
}

QString JournalFenText(const QString& fee, const QString& other, const QString& total) {
    const auto cents = ParseCents(total);
    if (!cents || !ParseCents(fee) || !ParseCents(other)) return {};
    return QString::number(*cents);
}

bool FillJournalFen(QSqlDatabase& db, QString* error) {
    QSqlQuery q(db);
    if (FillTotalFen(db, q)) return true;
    if (error) *error = DatabaseErrorText(q.lastError());
    return false;
}

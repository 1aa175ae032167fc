#include "packages/Packages.h"

#include <QList>
#include <algorithm>
#include <utility>

#include "billing/Messages.h"
#include "billing/SessionStart.h"
#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"
#include "accounts/Accounts.h"
#include "ledger/Journal.h"
#include "ledger/Options.h"
#include "plans/Plans.h"
#include "record_store/Formats.h"

namespace {

const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kCatalogueOption = QStringLiteral("packages");
const QString kWarningsOption = QStringLiteral("package_warnings");
const QString kOn = QStringLiteral("on");

using Params = QList<std::pair<QString, QString>>;

// Statements on the journal's own query, which every step closes again: a tick's statements
// never disturb a command's.
Query* Run(Desk& desk, const QString& statement, const Params& params = {}) {
    return desk.DataModule1.JournalQuery->Statement(statement, params);
}


QString YuanText(qint64 fen) {
    QString text = CentsText(fen);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

QString SoldNote(const Package& p, const QDateTime& ends) {
    return QStringLiteral("%1（%2），到 %3").arg(p.name, PackageKindText(p), ends.toString(kStamp));
}

// In the caller's write transaction: the sale's journal row, its Tpackage row (numbered by the
// journal row) and the end in 提示时间.
bool RecordSale(Desk& desk, const QString& machine, const Package& p, const QString& zone,
                const QDateTime& sold) {
    const QDateTime ends = PackageEndsAt(p, sold);
    JournalEntry entry;
    entry.kind = JournalKind::PackageSale;
    entry.machine = machine;
    entry.amount = CentsText(p.price);
    entry.note = SoldNote(p, ends);
    if (!AppendJournal(desk, entry)) return false;
    // The session's start as billing takes it: today at Tstart (read after the start wrote it).
    Query* t = Run(desk, QStringLiteral("select Tstart from Tcount where username=:m"),
                   {{QStringLiteral("m"), machine}});
    if (!t->Open() || t->RecordCount() == 0) return false;
    const QTime tstart = QTime::fromString(t->FieldText(QStringLiteral("Tstart")), QStringLiteral("H:m:s"));
    t->Close();
    QDateTime sessionStart(sold.date(), tstart.isValid() ? tstart : sold.time());
    if (sessionStart > sold) sessionStart = sessionStart.addDays(-1);
    if (!NotePrepaid(desk, machine, sessionStart, sold, ends, p.atEnd == PackageEnd::Continue))
        return false;
    Query* q = Run(desk, QStringLiteral("select max(id) as last from Tjournal"));
    if (!q->Open() || q->RecordCount() == 0) return false;
    const QString id = q->FieldText(QStringLiteral("last"));
    q->Close();
    return Run(desk,
               QStringLiteral("insert into Tpackage (id, machine, name, body, zone, sold, ends, "
                              "paid, step, told, state, desk) values (:i, :m, :n, :b, :z, :s, "
                              ":e, :p, 0, '', :o, :d)"),
               {{QStringLiteral("i"), id},
                {QStringLiteral("m"), machine},
                {QStringLiteral("n"), p.name},
                {QStringLiteral("b"), QString::fromUtf8(PackageToJson(p))},
                {QStringLiteral("z"), zone},
                {QStringLiteral("s"), sold.toString(kStamp)},
                {QStringLiteral("e"), ends.toString(kStamp)},
                {QStringLiteral("p"), QString::number(p.price)},
                {QStringLiteral("o"), kOn},
                {QStringLiteral("d"), desk.deskName}})
               ->ExecSQL() &&
           Run(desk, QStringLiteral("update Tcount set gotime=:g where username=:m"),
               {{QStringLiteral("g"), PackageEndText(ends)}, {QStringLiteral("m"), machine}})
               ->ExecSQL();
}

QString SoldText(const Package& p, const QDateTime& ends) {
    return QStringLiteral("已售出“%1”，收款 %2 元，到 %3 结束。")
        .arg(p.name, YuanText(p.price), ends.toString(QStringLiteral("M月d日 H:mm:ss")));
}

std::vector<SoldPackage> ReadSold(Query* q) {
    std::vector<SoldPackage> rows;
    for (int i = 0; i < q->RecordCount(); ++i) {
        const auto f = [&](const char* c) { return q->FieldText(i, QString::fromLatin1(c)); };
        SoldPackage s;
        s.id = f("id").toLongLong();
        s.machine = f("machine");
        std::optional<Package> p = PackageFromJson(f("body").toUtf8(), nullptr);
        if (!p) continue;  // another tool's row the console cannot read: left alone
        s.package = *p;
        s.zone = f("zone");
        s.sold = QDateTime::fromString(f("sold"), kStamp);
        s.ends = QDateTime::fromString(f("ends"), kStamp);
        s.paid = f("paid").toLongLong();
        s.step = f("step").toInt();
        s.desk = f("desk");
        rows.push_back(s);
    }
    return rows;
}

const QString kSoldColumns =
    QStringLiteral("select p.id, p.machine, p.body, p.zone, p.sold, p.ends, p.paid, p.step, p.told, "
                   "p.desk from Tpackage p");

}  // namespace

QString PackageText::Warning(int minutes) {
    return QStringLiteral("包时还剩%1分钟").arg(minutes);
}

QString PackageEndText(const QDateTime& ends) {
    return ends.toString(QStringLiteral("H:mm"));
}

SaleContext SaleContextFor(Desk& desk, const QString& machine) {
    SaleContext where;
    where.zone = MachineZoneNow(desk, machine);
    where.zones = PlanZoneNames(desk);
    if (const std::optional<PlanState> state = ReadPlanState(desk)) where.holidays = state->pricing.holidays;
    return where;
}

std::optional<Catalogue> StoredCatalogue(Desk& desk) {
    const std::optional<QString> json = StoredOption(desk, kCatalogueOption);
    if (!json) return std::nullopt;
    if (json->isEmpty()) return Catalogue{};
    return CatalogueFromJson(json->toUtf8(), nullptr);
}

bool SaveCatalogue(Desk& desk, const Catalogue& catalogue, const QStringList& zones,
                   QString* problem) {
    if (const std::optional<QString> wrong = CheckCatalogue(catalogue, zones)) {
        *problem = *wrong;
        return false;
    }
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) {
        *problem = DeskText::DbContact;
        return false;
    }
    const std::optional<QString> before = StoredOption(desk, kCatalogueOption);
    const QString after = QString::fromUtf8(CatalogueToJson(catalogue));
    JournalEntry entry;
    entry.kind = JournalKind::PackageCatalogue;
    entry.note = QStringLiteral("原：%1\n新：%2").arg(before.value_or(QString()), after);
    if (!before || !StoreOption(desk, kCatalogueOption, after) || !AppendJournal(desk, entry) ||
        !transaction.Commit()) {
        transaction.Rollback();
        *problem = DeskText::DbContact;
        return false;
    }
    return true;
}

PackageWarnings StoredWarnings(Desk& desk) {
    PackageWarnings w;
    const QStringList parts = StoredOption(desk, kWarningsOption).value_or(QString()).split(QLatin1Char(','));
    if (parts.size() == 2) {
        bool ok1 = false, ok2 = false;
        const int first = parts[0].toInt(&ok1), second = parts[1].toInt(&ok2);
        if (ok1 && ok2 && first >= 0 && second >= 0) w = {first, second};
    }
    return w;
}

bool SaveWarnings(Desk& desk, const PackageWarnings& w, QString* problem) {
    if (w.first < 0 || w.second < 0 || w.first > 120 || w.second > 120 ||
        (w.first > 0 && w.second >= w.first)) {
        *problem = QStringLiteral("提醒时间要在0到120分钟之间，第一次要比第二次早（0：不提醒）。");
        return false;
    }
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite() ||
        !StoreOption(desk, kWarningsOption, QStringLiteral("%1,%2").arg(w.first).arg(w.second)) ||
        !transaction.Commit()) {
        *problem = DeskText::DbContact;
        return false;
    }
    return true;
}

std::optional<SoldPackage> RunningPackage(Desk& desk, const QString& machine, bool* failed) {
    Query* q = Run(desk, kSoldColumns + QStringLiteral(" where p.machine=:m and p.state=:o"),
                   {{QStringLiteral("m"), machine}, {QStringLiteral("o"), kOn}});
    *failed = !q->Open();
    if (*failed) return std::nullopt;
    std::vector<SoldPackage> rows = ReadSold(q);
    q->Close();
    if (rows.empty()) return std::nullopt;
    return rows.front();
}

std::optional<QStringList> MachinesHolding(Desk& desk, const QString& name) {
    Query* q = name.isEmpty()
                   ? Run(desk, QStringLiteral("select machine from Tpackage where state=:o"),
                         {{QStringLiteral("o"), kOn}})
                   : Run(desk,
                         QStringLiteral("select machine from Tpackage where state=:o and name=:n"),
                         {{QStringLiteral("o"), kOn}, {QStringLiteral("n"), name}});
    if (!q->Open()) return std::nullopt;
    QStringList machines;
    for (int i = 0; i < q->RecordCount(); ++i) machines << q->FieldText(i, QStringLiteral("machine"));
    q->Close();
    machines.sort(Qt::CaseInsensitive);
    return machines;
}

std::vector<Offer> Offers(const Catalogue& catalogue, const SaleContext& where, const QDateTime& at,
                          bool machineHoldsOne) {
    std::vector<Offer> offers;
    for (const Package& p : catalogue.packages)
        offers.push_back({&p, WhyNotSellable(p, where.zone, at, where.holidays, machineHoldsOne)});
    return offers;
}

bool SellPackage(Desk& desk, const QString& machine, const QString& name, const SaleContext& where) {
    const std::optional<Catalogue> catalogue = StoredCatalogue(desk);
    if (!catalogue) {
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    const Package* package = catalogue->Find(name);
    if (!package) {
        desk.prompts.message(QStringLiteral("没有名为“%1”的包时。").arg(name));
        return false;
    }
    Query* q = Run(desk, QStringLiteral("select Cstate from Tcount where username=:m"),
                   {{QStringLiteral("m"), machine}});
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    const QString state = q->RecordCount() ? q->FieldText(QStringLiteral("Cstate")) : QString();
    q->Close();
    if (state != QStringLiteral("无") && state != QStringLiteral("正常")) {
        desk.prompts.message(state.isEmpty() ? QStringLiteral("没有机器“%1”。").arg(machine)
                                             : QStringLiteral("通宵中的机器不能买包时。"));
        return false;
    }
    bool failed = false;
    const std::optional<SoldPackage> running = RunningPackage(desk, machine, &failed);
    if (failed) {
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    const QDateTime now = desk.clock.nowDateTime();
    if (const std::optional<NotSellable> why =
            WhyNotSellable(*package, where.zone, now, where.holidays, running.has_value())) {
        desk.prompts.message(NotSellableText(*package, *why, where.zone));
        return false;
    }
    const QDateTime ends = PackageEndsAt(*package, now);
    if (state == QStringLiteral("无")) {
        // The described start, with the sale in its transaction: "sj" leaves only when both
        // can be recorded.
        desk.SelectedMachine = machine;
        if (!StartSession(desk, [&] { return RecordSale(desk, machine, *package, where.zone, now); }))
            return false;
    } else {
        // A machine in session: the package starts now; the time before it stays billed.
        Transaction transaction(desk.DataModule1);
        Query* lock = Run(desk,
                          QStringLiteral("select Cstate from Tcount where username=:m") +
                              desk.DataModule1.engine().RowLock(),
                          {{QStringLiteral("m"), machine}});
        const bool locked = transaction.BeginWrite() && lock->Open();
        const bool stillNormal =
            locked && lock->RecordCount() && lock->FieldText(QStringLiteral("Cstate")) == state;
        lock->Close();
        // Under the row's lock: another desk may have sold it one meanwhile.
        const bool holds = stillNormal && RunningPackage(desk, machine, &failed).has_value();
        if (!locked || !stillNormal || failed || holds ||
            !RecordSale(desk, machine, *package, where.zone, now) || !transaction.Commit()) {
            transaction.Rollback();
            desk.prompts.message(
                holds ? NotSellableText(*package, NotSellable::AlreadyHolds, where.zone)
                : locked && !stillNormal ? QStringLiteral("该机已不在上机状态，未售出。")
                                         : DeskText::DbContact);
            return false;
        }
        desk.RefreshSessionGrid();
    }
    desk.prompts.message(SoldText(*package, ends));
    return true;
}

void WatchPackages(Desk& desk) {
    Query* q = Run(desk, kSoldColumns +
                             QStringLiteral(", Tcount c where p.state=:o and p.step<:l and "
                                            "c.username=p.machine and c.Cstate='正常'"),
                   {{QStringLiteral("o"), kOn}, {QStringLiteral("l"), QString::number(Locked)}});
    if (!q->Open()) return;  // the passes report a database that cannot be read
    std::vector<SoldPackage> rows = ReadSold(q);
    std::vector<QDateTime> told;
    for (int i = 0; i < q->RecordCount(); ++i)
        told.push_back(QDateTime::fromString(q->FieldText(i, QStringLiteral("told")), kStamp));
    q->Close();
    const QDateTime now = desk.clock.nowDateTime();
    const PackageWarnings warnings = StoredWarnings(desk);

    struct Due {
        SoldPackage sold;
        int step;
        int minutes;  // a warning's
    };
    std::vector<Due> due;
    for (size_t i = 0; i < rows.size(); ++i) {
        const SoldPackage& s = rows[i];
        if (!s.ends.isValid()) continue;
        const qint64 left = now.secsTo(s.ends);
        int step = s.step, minutes = 0;
        if (left <= 0) {
            step = std::max(step, int(Ended));
            // The grace minute counts from the end or, after a restart across it, from the
            // lock's message: the player always gets a minute to save.
            const QDateTime from = told[i].isValid() && told[i] > s.ends ? told[i] : s.ends;
            if (s.package.atEnd == PackageEnd::Lock && s.step >= Ended && from.secsTo(now) >= 60)
                step = Locked;
        } else if (warnings.second > 0 && left <= warnings.second * 60) {
            step = std::max(step, int(SecondWarned));
            minutes = warnings.second;
        } else if (warnings.first > 0 && left <= warnings.first * 60) {
            step = std::max(step, int(FirstWarned));
            minutes = warnings.first;
        }
        if (step <= s.step) continue;
        // One desk claims each step: the one whose update finds the row where it was.
        Query* claim = Run(desk,
                           QStringLiteral("update Tpackage set step=:n, told=:t where id=:i and "
                                          "step=:s and state=:o"),
                           {{QStringLiteral("n"), QString::number(step)},
                            {QStringLiteral("t"), now.toString(kStamp)},
                            {QStringLiteral("i"), QString::number(s.id)},
                            {QStringLiteral("s"), QString::number(s.step)},
                            {QStringLiteral("o"), kOn}});
        if (!claim->ExecSQL() || claim->RowsAffected() != 1) continue;
        due.push_back({s, step, minutes});
    }
    // Every client is told first; only then does the operator read the boxes.
    std::vector<bool> sent;
    for (const Due& d : due) {
        QString text;
        switch (d.step) {
            case FirstWarned:
            case SecondWarned: text = PackageText::Warning(d.minutes); break;
            case Ended:
                text = d.sold.package.atEnd == PackageEnd::Lock ? PackageText::EndLock
                                                                : PackageText::EndContinue;
                break;
            case Locked: text = Command::End; break;
        }
        sent.push_back(SendQuietly(desk, d.sold.machine, text));
    }
    for (size_t i = 0; i < due.size(); ++i) {
        const Due& d = due[i];
        if (d.step == FirstWarned || d.step == SecondWarned) {
            QString text = QStringLiteral("机器“%1”的包时“%2”还剩%3分钟（%4 结束）。")
                               .arg(d.sold.machine, d.sold.package.name)
                               .arg(d.minutes)
                               .arg(PackageEndText(d.sold.ends));
            text += sent[i] ? QStringLiteral("已给它发了消息“%1”。").arg(PackageText::Warning(d.minutes))
                            : QStringLiteral("给它的消息没有发出，请检查该机是否联网。");
            desk.prompts.message(text);
        } else if (d.step == Locked) {
            desk.prompts.message(
                sent[i] ? QStringLiteral("机器“%1”的包时“%2”已到，已锁机，等待结账。")
                              .arg(d.sold.machine, d.sold.package.name)
                        : QStringLiteral("机器“%1”的包时“%2”已到，锁机命令没有发出，请检查该机是否联网。")
                              .arg(d.sold.machine, d.sold.package.name));
        }
    }
}

std::optional<PackageBill> PackageAtCheckout(Desk& desk, const QString& machine, bool* failed,
                                             const QDateTime& at) {
    std::optional<SoldPackage> sold = RunningPackage(desk, machine, failed);
    if (!sold) return std::nullopt;
    PackageBill bill{*sold, PackageRefundAt(sold->package, sold->paid, sold->sold, sold->ends,
                                            at.isValid() ? at : desk.clock.nowDateTime())};
    return bill;
}

std::vector<Desk::SettledLine> PackageLines(const PackageBill& bill) {
    std::vector<Desk::SettledLine> lines{
        {QStringLiteral("包时“%1”").arg(bill.sold.package.name),
         QStringLiteral("%1，已预付").arg(PackageKindText(bill.sold.package)), YuanText(bill.sold.paid)}};
    if (bill.refund > 0)
        lines.push_back({QStringLiteral("包时退款"), QStringLiteral("未用时间按比例退还"),
                         YuanText(-bill.refund)});
    return lines;
}

namespace {

bool SettlePackage(Desk& desk, const QString& machine, const QDateTime& at,
                   std::vector<Desk::SettledLine>* lines) {
    bool failed = false;
    const std::optional<PackageBill> bill = PackageAtCheckout(desk, machine, &failed, at);
    if (failed) return false;
    if (!bill) return true;
    const std::vector<Desk::SettledLine> mine = PackageLines(*bill);
    lines->insert(lines->end(), mine.begin(), mine.end());
    if (bill->refund > 0) {
        JournalEntry entry;
        entry.kind = JournalKind::PackageRefund;
        entry.machine = machine;
        entry.amount = CentsText(-bill->refund);
        entry.note = SoldNote(bill->sold.package, bill->sold.ends);
        entry.target = QString::number(bill->sold.id);
        if (!AppendJournal(desk, entry)) return false;
    }
    return Run(desk, QStringLiteral("update Tpackage set state='closed' where id=:i and state=:o"),
               {{QStringLiteral("i"), QString::number(bill->sold.id)}, {QStringLiteral("o"), kOn}})
        ->ExecSQL();
}

// The zone a package moved from..to would leave for, when it is another one.
std::optional<std::pair<SoldPackage, QString>> ZoneChange(Desk& desk, const QString& from,
                                                          const QString& to, bool* failed) {
    const std::optional<SoldPackage> sold = RunningPackage(desk, from, failed);
    if (!sold) return std::nullopt;
    const QString zone = MachineZoneNow(desk, to);
    if (zone == sold->zone) return std::nullopt;
    return std::pair{*sold, zone};
}

bool MovePackage(Desk& desk, const QString& from, const QString& to) {
    bool failed = false;
    const auto change = ZoneChange(desk, from, to, &failed);
    if (failed) return false;
    if (change) {
        JournalEntry entry;
        entry.kind = JournalKind::PackageCrossZone;
        entry.machine = from;
        entry.target = to;
        entry.note = QStringLiteral("%1：%2 → %3").arg(change->first.package.name, change->first.zone,
                                                       change->second);
        entry.flagged = true;
        if (!AppendJournal(desk, entry)) return false;
    }
    return Run(desk, QStringLiteral("update Tpackage set machine=:t where machine=:f and state=:o"),
               {{QStringLiteral("t"), to}, {QStringLiteral("f"), from}, {QStringLiteral("o"), kOn}})
        ->ExecSQL();
}

// The owner settles a deleted session by hand (its row is flagged), so nothing is given back
// here: the package ends, and the row says what had been paid for it.
bool DropPackage(Desk& desk, const QString& machine, QString* note) {
    bool failed = false;
    const std::optional<SoldPackage> sold = RunningPackage(desk, machine, &failed);
    if (failed) return false;
    if (!sold) return true;
    *note = QStringLiteral("包时“%1”已收 %2 元，未退").arg(sold->package.name, YuanText(sold->paid));
    return Run(desk, QStringLiteral("update Tpackage set state='dropped' where id=:i and state=:o"),
               {{QStringLiteral("i"), QString::number(sold->id)}, {QStringLiteral("o"), kOn}})
        ->ExecSQL();
}

}  // namespace

std::optional<QString> CrossZoneMove(Desk& desk, const QString& from, const QString& to) {
    bool failed = false;
    const auto change = ZoneChange(desk, from, to, &failed);
    if (!change) return std::nullopt;
    return QStringLiteral("把“%1”的包时“%2”（%3）转到%4的“%5”")
        .arg(from, change->first.package.name, change->first.zone,
             change->second.isEmpty() ? QStringLiteral("其他区域") : change->second, to);
}

void InstallPackageHooks(Desk& desk) {
    desk.sessionSettled = [&desk](const QString& machine, const QDateTime& at,
                                  std::vector<Desk::SettledLine>* lines) {
        return SettlePackage(desk, machine, at, lines);
    };
    desk.sessionDropped = [&desk](const QString& machine, QString* note) {
        return DropPackage(desk, machine, note);
    };
    desk.sessionMoved = [&desk](const QString& from, const QString& to) {
        return MovePackage(desk, from, to);
    };
}

namespace {

// Opens a write transaction holding machine's row, and reads its running package under it (a
// checkout or another desk may have come first). nullopt after its box.
std::optional<SoldPackage> HoldRunning(Desk& desk, Transaction& transaction, const QString& machine,
                                       qint64 id) {
    Query* lock = Run(desk,
                      QStringLiteral("select Cstate from Tcount where username=:m") +
                          desk.DataModule1.engine().RowLock(),
                      {{QStringLiteral("m"), machine}});
    if (!transaction.BeginWrite() || !lock->Open()) {
        desk.prompts.message(DeskText::DbContact);
        return std::nullopt;
    }
    lock->Close();
    bool failed = false;
    std::optional<SoldPackage> sold = RunningPackage(desk, machine, &failed);
    if (failed) {
        desk.prompts.message(DeskText::DbContact);
        return std::nullopt;
    }
    if (!sold || sold->id != id) {
        desk.prompts.message(QStringLiteral("机器“%1”的包时已结账或已作废，没有改动。").arg(machine));
        return std::nullopt;
    }
    return sold;
}

bool Finish(Desk& desk, Transaction& transaction, bool ok) {
    if (!ok || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    desk.RefreshSessionGrid();
    return true;
}

std::optional<SoldPackage> RunningOrSay(Desk& desk, const QString& machine) {
    bool failed = false;
    std::optional<SoldPackage> sold = RunningPackage(desk, machine, &failed);
    if (failed)
        desk.prompts.message(DeskText::DbContact);
    else if (!sold)
        desk.prompts.message(QStringLiteral("机器“%1”没有包时。").arg(machine));
    return sold;
}

// In the caller's transaction: the package covers the session until ends, its warnings
// armed again, paid now paid.
bool MoveEnd(Desk& desk, const SoldPackage& sold, const QDateTime& ends, qint64 paid) {
    return NotePrepaid(desk, sold.machine, sold.sold, sold.sold, ends,
                       sold.package.atEnd == PackageEnd::Continue) &&
           Run(desk,
               QStringLiteral("update Tpackage set ends=:e, paid=:p, step=0, told='' where id=:i"),
               {{QStringLiteral("e"), ends.toString(kStamp)},
                {QStringLiteral("p"), QString::number(paid)},
                {QStringLiteral("i"), QString::number(sold.id)}})
               ->ExecSQL() &&
           Run(desk, QStringLiteral("update Tcount set gotime=:g where username=:m"),
               {{QStringLiteral("g"), PackageEndText(ends)}, {QStringLiteral("m"), sold.machine}})
               ->ExecSQL();
}

}  // namespace

bool VoidPackage(Desk& desk, const QString& machine, const QString& reason) {
    const QString why = reason.simplified();
    if (why.isEmpty()) {
        desk.prompts.message(QStringLiteral("作废包时要写明原因。"));
        return false;
    }
    const std::optional<SoldPackage> sold = RunningOrSay(desk, machine);
    if (!sold) return false;
    // A mistake is put right at the desk at once; later the money is the owner's to give back.
    const bool late = sold->sold.secsTo(desk.clock.nowDateTime()) > kVoidMinutes * 60;
    const OwnerApproval approval(
        desk, QStringLiteral("作废机器“%1”的包时“%2”（售出已超过%3分钟）")
                  .arg(machine, sold->package.name)
                  .arg(kVoidMinutes),
        late);
    if (!approval) return false;
    Transaction transaction(desk.DataModule1);
    const std::optional<SoldPackage> held = HoldRunning(desk, transaction, machine, sold->id);
    if (!held) return false;
    JournalEntry entry;
    entry.kind = JournalKind::PackageVoid;
    entry.machine = machine;
    entry.amount = CentsText(-held->paid);
    entry.note = QStringLiteral("%1；%2").arg(why, SoldNote(held->package, held->ends));
    entry.target = QString::number(held->id);
    // The session is billed by the clock from its start, as if no package had been sold.
    const bool ok =
        AppendJournal(desk, entry) &&
        Run(desk, QStringLiteral("update Tpackage set state='void' where id=:i and state=:o"),
            {{QStringLiteral("i"), QString::number(held->id)}, {QStringLiteral("o"), kOn}})
            ->ExecSQL() &&
        DropPrepaid(desk, machine) &&
        Run(desk, QStringLiteral("update Tcount set gotime='' where username=:m"),
            {{QStringLiteral("m"), machine}})
            ->ExecSQL();
    if (!Finish(desk, transaction, ok)) return false;
    desk.prompts.message(QStringLiteral("已作废机器“%1”的包时“%2”，退还 %3 元；该机从上机时起按时计费。")
                             .arg(machine, held->package.name, YuanText(held->paid)));
    return true;
}

bool ExtendPackage(Desk& desk, const QString& machine, const Extension& extension,
                   const SaleContext& where) {
    const std::optional<SoldPackage> sold = RunningOrSay(desk, machine);
    if (!sold) return false;
    const QDateTime now = desk.clock.nowDateTime();
    Package another;
    qint64 price = extension.price;
    QString what = QStringLiteral("%1分钟").arg(extension.minutes);
    if (!extension.package.isEmpty()) {
        const std::optional<Catalogue> catalogue = StoredCatalogue(desk);
        const Package* p = catalogue ? catalogue->Find(extension.package) : nullptr;
        if (!catalogue) {
            desk.prompts.message(DeskText::DbContact);
            return false;
        }
        if (!p) {
            desk.prompts.message(QStringLiteral("没有名为“%1”的包时。").arg(extension.package));
            return false;
        }
        if (const std::optional<NotSellable> why =
                WhyNotSellable(*p, where.zone, now, where.holidays, false)) {
            desk.prompts.message(NotSellableText(*p, *why, where.zone));
            return false;
        }
        another = *p;
        price = p->price;
        what = QStringLiteral("%1（%2）").arg(p->name, PackageKindText(*p));
    } else if (extension.minutes < 1 || extension.minutes > 10080 || price <= 0 ||
               price > 1000000) {
        desk.prompts.message(QStringLiteral("续时要写分钟数（1到10080）和收款金额（大于0，最多10000元）。"));
        return false;
    }
    Transaction transaction(desk.DataModule1);
    const std::optional<SoldPackage> held = HoldRunning(desk, transaction, machine, sold->id);
    if (!held) return false;
    if (held->ends <= now) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("机器“%1”的包时“%2”已经结束，不能续时。").arg(machine, held->package.name));
        return false;
    }
    // The time bought follows on from the end, without a gap or an overlap.
    const QDateTime ends = extension.package.isEmpty()
                               ? held->ends.addSecs(qint64(extension.minutes) * 60)
                               : another.kind == PackageKind::Length
                                     ? held->ends.addSecs(qint64(another.minutes) * 60)
                                     : PackageEndsAt(another, held->ends);
    JournalEntry entry;
    entry.kind = JournalKind::PackageExtend;
    entry.machine = machine;
    entry.amount = CentsText(price);
    entry.note = QStringLiteral("%1：续%2，到 %3").arg(held->package.name, what, ends.toString(kStamp));
    entry.target = QString::number(held->id);
    if (!Finish(desk, transaction,
                AppendJournal(desk, entry) && MoveEnd(desk, *held, ends, held->paid + price)))
        return false;
    desk.prompts.message(QStringLiteral("机器“%1”的包时“%2”已续%3，收款 %4 元，到 %5 结束。")
                             .arg(machine, held->package.name, what, YuanText(price),
                                  ends.toString(QStringLiteral("M月d日 H:mm:ss"))));
    return true;
}

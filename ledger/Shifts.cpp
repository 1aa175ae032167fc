#include "ledger/Shifts.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <functional>
#include <memory>

#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "record_store/DatabaseError.h"

namespace {

qint64 Cents(const QString& text) { return ParseCents(text).value_or(0); }

constexpr int kMaxOperatorName = 32;
constexpr qint64 kMaxCashCents = 100000 * 100;  // what one drawer can hold, and then some

}  // namespace

// A seal key other than the one this desk saw last: someone may have put their own in and
// signed the seals again. The owner's paper says which one is theirs. One the seen key vouched
// for (the owner changed the password since) is no alarm.
QString SealKeyAlarm(Desk& desk, const ChainCheck& check) {
    if (check.keyFingerprint.isEmpty()) return {};
    const QString key = desk.PerDatabaseKey(QStringLiteral("sealKey"));
    const QString seen = desk.settings.value(key);
    if (!seen.isEmpty() && !check.keyHistory.contains(seen))
        return QStringLiteral("店主封账的公钥变了：本机上次见到的指纹是 %1，现在是 %2。"
                              "请店主核对记在纸上的指纹；不是店主换的，封账就不可信。")
            .arg(seen, check.keyFingerprint);
    desk.settings.setValue(key, check.keyFingerprint);
    return {};
}

void CheckJournalBeside(Desk& desk, JournalCheck kind, std::function<void(const ChainCheck&)> done) {
    const QString source = desk.DataModule1.connectionName();
    const auto head = desk.JournalHead();
    const auto from = kind == JournalCheck::SinceLastVerified
                          ? VerifiedJournalRow(desk)
                          : std::pair<qint64, QString>{0, QString()};
    const QDate today = desk.clock.nowDateTime().date();
    struct Outcome {
        ChainCheck check;
        std::pair<qint64, QString> verified;
        QString sumsRedone;  // the reports' kept sums were not the journal's: what to say
    };
    auto outcome = std::make_shared<Outcome>();
    const QString journalLock = desk.DataModule1.engine().JournalLock();
    desk.RunInBackground(
        [source, head, from, outcome, journalLock, whole = kind != JournalCheck::SinceLastVerified] {
            const QString name = source + QStringLiteral("-journal-check");
            {
                QSqlDatabase db = QSqlDatabase::cloneDatabase(source, name);
                outcome->check =
                    db.open() ? VerifyJournalAfter(name, from, head, &outcome->verified)
                              : ChainCheck{ChainCheck::Unreadable, 0,
                                           DatabaseErrorText(db.lastError())};
                // The reports' kept sums catch up here, beside the window; a report sums what
                // they miss from the journal, so a failure costs only time.
                if (db.isOpen()) FoldReportSums(name, journalLock, nullptr);
                // The whole check also holds the kept sums to the journal: another tool may
                // change them, and the chain does not cover them. They are made again if so.
                if (whole && outcome->check.result == ChainCheck::Intact)
                    outcome->sumsRedone = RedoReportSumsIfChanged(name, journalLock);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        },
        [&desk, kind, today, outcome, done = std::move(done)] {
            if (outcome->check.result == ChainCheck::Intact) {
                SetVerifiedJournalRow(desk, outcome->verified);
                if (kind != JournalCheck::SinceLastVerified)
                    desk.SetDatabaseSetting(QStringLiteral("journalFullCheck"),
                                            today.toString(Qt::ISODate));
            }
            done(outcome->check);
            if (!outcome->sumsRedone.isEmpty()) desk.prompts.message(outcome->sumsRedone);
        },
        kind == JournalCheck::Weekly ? QThread::LowestPriority : QThread::InheritPriority);
}

void ResumeJournal(Desk& desk) {
    if (!desk.DataModule1.SchemaError().isEmpty()) return;  // a file that cannot hold it
    if (const std::optional<Shift> shift = OpenShiftOf(desk))
        desk.operatorName = shift->operatorName;
    // Only the rows added since the last check are verified at start, beside the window; the
    // whole chain once a week, at low priority. The box, if any, comes when the check is done.
    const QDate last = QDate::fromString(desk.DatabaseSetting(QStringLiteral("journalFullCheck")),
                                         Qt::ISODate);
    const bool weekly = !last.isValid() || last.daysTo(desk.clock.nowDateTime().date()) >= 7 ||
                        last > desk.clock.nowDateTime().date();
    CheckJournalBeside(desk, weekly ? JournalCheck::Weekly : JournalCheck::SinceLastVerified,
                       [&desk](const ChainCheck& check) {
                           if (check.result != ChainCheck::Intact) {
                               desk.prompts.message(ChainAlteredText(check));
                               return;
                           }
                           if (const QString alarm = SealKeyAlarm(desk, check); !alarm.isEmpty())
                               desk.prompts.message(alarm);
                       });
}

std::optional<Shift> OpenShiftOf(Desk& desk) {
    // The desk's last opening and last closing, each one look-up in (desk, kind, id).
    const auto rows = SelectJournal(
        desk,
        QStringLiteral(" where id in ((select max(id) from Tjournal where desk=:d1 and kind=:o), "
                       "(select max(id) from Tjournal where desk=:d2 and kind=:c)) order by id "
                       "desc limit 1"),
        {{QStringLiteral("d1"), desk.deskName},
         {QStringLiteral("d2"), desk.deskName},
         {QStringLiteral("o"), JournalKind::ShiftOpen},
         {QStringLiteral("c"), JournalKind::ShiftClose}});
    if (!rows || rows->empty() || rows->front().entry.kind != JournalKind::ShiftOpen)
        return std::nullopt;
    const JournalRow& open = rows->front();
    return Shift{open.id, open.operatorName, open.at, Cents(open.entry.amount)};
}

bool OpenShift(Desk& desk, const QString& operatorName, const QString& floatText) {
    const QString name = operatorName.trimmed();
    if (name.isEmpty()) {
        desk.prompts.message(QStringLiteral("请输入值班员的名字。"));
        return false;
    }
    if (name.size() > kMaxOperatorName) {
        desk.prompts.message(QStringLiteral("值班员的名字最多%1个字。").arg(kMaxOperatorName));
        return false;
    }
    // An empty float is refused like an empty count: the drawer is counted, not assumed empty.
    const TypedAmount opening = ReadTypedAmount(floatText, kMaxCashCents);
    if (opening.check != TypedAmount::Ok || opening.cents < 0) {
        desk.prompts.message(QStringLiteral(
            "备用金必须是0到100000元之间的金额，最多两位小数，例如 200 或 150.5。"));
        return false;
    }
    Transaction transaction(desk.DataModule1);
    if (!transaction.BeginWrite()) {
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    if (const std::optional<Shift> open = OpenShiftOf(desk)) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("本机已有一个班次（值班员：%1）没有交班，请先交班。")
                                 .arg(open->operatorName));
        return false;
    }
    const QString before = desk.operatorName;
    desk.operatorName = name;
    JournalEntry entry;
    entry.kind = JournalKind::ShiftOpen;
    entry.amount = CentsText(opening.cents);
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.operatorName = before;
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    return true;
}

namespace {

// The float plus the shift's takings; no box. nullopt when the journal cannot be read.
std::optional<ShiftCount> Count(Desk& desk, const Shift& shift, qint64 counted) {
    // Checkouts take their bill's total; packages sold, extended, voided and refunded move
    // their amount in or out of the drawer.
    const auto taken = SelectJournal(
        desk,
        QStringLiteral(" where desk=:d and kind in (:k, :s, :e, :v, :r) and id>:i"),
        {{QStringLiteral("d"), desk.deskName},
         {QStringLiteral("k"), JournalKind::Checkout},
         {QStringLiteral("s"), JournalKind::PackageSale},
         {QStringLiteral("e"), JournalKind::PackageExtend},
         {QStringLiteral("v"), JournalKind::PackageVoid},
         {QStringLiteral("r"), JournalKind::PackageRefund},
         {QStringLiteral("i"), QString::number(shift.openId)}});
    if (!taken) return std::nullopt;
    ShiftCount count;
    count.expectedCents = shift.floatCents;
    for (const JournalRow& row : *taken)
        count.expectedCents += JournalKind::PackageMoney(row.entry.kind) ? Cents(row.entry.amount)
                                                                         : Cents(row.entry.total);
    count.countedCents = counted;
    count.differenceCents = counted - count.expectedCents;
    return count;
}

std::optional<qint64> CountedCash(Desk& desk, const QString& countedText) {
    const TypedAmount counted = ReadTypedAmount(countedText, kMaxCashCents);
    if (counted.check != TypedAmount::Ok || counted.cents < 0) {
        desk.prompts.message(
            QStringLiteral("请输入清点出的现金金额（0到100000元，最多两位小数），例如 523.5。"));
        return std::nullopt;
    }
    return counted.cents;
}

// The shift's first recorded count: the one that stands. nullopt when there is none.
std::optional<JournalRow> FirstCount(Desk& desk, const Shift& shift) {
    const auto counts =
        SelectJournal(desk,
                      QStringLiteral(" where desk=:d and kind=:k and id>:i order by id limit 1"),
                      {{QStringLiteral("d"), desk.deskName},
                       {QStringLiteral("k"), JournalKind::ShiftCount},
                       {QStringLiteral("i"), QString::number(shift.openId)}});
    if (!counts || counts->empty()) return std::nullopt;
    return counts->front();
}

ShiftCount CountOfRow(const JournalRow& row) {
    return {Cents(row.entry.total), Cents(row.entry.amount), Cents(row.entry.other)};
}

// A count's journal row (清点 or 交班): counted, expected and the difference, as CountOfRow reads.
JournalEntry CountEntry(const QString& kind, const ShiftCount& count) {
    JournalEntry entry;
    entry.kind = kind;
    entry.amount = CentsText(count.countedCents);
    entry.total = CentsText(count.expectedCents);
    entry.other = CentsText(count.differenceCents);
    entry.flagged = count.differenceCents != 0;
    return entry;
}

const QString kNoShiftOrUnreadable = QStringLiteral("本机现在没有开着的班次，或营业记录无法读取。");

}  // namespace

std::optional<ShiftCount> ShiftCountOf(Desk& desk) {
    const std::optional<Shift> shift = OpenShiftOf(desk);
    if (!shift) return std::nullopt;
    const std::optional<JournalRow> first = FirstCount(desk, *shift);
    if (!first) return std::nullopt;
    return CountOfRow(*first);
}

std::optional<ShiftCount> CountShift(Desk& desk, const QString& countedText) {
    const std::optional<qint64> counted = CountedCash(desk, countedText);
    if (!counted) return std::nullopt;
    // The count is recorded the moment the expected cash is worked out: it cannot be taken
    // back once seen. A recount is a row of its own beside the first, which stands.
    Transaction transaction(desk.DataModule1);
    const std::optional<Shift> shift = transaction.BeginWrite() ? OpenShiftOf(desk) : std::nullopt;
    const std::optional<ShiftCount> count =
        shift ? Count(desk, *shift, *counted) : std::nullopt;
    if (!count) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("本机现在没有开着的班次。"));
        return std::nullopt;
    }
    const std::optional<JournalRow> first = FirstCount(desk, *shift);
    JournalEntry entry = CountEntry(JournalKind::ShiftCount, *count);
    entry.flagged = entry.flagged || first;
    if (first)
        entry.note = QStringLiteral("复点；以第%1条记录的第一次清点（%2 元）为准")
                         .arg(first->id)
                         .arg(first->entry.amount);
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbContact);
        return std::nullopt;
    }
    if (!first) return count;
    desk.prompts.message(
        QStringLiteral("第一次清点的 %1 元已经记下，以它为准；这次复点的 %2 元也已记入营业记录。")
            .arg(first->entry.amount, CentsText(count->countedCents)));
    return CountOfRow(*first);
}

bool CloseShift(Desk& desk, const QString& note) {
    Transaction transaction(desk.DataModule1);
    const auto refuse = [&](const QString& why) {
        transaction.Rollback();  // never held across a box
        desk.prompts.message(why);
        return false;
    };
    // The first count stands; the expected cash is worked out again inside the lock, so a bill
    // settled after the count shows as a difference instead of slipping past the drawer.
    const std::optional<Shift> shift =
        transaction.BeginWrite() ? OpenShiftOf(desk) : std::nullopt;
    if (!shift) return refuse(kNoShiftOrUnreadable);
    const std::optional<JournalRow> first = FirstCount(desk, *shift);
    if (!first) return refuse(QStringLiteral("请先清点现金，按“清点完毕”。"));
    const std::optional<ShiftCount> count = Count(desk, *shift, CountOfRow(*first).countedCents);
    if (!count) return refuse(kNoShiftOrUnreadable);
    if (count->differenceCents != 0 && note.trimmed().isEmpty()) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("现金与应有金额相差 %1 元，请在备注中写明原因。")
                                 .arg(CentsText(count->differenceCents)));
        return false;
    }
    JournalEntry entry = CountEntry(JournalKind::ShiftClose, *count);
    entry.note = note.trimmed();
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    desk.operatorName.clear();
    return true;
}

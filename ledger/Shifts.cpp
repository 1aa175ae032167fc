#include "ledger/Shifts.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <functional>
#include <memory>

#include "desk/Desk.h"
#include "desk/Messages.h"
#include "ledger/Journal.h"
#include "record_store/DatabaseError.h"

namespace {

qint64 Cents(const QString& text) { return ParseCents(text).value_or(0); }

}  // namespace

namespace {

std::pair<qint64, QString> StoredHead(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 2) return {0, QString()};
    return {parts[0].toLongLong(), parts[1]};
}

}  // namespace

void CheckJournalBeside(Desk& desk, JournalCheck kind, std::function<void(const ChainCheck&)> done) {
    const QString source = desk.DataModule1.connectionName();
    const auto head = desk.JournalHead();
    const auto from = kind == JournalCheck::SinceLastVerified
                          ? StoredHead(desk.DatabaseSetting(QStringLiteral("journalVerified")))
                          : std::pair<qint64, QString>{0, QString()};
    const QDate today = desk.clock.nowDateTime().date();
    struct Outcome {
        ChainCheck check;
        std::pair<qint64, QString> verified;
    };
    auto outcome = std::make_shared<Outcome>();
    desk.RunInBackground(
        [source, head, from, outcome] {
            const QString name = source + QStringLiteral("-journal-check");
            {
                QSqlDatabase db = QSqlDatabase::cloneDatabase(source, name);
                outcome->check =
                    db.open() ? VerifyJournalAfter(name, from, head, &outcome->verified)
                              : ChainCheck{ChainCheck::Unreadable, 0,
                                           DatabaseErrorText(db.lastError())};
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        },
        [&desk, kind, today, outcome, done = std::move(done)] {
            if (outcome->check.result == ChainCheck::Intact) {
                desk.SetDatabaseSetting(QStringLiteral("journalVerified"),
                                        QStringLiteral("%1 %2").arg(outcome->verified.first).arg(
                                            outcome->verified.second));
                if (kind != JournalCheck::SinceLastVerified)
                    desk.SetDatabaseSetting(QStringLiteral("journalFullCheck"),
                                            today.toString(Qt::ISODate));
            }
            done(outcome->check);
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
                           if (check.result != ChainCheck::Intact)
                               desk.prompts.message(ChainAlteredText(check));
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
    const std::optional<qint64> opening = ParseCents(floatText);
    if (!opening || *opening < 0) {
        desk.prompts.message(QStringLiteral("备用金必须是不小于0的金额，例如 200 或 150.5。"));
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
    entry.amount = CentsText(*opening);
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.operatorName = before;
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    return true;
}

namespace {

// The float plus the shift's takings; no box. nullopt when no shift is open or it cannot be read.
std::optional<ShiftCount> Count(Desk& desk, qint64 counted) {
    const std::optional<Shift> shift = OpenShiftOf(desk);
    if (!shift) return std::nullopt;
    const auto taken = SelectJournal(desk, QStringLiteral(" where desk=:d and kind=:k and id>:i"),
                                     {{QStringLiteral("d"), desk.deskName},
                                      {QStringLiteral("k"), JournalKind::Checkout},
                                      {QStringLiteral("i"), QString::number(shift->openId)}});
    if (!taken) return std::nullopt;
    ShiftCount count;
    count.expectedCents = shift->floatCents;
    for (const JournalRow& row : *taken) count.expectedCents += Cents(row.entry.total);
    count.countedCents = counted;
    count.differenceCents = counted - count.expectedCents;
    return count;
}

std::optional<qint64> CountedCash(Desk& desk, const QString& countedText) {
    const std::optional<qint64> counted = ParseCents(countedText);
    if (countedText.trimmed().isEmpty() || !counted || *counted < 0) {
        desk.prompts.message(QStringLiteral("请输入清点出的现金金额，例如 523.5。"));
        return std::nullopt;
    }
    return counted;
}

}  // namespace

std::optional<ShiftCount> CountShift(Desk& desk, const QString& countedText) {
    const std::optional<qint64> counted = CountedCash(desk, countedText);
    if (!counted) return std::nullopt;
    const std::optional<ShiftCount> count = Count(desk, *counted);
    if (!count) desk.prompts.message(QStringLiteral("本机现在没有开着的班次。"));
    return count;
}

bool CloseShift(Desk& desk, const QString& countedText, const QString& note) {
    const std::optional<qint64> counted = CountedCash(desk, countedText);
    if (!counted) return false;
    Transaction transaction(desk.DataModule1);
    // Counted inside the lock, so no checkout of this desk slips in between.
    const std::optional<ShiftCount> count =
        transaction.BeginWrite() ? Count(desk, *counted) : std::nullopt;
    if (!count) {
        transaction.Rollback();  // never held across a box
        desk.prompts.message(QStringLiteral("本机现在没有开着的班次，或营业记录无法读取。"));
        return false;
    }
    if (count->differenceCents != 0 && note.trimmed().isEmpty()) {
        transaction.Rollback();
        desk.prompts.message(QStringLiteral("现金与应有金额相差 %1 元，请在备注中写明原因。")
                                 .arg(CentsText(count->differenceCents)));
        return false;
    }
    JournalEntry entry;
    entry.kind = JournalKind::ShiftClose;
    entry.amount = CentsText(count->countedCents);
    entry.total = CentsText(count->expectedCents);
    entry.other = CentsText(count->differenceCents);
    entry.note = note.trimmed();
    entry.flagged = count->differenceCents != 0;
    if (!AppendJournal(desk, entry) || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    desk.operatorName.clear();
    return true;
}

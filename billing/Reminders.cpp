#include "billing/Reminders.h"

#include <memory>
#include <vector>

#include "client_channel/Datagram.h"
#include "desk/Desk.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"

namespace {

QTime ReminderTime(const QString& gotime) {
    return QTime::fromString(gotime, QStringLiteral("H:mm"));
}

}  // namespace

QString ReminderMessage() { return Command::Message(QStringLiteral("您的上网时间到了")); }

bool CanRemind(Desk& desk, const QString& machine) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select username from Tcount where username=:m and Cstate<>'无'"));
    q->SetParam(QStringLiteral("m"), machine);
    if (!q->Open()) {
        desk.prompts.message(DeskText::DbRestart);
        return false;
    }
    const bool inSession = q->RecordCount() > 0;
    q->Close();
    if (!inSession)
        desk.prompts.message(
            machine.isEmpty() ? QStringLiteral("请先在表格中选中一台上机中的机器。")
                              : QStringLiteral("机器“%1”没有在上机，不能设定提醒。").arg(machine));
    return inSession;
}

bool SetReminder(Desk& desk, const QString& machine, const QTime& at, bool sendMessage) {
    if (!at.isValid()) {
        desk.prompts.message(QStringLiteral("请填入提醒的时间。"));
        return false;
    }
    const QDateTime now = desk.clock.nowDateTime();
    const QTime minute(at.hour(), at.minute());
    QDateTime due(now.date(), minute);
    if (due <= now) due = due.addDays(1);  // a time already past today means tomorrow's
    const QString text = minute.toString(QStringLiteral("H:mm"));

    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("update Tcount set gotime=:g where username=:m and Cstate<>'无'"));
    q->SetParam(QStringLiteral("g"), text);
    q->SetParam(QStringLiteral("m"), machine);
    if (!q->ExecSQL()) {
        desk.prompts.message(DeskText::DbContact);
        return false;
    }
    if (q->RowsAffected() == 0) {
        desk.prompts.message(QStringLiteral("机器“%1”没有在上机，不能设定提醒。").arg(machine));
        return false;
    }
    desk.reminders.insert(MachineNameKey(machine), Reminder{text, due, sendMessage, false});
    emit desk.remindersChanged();
    desk.RefreshSessionGrid();
    return true;
}

bool SetReminderIn(Desk& desk, const QString& machine, int minutes, bool sendMessage) {
    if (minutes < 1 || minutes > 24 * 60) {
        desk.prompts.message(QStringLiteral("请填入1到1440之间的分钟数。"));
        return false;
    }
    return SetReminder(desk, machine, desk.clock.nowDateTime().addSecs(60 * minutes).time(),
                       sendMessage);
}

namespace {

struct ReminderRow {
    QString machine, gotime;
};

const char* const kReminderRows =
    "select username, gotime from Tcount where gotime<>'' and Cstate<>'无'";

// The rows read, on the window's thread: which reminders fall due now.
void TellDueReminders(Desk& desk, const std::vector<ReminderRow>& rows) {
    const QDateTime now = desk.clock.nowDateTime();
    QHash<QString, Reminder> current;
    std::vector<std::pair<QString, Reminder>> dueNow;
    for (const ReminderRow& row : rows) {
        const QTime at = ReminderTime(row.gotime);
        if (!at.isValid()) continue;
        const QString key = MachineNameKey(row.machine);
        Reminder reminder = desk.reminders.value(key);
        if (reminder.at != row.gotime) reminder = Reminder{row.gotime, {}, false, false};
        if (!reminder.told) {
            const bool due =
                reminder.due.isValid()
                    ? now >= reminder.due
                    : (QTime(0, 0).secsTo(now.time()) - QTime(0, 0).secsTo(at) + 86400) % 86400 <
                          12 * 3600;
            if (due) {
                reminder.told = true;
                dueNow.emplace_back(row.machine, reminder);
            }
        }
        current.insert(key, reminder);
    }
    // Sessions that ended take their reminders with them.
    const bool changed = current.size() != desk.reminders.size() || !dueNow.empty();
    desk.reminders = current;
    if (changed) emit desk.remindersChanged();
    // The clients are told when the time comes, all of them, and only then does the operator
    // read the boxes: a box left open must not hold back the next machine's message.
    std::vector<bool> sent;
    for (const auto& [machine, reminder] : dueNow)
        sent.push_back(reminder.sendMessage && SendQuietly(desk, machine, ReminderMessage()));
    for (size_t i = 0; i < dueNow.size(); ++i) {
        const auto& [machine, reminder] = dueNow[i];
        QString text = QStringLiteral("机器“%1”的提示时间 %2 到了。").arg(machine, reminder.at);
        if (reminder.sendMessage)
            text += sent[i] ? QStringLiteral("已给它发了消息“您的上网时间到了”。")
                            : QStringLiteral("给它的消息没有发出，请检查该机是否联网。");
        desk.prompts.message(text);
    }
}

}  // namespace

void CheckReminders(Desk& desk) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QString::fromLatin1(kReminderRows));
    if (!q->Open()) return;  // the passes report a database that cannot be read
    std::vector<ReminderRow> rows;
    for (q->First(); !q->Eof(); q->Next())
        rows.push_back(
            {q->FieldText(QStringLiteral("username")), q->FieldText(QStringLiteral("gotime"))});
    q->Close();
    TellDueReminders(desk, rows);
}

void CheckRemindersBeside(Desk& desk) {
    if (desk.remindersRunning || desk.ConnectionLost()) return;
    desk.remindersRunning = true;
    struct Read {
        std::vector<ReminderRow> rows;
        bool ok = false;
    };
    auto read = std::make_shared<Read>();
    desk.RunOnWorker(
        [read](QSqlDatabase& db, const Engine& engine) {
            read->ok = engine.Walk(
                db, QString::fromLatin1(kReminderRows), {},
                [&](const QString* row, int) { read->rows.push_back({row[0], row[1]}); }, nullptr);
        },
        [read, &desk] {
            desk.remindersRunning = false;
            if (read->ok) TellDueReminders(desk, read->rows);
        });
}

bool ReminderDue(const Desk& desk, const QString& machine, const QString& gotime) {
    if (gotime.isEmpty()) return false;
    const auto it = desk.reminders.constFind(MachineNameKey(machine));
    return it != desk.reminders.cend() && it->told && it->at == gotime;
}

#include "billing/Backups.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <memory>

#include "desk/Desk.h"
#include "record_store/Backup.h"

void BackUpToday(Desk& desk) {
    if (!desk.DataModule1.engine().IsFile()) return;  // a server's backups are the server's
    const QString source = desk.DataModule1.connectionName();
    const QString file = desk.DataModule1.ConnectionString();
    const QDate today = desk.clock.nowDateTime().date();
    auto result = std::make_shared<DailyBackupResult>();
    desk.RunInBackground(
        [source, file, today, result] {
            const QString name = source + QStringLiteral("-daily-backup");
            {
                QSqlDatabase db = QSqlDatabase::cloneDatabase(source, name);
                if (db.open())
                    *result = DailyBackup(name, file, today);
                else
                    result->error = db.lastError().text();
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        },
        [&desk, result] {
            if (!result->error.isEmpty())
                desk.prompts.message(
                    QStringLiteral("今天的自动备份没有成功：%1").arg(result->error));
        });
}

#include "record_store/ConnectDatabase.h"

#include <QDir>
#include <QFileInfo>

#include "record_store/DataModule.h"
#include "record_store/Engine.h"
#include "record_store/Formats.h"
#include "record_store/Seams.h"

bool SwitchConnection(TDataModule1& module, const QString& connectionString) {
    module.Disconnect();
    module.SetConnectionString(QString());
    module.SetConnectionString(connectionString);
    return module.Connect();
}

namespace {

// The default file in the start folder, made only now that it is the database in use.
void ConnectDefault(TDataModule1& module) {
    module.SetConnectionString(QString::fromLatin1(TDataModule1::DefaultConnectionString));
    if (module.Connect()) return;
    throw NoDatabaseError(
        QStringLiteral(
            "无法在文件夹“%1”中建立或打开数据库文件 count.db：%2\n请从一个可以写入的文件夹启动"
            "本软件，或者用 --database 指定数据库文件。")
            .arg(QDir::toNativeSeparators(QDir::currentPath()), module.LastError()));
}

}  // namespace

void ConnectDatabase(TDataModule1& module, SettingStore& settings, Prompts& prompts,
                     FileChooser& chooser) {
    if (settings.keyExists()) {
        const QString named = settings.readDatapath().trimmed();
        if (SwitchConnection(module, named)) return;
        // A desk must not work on a local file believing it shares the café's database.
        if (!Engine::For(named)->IsFile())
            prompts.message(
                QStringLiteral("%1\n现在改用本机的 count.db：这台前台的账不会和其他前台共享。")
                    .arg(module.LastError()));
        ConnectDefault(module);
        return;
    }

    prompts.message(QStringLiteral("因为您是第一次运行，请您先选择数据库的位置！"));
    const std::optional<QString> chosen = chooser.chooseDatabaseLocation();
    if (!chosen) {
        if (!module.Connected()) ConnectDefault(module);  // as the data module would have
        return;
    }
    // A name that is not there yet is a new database, made here with both tables; if it cannot
    // be made the setting stays unwritten, so the question comes again at the next start.
    const QString path = chosen->trimmed();
    if (Engine::For(path)->IsFile() && !QFileInfo::exists(path)) {
        QString why;
        if (!TDataModule1::CreateDatabaseFile(path, &why))
            throw UnhandledError(QStringLiteral("无法在“%1”建立新的数据库：%2")
                                     .arg(QDir::toNativeSeparators(path), why));
    }
    if (!settings.writeDatapath(*chosen))
        prompts.message(QStringLiteral("数据库的位置没有能保存在设置中（%1），下次启动时还会再问。")
                            .arg(settings.LastWriteError()));
    else if (!settings.LastWriteError().isEmpty())
        prompts.message(QStringLiteral("数据库的位置：%1。").arg(settings.LastWriteError()));
    if (!SwitchConnection(module, chosen->trimmed())) throw UnhandledError(module.LastError());
    module.ADOQuery1->Close();
    if (!module.ADOQuery1->Open()) throw UnhandledError(module.ADOQuery1->LastError());
}

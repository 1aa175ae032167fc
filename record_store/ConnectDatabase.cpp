#include "record_store/ConnectDatabase.h"

#include "record_store/DataModule.h"
#include "record_store/Formats.h"
#include "record_store/Seams.h"

bool SwitchConnection(TDataModule1& module, const QString& connectionString) {
    module.Disconnect();
    module.SetConnectionString(QString());
    module.SetConnectionString(connectionString);
    return module.Connect();
}

void ConnectDatabase(TDataModule1& module, SettingStore& settings, Prompts& prompts,
                     FileChooser& chooser) {
    if (settings.keyExists()) {
        if (SwitchConnection(module, settings.readDatapath().trimmed())) return;
        module.SetConnectionString(QString::fromLatin1(TDataModule1::DefaultConnectionString));
        if (!module.Connect()) throw UnhandledError(module.LastError());
        return;
    }

    prompts.message(QStringLiteral("因为您是第一次运行，请您先选择数据库的位置！"));
    const std::optional<QString> chosen = chooser.chooseDatabaseFile();
    if (!chosen) return;
    settings.writeDatapath(*chosen);
    if (!SwitchConnection(module, chosen->trimmed())) throw UnhandledError(module.LastError());
    module.ADOQuery1->Close();
    if (!module.ADOQuery1->Open()) throw UnhandledError(module.ADOQuery1->LastError());
}

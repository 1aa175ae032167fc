#pragma once

class QString;
class TDataModule1;
class Prompts;
class FileChooser;
class SettingStore;

// Points the data module's connection at the file named by the persistent setting, or asks the
// operator for it on the first run. Throws UnhandledError when the final connection fails.
void ConnectDatabase(TDataModule1& module, SettingStore& settings, Prompts& prompts,
                     FileChooser& chooser);

// Disconnect, clear, set, connect: the one way the connection changes.
bool SwitchConnection(TDataModule1& module, const QString& connectionString);

#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QCoreApplication;
class TNMUDP;

struct StartOptions {
    QString database;         // --database FILE: this start only; the setting stays
    bool dataFolder = false;  // --in-data-folder: count.db in the user's data folder
    bool verify = false;      // --verify: check the whole journal's chain, print, end
};

// What the command line asks for. Read before any window exists, so --help and --version
// answer on a machine without a display.
struct CommandLine {
    enum Kind { Run, Help, Version, Bad } kind = Run;
    StartOptions options;
    QString text;  // Help, Version: what to print; Bad: why
};
CommandLine ParseCommandLine(const QStringList& arguments);

// Qt's own texts (file dialog, OK and Cancel, edit menus, calendar) in Simplified Chinese and
// dates and month names in the Chinese way, whatever the computer's language. The console's
// own texts stay as they are, English ones included ("Yes", "No", "Error", "Confirm"), and so
// do its amounts and times, which never follow the locale. False when Qt's translations are
// not installed.
bool SpeakChinese(QCoreApplication& app);

// Makes the user's data folder the working folder, so count.db lives there and not wherever a
// menu starts the program. The folder, or nullopt when it cannot be made.
std::optional<QString> UseDataFolder();

// The message for a machine without the GBK code page, or empty when it is there.
QString GbkProblem();

// Why this console must not start (its command port is taken: most likely a console already
// runs on this computer), or empty when it may.
QString SecondConsoleProblem(const TNMUDP& endpoint);

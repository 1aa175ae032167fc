#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QCoreApplication;
class QTranslator;
class TNMUDP;

struct StartOptions {
    QString database;         // --database FILE: this start only; the setting stays
    bool dataFolder = false;  // --in-data-folder: count.db in the user's data folder
    bool verify = false;      // --verify: check the whole journal's chain, print, end
};

// --help and --version answer and end the program; nullopt with the reason for bad arguments.
std::optional<StartOptions> ParseCommandLine(QCoreApplication& app, const QStringList& arguments,
                                             QString* error);

// Qt's own texts (file dialog, OK and Cancel, edit menus) in Simplified Chinese, from Qt's
// translations; false when they are not installed. The texts the console itself shows stay
// as they are, English ones included ("Yes", "No", "Error", "Confirm").
bool InstallChineseTranslations(QCoreApplication& app);

// Makes the user's data folder the working folder, so count.db lives there and not wherever a
// menu starts the program. The folder, or nullopt when it cannot be made.
std::optional<QString> UseDataFolder();

// The message for a machine without the GBK code page, or empty when it is there.
QString GbkProblem();

// Why this console must not start (its command port is taken: most likely a console already
// runs on this computer), or empty when it may.
QString SecondConsoleProblem(const TNMUDP& endpoint);

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSysInfo>
#include <cstdio>

#include "client_channel/NMUDP.h"
#include "console/ProgramName.h"
#include "console/QtSeams.h"
#include "console/Startup.h"
#include "console/TForm1.h"
#include "desk/Desk.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "record_store/ConnectDatabase.h"
#include "record_store/DataModule.h"
#include "widgets/Themed.h"

namespace {

// cafe-console --verify: the whole chain from its first row, on the database a start would
// use; the exit codes are cafe-admin journal verify's.
int VerifyFromShell(const StartOptions& options) {
    if (options.dataFolder && !UseDataFolder()) {
        std::fputs("cafe-console: 无法建立本软件的数据文件夹。\n", stderr);
        return 1;
    }
    auto store = QSettingsStore::forThisMachine();
    QString text = options.database.isEmpty() ? store->readDatapath().trimmed() : options.database;
    if (text.isEmpty()) text = QDir::current().absoluteFilePath(QStringLiteral("count.db"));
    TDataModule1 module(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
    if (!SwitchConnection(module, text)) {
        std::fprintf(stderr, "cafe-console: %s\n", qPrintable(module.LastError()));
        return 1;
    }
    const ChainCheck check = VerifyJournalOn(module.connectionName(), {});
    // The reports' kept sums are outside the chain: held to it here too, made again if changed.
    if (check.result == ChainCheck::Intact) {
        if (const QString redone =
                RedoReportSumsIfChanged(module.connectionName(), module.engine().JournalLock());
            !redone.isEmpty()) {
            std::printf("%s\n", qPrintable(redone));
            return 3;
        }
    }
    if (check.result == ChainCheck::Intact) {
        // The fingerprint is for the owner's paper: seals made again with another key hold too.
        std::printf("%s\n", qPrintable(QStringLiteral("营业记录完好，没有被改动：%1")
                                           .arg(MaskedConnectionText(text)) +
                                       SealsHeldText(check)));
        return 0;
    }
    std::printf("%s\n", qPrintable(ChainAlteredText(check)));
    return check.result == ChainCheck::Unreadable ? 1 : 3;
}

}  // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer before QApplication exists: it needs a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine early = ParseCommandLine(arguments);
    if (early.kind != CommandLine::Run) {
        const bool bad = early.kind == CommandLine::Bad;
        std::fputs(
            qPrintable(bad ? QStringLiteral("cafe-console: %1\n").arg(early.text) : early.text),
            bad ? stderr : stdout);
        return bad ? 2 : 0;
    }
    // A check from a shell or a scheduled job: no display, no window.
    if (early.options.verify) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Qinglan"));
        QCoreApplication::setApplicationName(QStringLiteral("cafe-console"));
        return VerifyFromShell(ParseCommandLine(QCoreApplication::arguments()).options);
    }

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Qinglan"));
    QCoreApplication::setApplicationName(QStringLiteral("cafe-console"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CAFE_VERSION));
    // The desktop entry's name: Wayland's app id, and what the window is matched to.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.qinglan.CafeConsole"));
    QApplication::setWindowIcon(AppIcon());
    SpeakChinese(app);

    // Again from Qt's arguments, which keep a Windows path's characters that argv loses.
    const StartOptions options = ParseCommandLine(QCoreApplication::arguments()).options;
    if (options.dataFolder && !UseDataFolder()) {
        QMessageBox::critical(nullptr, ProgramName, QStringLiteral("无法建立本软件的数据文件夹。"));
        return 1;
    }
    if (const QString problem = GbkProblem(); !problem.isEmpty())
        QMessageBox::warning(nullptr, ProgramName, problem);

    MessageBoxPrompts prompts;
    SystemClock clock;
    FileDialogChooser chooser;
    auto settings = QSettingsStore::forThisMachine();
    // The default file opens now only when it is there: it is made later if it is the
    // database actually used, so a setting naming another one leaves no stray count.db.
    TDataModule1 DataModule1(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);

    QtHostResolver resolver;
    std::unique_ptr<Desk> desk;
    try {
        desk = std::make_unique<Desk>(DataModule1,
                                      DeskSeams{.prompts = &prompts,
                                                .clock = &clock,
                                                .settings = settings.get(),
                                                .chooser = &chooser,
                                                .resolver = &resolver,
                                                .remotePort = 1999,
                                                .localPort = 1998,
                                                .deskName = QSysInfo::machineHostName(),
                                                .databaseForThisStart = options.database});
    } catch (const UDPSockError& e) {
        // Without a socket the main window cannot be created.
        QMessageBox::critical(nullptr, ProgramName, e.text());
        return 1;
    }
    if (const QString problem = SecondConsoleProblem(*desk->NMUDP1); !problem.isEmpty()) {
        QMessageBox::critical(nullptr, ProgramName, problem);
        return 1;
    }
    TForm1 Form1(*desk);
    if (Form1.NoDatabase()) return 1;  // its box has said why
    Form1.show();
    return app.exec();
}

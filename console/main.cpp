#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSysInfo>

#include "client_channel/NMUDP.h"
#include "console/ProgramName.h"
#include "console/QtSeams.h"
#include "console/Startup.h"
#include "console/TForm1.h"
#include "desk/Desk.h"
#include "ledger/Journal.h"
#include "record_store/ConnectDatabase.h"
#include "record_store/DataModule.h"
#include "widgets/Themed.h"

int main(int argc, char* argv[]) {
    // A check from a shell or a scheduled job needs no display.
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--verify") == 0 && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Qinglan"));
    QCoreApplication::setApplicationName(QStringLiteral("cafe-console"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CAFE_VERSION));
    QApplication::setWindowIcon(AppIcon());
    InstallChineseTranslations(app);

    QString badArguments;
    const std::optional<StartOptions> options =
        ParseCommandLine(app, QCoreApplication::arguments(), &badArguments);
    if (!options) {
        std::fprintf(stderr, "cafe-console: %s\n", qPrintable(badArguments));
        return 2;
    }
    if (options->dataFolder && !UseDataFolder()) {
        QMessageBox::critical(nullptr, ProgramName, QStringLiteral("无法建立本软件的数据文件夹。"));
        return 1;
    }
    if (const QString problem = GbkProblem(); !problem.isEmpty())
        QMessageBox::warning(nullptr, ProgramName, problem);

    if (options->verify) {
        // The whole chain, from the first row, on the database this console would use.
        auto store = QSettingsStore::forThisMachine();
        QString text = options->database.isEmpty() ? store->readDatapath() : options->database;
        if (text.isEmpty()) text = QDir::current().absoluteFilePath(QStringLiteral("count.db"));
        TDataModule1 module(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
        if (!SwitchConnection(module, text)) {
            std::fprintf(stderr, "cafe-console: %s\n", qPrintable(module.LastError()));
            return 2;
        }
        const ChainCheck check =
            VerifyJournalAfter(module.connectionName(), {0, QString()}, {0, QString()}, nullptr);
        if (check.result == ChainCheck::Intact) {
            std::printf("%s\n", qPrintable(QStringLiteral("营业记录完整，没有发现改动：%1")
                                               .arg(MaskedConnectionText(text))));
            return 0;
        }
        std::printf("%s\n", qPrintable(ChainAlteredText(check)));
        return check.result == ChainCheck::Altered ? 1 : 2;
    }

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
                                                .databaseForThisStart = options->database});
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

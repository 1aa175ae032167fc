#include "console/Startup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTranslator>

#include "client_channel/NMUDP.h"
#include "record_store/Engine.h"

std::optional<StartOptions> ParseCommandLine(QCoreApplication& app, const QStringList& arguments,
                                             QString* error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("青岚网吧综合管理系统: the operator console of an internet café."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("Use FILE, or a server's postgresql://user@host/db, as the database for "
                       "this start; the setting stays as it is."),
        QStringLiteral("FILE"));
    const QCommandLineOption dataFolder(
        QStringLiteral("in-data-folder"),
        QStringLiteral("Keep count.db in the user's data folder instead of the working folder "
                       "(what the desktop entry does)."));
    const QCommandLineOption verify(
        QStringLiteral("verify"),
        QStringLiteral("Check the whole takings journal (every row's hash and link, none "
                       "missing) of the database in use, say what was found and end: exit "
                       "code 0 intact, 1 altered, 2 unreadable. No window opens."));
    parser.addOption(database);
    parser.addOption(dataFolder);
    parser.addOption(verify);
    if (!parser.parse(arguments)) {
        if (error) *error = parser.errorText();
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        if (error)
            *error =
                QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    (void)app;
    StartOptions options;
    if (parser.isSet(database)) {
        // A server's connection text is used as it is; only a file's path is made absolute.
        const QString value = parser.value(database);
        options.database =
            Engine::For(value)->IsFile() ? QDir::current().absoluteFilePath(value) : value;
    }
    options.dataFolder = parser.isSet(dataFolder);
    options.verify = parser.isSet(verify);
    return options;
}

bool InstallChineseTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

std::optional<QString> UseDataFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder) || !QDir::setCurrent(folder))
        return std::nullopt;
    return folder;
}

QString GbkProblem() {
    QStringEncoder gbk("GBK");
    if (gbk.isValid() && gbk.encode(QStringLiteral("你好")) == QByteArray("\xC4\xE3\xBA\xC3"))
        return {};
    return QStringLiteral(
        "本机的 Qt 没有 GBK 编码（需要 ICU），发给客户机的命令和信息都无法发送。"
        "请安装完整的 Qt 运行库后再启动本软件。");
}

QString SecondConsoleProblem(const TNMUDP& endpoint) {
    if (endpoint.Bound()) return {};
    // Commands would leave from a random port, which a client that checks it ignores.
    return QStringLiteral(
               "本机的端口 %1 已被占用：这台电脑上已经有一个青岚网吧综合管理系统在运行"
               "（或者别的程序占用了这个端口）。\n一台电脑只能运行一个控制台，"
               "请使用已经打开的那个窗口。")
        .arg(endpoint.LocalPort());
}

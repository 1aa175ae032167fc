#include "console/Startup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTranslator>

#include "client_channel/NMUDP.h"
#include "record_store/Engine.h"

namespace {

const char* const kHelp =
    "用法：cafe-console [选项]\n"
    "青岚网吧综合管理系统：网吧前台的操作台。\n"
    "\n"
    "选项：\n"
    "  --database 数据库     本次启动使用这个数据库：SQLite 文件的路径，或者\n"
    "                        postgresql://用户:密码@服务器:端口/库名；设置里保存的数据库不变。\n"
    "  --in-data-folder      count.db "
    "放在用户的数据文件夹（~/.local/share/Qinglan/cafe-console），\n"
    "                        而不是启动时所在的文件夹（桌面菜单就是这样启动的）。\n"
    "  --verify              从第一条起核对整个营业记录（数据库同上），说出结果后退出，\n"
    "                        不开窗口：退出码 0 完好，3 被改动，1 无法读取。\n"
    "  -h, --help            显示本帮助后退出。\n"
    "  -v, --version         显示版本后退出。\n"
    "\n"
    "不带选项时使用设置里保存的数据库；第一次运行时会请您选择数据库的位置。\n";

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption database(QStringLiteral("database"), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption dataFolder(QStringLiteral("in-data-folder"), QString());
    const QCommandLineOption verify(QStringLiteral("verify"), QString());
    parser.addOptions({help, version, database, dataFolder, verify});
    CommandLine line;
    if (!parser.parse(arguments)) {
        // The parser's own texts are English until Qt's translations are loaded.
        line.kind = CommandLine::Bad;
        const QStringList unknown = parser.unknownOptionNames();
        line.text = unknown.isEmpty() ? QStringLiteral("选项 --database 后面缺少数据库")
                                      : QStringLiteral("未知的选项：%1").arg(unknown.first());
        line.text += QStringLiteral("（用 --help 查看可用的选项）");
        return line;
    }
    if (parser.isSet(help)) {
        line.kind = CommandLine::Help;
        line.text = QString::fromUtf8(kHelp);
        return line;
    }
    if (parser.isSet(version)) {
        line.kind = CommandLine::Version;
        line.text = QStringLiteral("cafe-console %1\n").arg(QStringLiteral(CAFE_VERSION));
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.kind = CommandLine::Bad;
        line.text = QStringLiteral("多余的参数：%1（用 --help 查看可用的选项）")
                        .arg(parser.positionalArguments().first());
        return line;
    }
    if (parser.isSet(database)) {
        // A file is taken from where the command was typed; a server's URI as it is.
        const QString value = parser.value(database);
        line.options.database =
            Engine::For(value)->IsFile() ? QDir::current().absoluteFilePath(value) : value;
    }
    line.options.dataFolder = parser.isSet(dataFolder);
    line.options.verify = parser.isSet(verify);
    return line;
}

bool SpeakChinese(QCoreApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China));
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

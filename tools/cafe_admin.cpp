// cafe-admin: the owner's command line. The same operations as the window, without one:
//   cafe-admin [--database FILE|URI] COMMAND ...
// Exit status: 0 done, 1 the database or a file failed, 2 a command not understood, 3 the
// takings journal has been altered.
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSysInfo>
#include <cstdio>
#include <functional>
#include <optional>

#include "backups/Backup.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "ledger/CafeName.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "printing/ReportDocument.h"
#include "record_store/ConnectDatabase.h"
#include "record_store/DataModule.h"
#include "record_store/Engine.h"

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2, Altered = 3 };

void Say(FILE* to, const QString& line) {
    QString one = line;
    one.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fputs(qPrintable(one + QLatin1Char('\n')), to);
}

int Fail(Exit code, const QString& why) {
    Say(stderr, QStringLiteral("cafe-admin: ") + why);
    return code;
}

// No operator to ask: what an operation would show in a box is one line on stderr, and a
// question is answered No.
class LinePrompts : public Prompts {
  public:
    void message(const QString& text) override { Say(stderr, text); }
    void error(const QString& text) override { Say(stderr, text); }
    bool confirm(const QString& text) override {
        Say(stderr, text);
        return false;
    }
    void reportUnhandled(const QString& text) override { Say(stderr, text); }
};

// What every command works on: the database and a desk on it, as the console's own.
struct Admin {
    TDataModule1& module;
    Desk& desk;
};

// A command of the table: its words ("journal verify"), how it is called and what it does.
struct Command {
    QStringList words;
    QString usage;
    QString help;
    std::function<int(Admin&, const QStringList& arguments)> run;
};

int ReportCommand(Admin& admin, const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("date"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("date"));
    const QCommandLineOption desk(QStringLiteral("desk"), QString(), QStringLiteral("name"));
    const QCommandLineOption csv(QStringLiteral("csv"), QString(), QStringLiteral("file"));
    const QCommandLineOption pdf(QStringLiteral("pdf"), QString(), QStringLiteral("file"));
    parser.addOptions({from, to, desk, csv, pdf});
    if (!parser.parse(QStringList{QStringLiteral("report")} + arguments) ||
        !parser.positionalArguments().isEmpty())
        return Fail(Usage, QStringLiteral("report 的参数不对（用 --help 查看用法）"));
    const QDate first = QDate::fromString(parser.value(from), Qt::ISODate);
    const QDate last = QDate::fromString(parser.value(to), Qt::ISODate);
    if (!first.isValid() || !last.isValid())
        return Fail(Usage, QStringLiteral("--from 和 --to 要写成 年-月-日，例如 2026-12-09"));
    if (first > last) return Fail(Usage, QStringLiteral("开始日期不能晚于结束日期"));
    if (parser.isSet(csv) == parser.isSet(pdf))
        return Fail(Usage, QStringLiteral("要写 --csv 文件 或 --pdf 文件，二者选一"));

    const std::optional<Report> report = LoadReport(admin.desk, first, last, parser.value(desk));
    if (!report) return Fail(Failed, QStringLiteral("营业记录无法读取，报表不能生成"));
    if (report->check.result != ChainCheck::Intact) Say(stderr, ChainAlteredText(report->check));

    const QString path = parser.isSet(csv) ? parser.value(csv) : parser.value(pdf);
    QString why;
    if (parser.isSet(csv)) {
        // The bytes of 营业报表's 导出CSV.
        if (!WriteReportCsv(path, *report, &why))
            return Fail(Failed, QStringLiteral("无法写入文件“%1”：%2").arg(path, why));
    } else if (!WriteReportPdf(path, *report, {CafeName(admin.desk), QDateTime::currentDateTime()},
                               &why)) {
        return Fail(Failed, QStringLiteral("无法写入文件“%1”：%2").arg(path, why));
    }
    Say(stdout, QStringLiteral("营业报表已写入“%1”：%2 笔结账，合计 %3 元")
                    .arg(path)
                    .arg(report->bills.size())
                    .arg(CentsText(report->totalCents)));
    return Done;
}

int VerifyJournalCommand(Admin& admin, const QStringList& arguments) {
    if (!arguments.isEmpty()) return Fail(Usage, QStringLiteral("journal verify 不带参数"));
    const ChainCheck check = VerifyJournal(admin.desk);
    switch (check.result) {
        case ChainCheck::Intact:
            Say(stdout, QStringLiteral("营业记录完好，没有被改动"));
            return Done;
        case ChainCheck::Altered:
        case ChainCheck::Shorter:
            Say(stdout, ChainAlteredText(check));
            return Altered;
        case ChainCheck::Unreadable:
            break;
    }
    return Fail(Failed, QStringLiteral("营业记录无法读取：%1").arg(check.detail));
}

int BackupCommand(Admin& admin, const QStringList& arguments) {
    if (arguments.size() != 1) return Fail(Usage, QStringLiteral("backup 后面要写一个文件名"));
    if (!admin.module.engine().IsFile())
        return Fail(Failed, QStringLiteral("数据库在服务器上，这里不能复制。请在服务器上用 pg_dump "
                                           "备份，例如：pg_dump -Fc -f cafe-备份.dump 数据库名"));
    QString why;
    if (!BackupDatabase(admin.module.connectionName(), arguments[0], &why))
        return Fail(Failed, QStringLiteral("备份没有成功：%1").arg(why));
    Say(stdout, QStringLiteral("已备份到“%1”").arg(arguments[0]));
    return Done;
}

// Later commands (prices, packages, accounts) are one more row each.
const std::vector<Command>& Commands() {
    static const std::vector<Command> commands{
        {{QStringLiteral("report")},
         QStringLiteral(
             "report --from 年-月-日 --to 年-月-日 [--desk 前台] (--csv 文件 | --pdf 文件)"),
         QStringLiteral("营业报表，和“营业报表”窗口导出的一样：CSV（UTF-8，Excel、WPS 能打开）\n"
                        "或 A4 的 PDF。不写 --desk 时是全部前台。"),
         ReportCommand},
        {{QStringLiteral("journal"), QStringLiteral("verify")},
         QStringLiteral("journal verify"),
         QStringLiteral("检查营业记录有没有被改动：完好时退出码 0；被改动时退出码 3，\n"
                        "并说出第一条有问题的记录。"),
         VerifyJournalCommand},
        {{QStringLiteral("backup")},
         QStringLiteral("backup 文件"),
         QStringLiteral("把数据库一致地复制到文件（和“设置”里的“立即备份”一样）；数据库在\n"
                        "服务器上时说明怎样用 pg_dump 备份。"),
         BackupCommand},
    };
    return commands;
}

QString Help() {
    QString text = QStringLiteral(
        "用法：cafe-admin [--database 数据库] 命令 [参数]\n"
        "青岚网吧综合管理系统的店主命令行：不开窗口，出报表、查账、备份。\n\n命令：\n");
    for (const Command& c : Commands()) {
        text += QStringLiteral("  ") + c.usage + QLatin1Char('\n');
        for (const QString& line : c.help.split(QLatin1Char('\n')))
            text += QStringLiteral("        ") + line + QLatin1Char('\n');
    }
    text += QStringLiteral(
        "\n选项：\n"
        "  --database 数据库   使用这个数据库：SQLite 文件的路径，或 "
        "postgresql://用户@服务器/库名\n"
        "                      （密码请放在 ~/.pgpass，不要写在命令行上）。不写时使用前台设置里\n"
        "                      保存的数据库，再没有就用当前文件夹里的 count.db。\n"
        "  -h, --help          显示本帮助后退出。\n"
        "  -v, --version       显示版本后退出。\n\n"
        "退出码：0 成功；1 数据库或文件出错；2 命令或参数不对；3 营业记录被改动。\n");
    return text;
}

// The database this run uses: the option, else the console's setting, else count.db here.
// Never makes one: an owner's command must not leave an empty database behind.
std::optional<QString> DatabaseText(const QString& option, SettingStore& settings, QString* why) {
    if (!option.isEmpty()) return option;
    if (settings.keyExists()) return settings.readDatapath().trimmed();
    const QString here = QDir::current().absoluteFilePath(
        QString::fromLatin1(TDataModule1::DefaultConnectionString));
    if (QFileInfo::exists(here)) return here;
    *why = QStringLiteral(
        "没有找到数据库：设置里没有保存数据库，当前文件夹里也没有 count.db"
        "（用 --database 指定）");
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    // Options before the command are the program's; the rest belong to the command.
    QString database;
    int at = 1;
    for (; at < arguments.size(); ++at) {
        const QString& a = arguments[at];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(qPrintable(Help()), stdout);
            return Done;
        }
        if (a == QLatin1String("-v") || a == QLatin1String("--version")) {
            std::printf("cafe-admin %s\n", CAFE_VERSION);
            return Done;
        }
        if (a == QLatin1String("--database") && at + 1 < arguments.size()) {
            database = arguments[++at];
        } else if (a.startsWith(QLatin1String("--database="))) {
            database = a.mid(11);
        } else if (a.startsWith(QLatin1Char('-'))) {
            return Fail(Usage, QStringLiteral("未知的选项：%1（用 --help 查看用法）").arg(a));
        } else {
            break;
        }
    }
    const QStringList rest = arguments.mid(at);
    const Command* command = nullptr;
    for (const Command& c : Commands())
        if (rest.mid(0, c.words.size()) == c.words) command = &c;
    if (!command)
        return Fail(Usage, rest.isEmpty() ? QStringLiteral("要写一个命令（用 --help 查看用法）")
                                          : QStringLiteral("未知的命令：%1（用 --help 查看用法）")
                                                .arg(rest.join(QLatin1Char(' '))));

    // The PDF needs Qt's fonts, not a display. Qt's own chatter (a missing runtime folder, the
    // platform's notes) would break the one line a script reads: only its errors are said.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) Say(stderr, text);
    });
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Qinglan"));
    QCoreApplication::setApplicationName(QStringLiteral("cafe-admin"));

    auto settings = QSettingsStore::forThisMachine();
    QString why;
    std::optional<QString> text = DatabaseText(database, *settings, &why);
    if (!text) return Fail(Failed, why);
    if (Engine::For(*text)->IsFile()) text = QDir::current().absoluteFilePath(*text);
    TDataModule1 module(nullptr, TDataModule1::DefaultFile::OnlyIfPresent);
    if (!SwitchConnection(module, *text)) return Fail(Failed, module.LastError());

    LinePrompts prompts;
    SystemClock clock;
    NoFileChooser files;
    NoHostResolver names;
    std::unique_ptr<Desk> desk;
    try {
        // Port 0: a console on this computer keeps its own.
        desk = std::make_unique<Desk>(module, DeskSeams{.prompts = &prompts,
                                                        .clock = &clock,
                                                        .settings = settings.get(),
                                                        .chooser = &files,
                                                        .resolver = &names,
                                                        .remotePort = 1999,
                                                        .localPort = 0,
                                                        .deskName = QSysInfo::machineHostName()});
    } catch (const CafeError& e) {
        return Fail(Failed, e.text());
    }
    Admin admin{module, *desk};
    int code = Failed;
    desk->Guard([&] { code = command->run(admin, rest.mid(command->words.size())); });
    return code;
}

// cafe-admin: the owner's command line. The same operations as the window, without one:
//   cafe-admin [--database FILE|URI] COMMAND ...
// Exit status: 0 done, 1 the database or a file failed (a plan refused too), 2 a command not
// understood, 3 the takings journal has been altered, 4 an owner's seal does not hold. Passwords
// and PINs are read from standard input, one a line, never from the command line, and never
// echoed.
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSysInfo>
#include <cstdio>
#include <functional>
#include <optional>
#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "accounts/Accounts.h"
#include "backups/Backup.h"
#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "ledger/CafeName.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "packages/Packages.h"
#include "plans/Plans.h"
#include "printing/ReportDocument.h"
#include "record_store/ConnectDatabase.h"
#include "record_store/DataModule.h"
#include "record_store/Engine.h"

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2, Altered = 3, SealBroken = 4 };

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

std::optional<Account> OwnerFromInput(Admin& admin);

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

    // An export is the owner's, as in the window: nothing is written without the password.
    if (SignInOn(admin.desk) && !OwnerFromInput(admin)) return Failed;
    std::optional<Report> report = LoadReport(admin.desk, first, last, parser.value(desk));
    if (!report || !ReadAllBills(admin.desk, *report))
        return Fail(Failed, QStringLiteral("营业记录无法读取，报表不能生成"));
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
            // The reports' kept sums are outside the chain: held to it too, made again if changed.
            if (const QString redone = RedoReportSumsIfChanged(
                    admin.module.connectionName(), admin.module.engine().JournalLock());
                !redone.isEmpty()) {
                Say(stdout, redone);
                return Altered;
            }
            Say(stdout, QStringLiteral("营业记录完好，没有被改动") + SealsHeldText(check));
            return Done;
        case ChainCheck::Altered:
        case ChainCheck::Shorter:
            Say(stdout, ChainAlteredText(check));
            return Altered;
        case ChainCheck::SealBroken:
            Say(stdout, ChainAlteredText(check));
            return SealBroken;
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

// A date-time option ("YYYY-MM-DD HH:MM"); an absent one is invalid and not an error.
bool DateTimeOption(const QCommandLineParser& parser, const QCommandLineOption& option,
                    QDateTime* value) {
    if (!parser.isSet(option)) return true;
    *value = ParsePlanDateTime(parser.value(option));
    return value->isValid();
}

QString DateTimeFormText(const QString& option) {
    return QStringLiteral("%1 要写成 \"年-月-日 时:分\"，例如 \"2027-01-01 08:00\"").arg(option);
}

// An export's JSON into the file named, whole or not at all, saying so (done: its line with
// the file's name for %1); without a file the JSON itself is the output, for a pipe to another
// branch's import.
int Export(const QByteArray& json, const QStringList& arguments, const QString& done) {
    if (arguments.isEmpty()) {
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        return Done;
    }
    QSaveFile file(arguments[0]);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) < 0 || !file.commit())
        return Fail(Failed,
                    QStringLiteral("无法写入文件“%1”：%2").arg(arguments[0], file.errorString()));
    Say(stdout, done.arg(arguments[0]));
    return Done;
}

int PricesExportCommand(Admin& admin, const QStringList& arguments) {
    if (arguments.size() > 1)
        return Fail(Usage, QStringLiteral("prices export 后面最多写一个文件名"));
    const std::optional<QByteArray> json = ExportPlan(admin.desk);
    if (!json)
        return Fail(Failed, QStringLiteral("现在没有价格方案（全天按单一价格计费），没有可导出的"));
    return Export(*json, arguments, QStringLiteral("价格方案已导出到“%1”"));
}

// The arguments of prices import and off: that many files and an optional --from.
// Done with them, or the exit status after its line.
int FromAndFiles(const QString& word, const QStringList& arguments, int files,
                 const QString& usage, QDateTime* when, QStringList* positional) {
    QCommandLineParser parser;
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("when"));
    parser.addOption(from);
    if (!parser.parse(QStringList{word} + arguments) ||
        parser.positionalArguments().size() != files)
        return Fail(Usage, usage);
    if (!DateTimeOption(parser, from, when)) return Fail(Usage, DateTimeFormText("--from"));
    *positional = parser.positionalArguments();
    return Done;
}

int PricesImportCommand(Admin& admin, const QStringList& arguments) {
    QDateTime when;
    QStringList files;
    if (const int code = FromAndFiles(QStringLiteral("import"), arguments, 1,
                                      QStringLiteral("prices import 后面要写一个文件名，"
                                                     "可加 --from \"年-月-日 时:分\""),
                                      &when, &files))
        return code;
    QFile file(files[0]);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(Failed,
                    QStringLiteral("无法读取文件“%1”：%2").arg(files[0], file.errorString()));
    const QByteArray json = file.readAll();
    // Prices are the owner's, as in the window.
    if (SignInOn(admin.desk) && !OwnerFromInput(admin)) return Failed;
    const QDateTime effective = PlanEffectiveFrom(admin.desk, when);
    const QString wrong =
        ImportPlan(admin.desk, json, when.isValid() ? PlanDateTimeText(when) : QString());
    if (!wrong.isEmpty())
        return Fail(Failed, QStringLiteral("价格方案没有导入，什么也没有改：%1").arg(wrong));
    Say(stdout, QStringLiteral("价格方案已导入，自 %1 起生效").arg(PlanDateTimeText(effective)));
    return Done;
}

int PricesOffCommand(Admin& admin, const QStringList& arguments) {
    QDateTime when;
    QStringList none;
    if (const int code =
            FromAndFiles(QStringLiteral("off"), arguments, 0,
                         QStringLiteral("prices off 只可加 --from \"年-月-日 时:分\""), &when, &none))
        return code;
    if (!SavedPlan(admin.desk)) {
        Say(stdout, QStringLiteral("现在没有价格方案，已经是全天按单一价格计费，没有改动"));
        return Done;
    }
    if (SignInOn(admin.desk) && !OwnerFromInput(admin)) return Failed;
    const QDateTime effective = PlanEffectiveFrom(admin.desk, when);
    QString why;
    if (!PlanOff(admin.desk, when, &why))
        return Fail(Failed, QStringLiteral("价格方案没有停用：%1").arg(why));
    Say(stdout, QStringLiteral("价格方案已停用，自 %1 起全天按单一价格计费")
                    .arg(PlanDateTimeText(effective)));
    return Done;
}

int PackagesExportCommand(Admin& admin, const QStringList& arguments) {
    if (arguments.size() > 1)
        return Fail(Usage, QStringLiteral("packages export 后面最多写一个文件名"));
    const std::optional<Catalogue> catalogue = StoredCatalogue(admin.desk);
    if (!catalogue) return Fail(Failed, QStringLiteral("包时目录无法读取"));
    if (catalogue->packages.empty())
        return Fail(Failed, QStringLiteral("还没有包时目录，没有可导出的"));
    return Export(CatalogueToJson(*catalogue), arguments,
                  QStringLiteral("包时目录已导出到“%2”（%1 种包时）").arg(catalogue->packages.size()));
}

int PackagesImportCommand(Admin& admin, const QStringList& arguments) {
    if (arguments.size() != 1)
        return Fail(Usage, QStringLiteral("packages import 后面要写一个文件名"));
    QFile file(arguments[0]);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(Failed,
                    QStringLiteral("无法读取文件“%1”：%2").arg(arguments[0], file.errorString()));
    const QByteArray json = file.readAll();
    const QString refused = QStringLiteral("包时目录没有导入，什么也没有改：%1");
    QString problem;
    const std::optional<Catalogue> catalogue = CatalogueFromJson(json, &problem);
    if (!catalogue) return Fail(Failed, refused.arg(problem));
    // Packages belong to the plan's zones: without a plan none could ever be sold.
    const QStringList zones = PlanZoneNames(admin.desk);
    if (zones.isEmpty() && !catalogue->packages.empty())
        return Fail(Failed,
                    refused.arg(PackageText::NoPlan + QStringLiteral("（先用 prices import）")));
    // The catalogue is the owner's, as in the window.
    if (SignInOn(admin.desk) && !OwnerFromInput(admin)) return Failed;
    if (!SaveCatalogue(admin.desk, *catalogue, zones, &problem))
        return Fail(Failed, refused.arg(problem));
    Say(stdout, QStringLiteral("包时目录已导入：%1 种包时").arg(catalogue->packages.size()));
    return Done;
}

// bill --package: the session sold on the package at its start and checked out at its end,
// as the checkout would show it.
int PackageBillCommand(Admin& admin, const QString& name, const QString& zone,
                       const QDateTime& from, const QDateTime& to, bool json) {
    const std::optional<Catalogue> catalogue = StoredCatalogue(admin.desk);
    if (!catalogue) return Fail(Failed, QStringLiteral("包时目录无法读取"));
    const Package* package = catalogue->Find(name);
    if (!package) return Fail(Usage, QStringLiteral("包时目录里没有“%1”").arg(name));
    const std::optional<PlanState> state = ReadPlanState(admin.desk);
    if (!state) return Fail(Failed, QStringLiteral("价格无法读取，没有算出费用"));
    const QDateTime ends = PackageEndsAt(*package, from);
    const PreviewPrepaid prepaid{ends, package->atEnd == PackageEnd::Continue};
    QString unknownZone, priced;
    const std::optional<PlanBill> bill =
        PreviewBill(admin.desk, zone, from, to, &unknownZone, &prepaid, &priced);
    if (!bill) {
        if (!unknownZone.isEmpty()) return Fail(Usage, unknownZone);
        return Fail(Failed, QStringLiteral("价格无法读取，没有算出费用"));
    }
    if (const std::optional<NotSellable> why =
            WhyNotSellable(*package, priced, from, state->pricing.holidays, false))
        return Fail(Failed, NotSellableText(*package, *why, priced));
    const qint64 refund = PackageRefundAt(*package, package->price, from, ends, to);
    if (json) {
        QJsonObject object = QJsonDocument::fromJson(BillJson(*bill)).object();
        object.insert(QStringLiteral("due"), FenText(bill->fee));
        object.insert(QStringLiteral("prepaid"), FenText(package->price));
        object.insert(QStringLiteral("refund"), FenText(refund));
        object.insert(QStringLiteral("total"), FenText(package->price + bill->fee - refund));
        object.insert(QStringLiteral("ends"), PlanDateTimeText(ends));
        Say(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
        return Done;
    }
    for (const QString& line : SlotLines(*bill)) Say(stdout, line);
    Say(stdout, QStringLiteral("包时“%1”（%2），到 %3 结束，预付 %4元")
                    .arg(package->name, PackageKindText(*package), PlanDateTimeText(ends),
                         FenText(package->price)));
    Say(stdout, QStringLiteral("共用时间 %1时%2分，还应付 %3元，退还 %4元，合计 %5元")
                    .arg(bill->hours)
                    .arg(bill->minutes)
                    .arg(FenText(bill->fee), FenText(refund),
                         FenText(package->price + bill->fee - refund)));
    return Done;
}

int BillCommand(Admin& admin, const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption zone(QStringLiteral("zone"), QString(), QStringLiteral("name"));
    const QCommandLineOption start(QStringLiteral("start"), QString(), QStringLiteral("when"));
    const QCommandLineOption end(QStringLiteral("end"), QString(), QStringLiteral("when"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption package(QStringLiteral("package"), QString(), QStringLiteral("name"));
    parser.addOptions({zone, start, end, json, package});
    if (!parser.parse(QStringList{QStringLiteral("bill")} + arguments) ||
        !parser.positionalArguments().isEmpty())
        return Fail(Usage, QStringLiteral("bill 的参数不对（用 --help 查看用法）"));
    if (!parser.isSet(start) || !parser.isSet(end))
        return Fail(Usage, QStringLiteral("要写 --start 和 --end（\"年-月-日 时:分\"）"));
    QDateTime from, to;
    if (!DateTimeOption(parser, start, &from)) return Fail(Usage, DateTimeFormText("--start"));
    if (!DateTimeOption(parser, end, &to)) return Fail(Usage, DateTimeFormText("--end"));
    if (to < from) return Fail(Usage, QStringLiteral("结束时间不能早于开始时间"));
    if (parser.isSet(package)) return PackageBillCommand(admin, parser.value(package),
                                                         parser.value(zone), from, to,
                                                         parser.isSet(json));
    QString unknownZone;
    const std::optional<PlanBill> bill =
        PreviewBill(admin.desk, parser.value(zone), from, to, &unknownZone);
    if (!bill) {
        if (!unknownZone.isEmpty()) return Fail(Usage, unknownZone);
        return Fail(Failed, QStringLiteral("价格无法读取，没有算出费用"));
    }
    if (parser.isSet(json)) {
        Say(stdout, QString::fromUtf8(BillJson(*bill)));
        return Done;
    }
    for (const QString& line : SlotLines(*bill)) Say(stdout, line);
    Say(stdout, QStringLiteral("共用时间 %1时%2分，上网费用 %3元")
                    .arg(bill->hours)
                    .arg(bill->minutes)
                    .arg(FenText(bill->fee)));
    return Done;
}


// Typing not shown on a terminal (a console on Windows) while it lives; a pipe is left alone.
class EchoOff {
  public:
    explicit EchoOff(const QString& prompt) {
#if defined(Q_OS_UNIX)
        m_terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &m_before) == 0;
        if (!m_terminal) return;
        termios quiet = m_before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
#elif defined(Q_OS_WIN)
        m_input = GetStdHandle(STD_INPUT_HANDLE);
        m_terminal = m_input != INVALID_HANDLE_VALUE && GetConsoleMode(m_input, &m_before);
        if (!m_terminal) return;
        SetConsoleMode(m_input, m_before & ~DWORD(ENABLE_ECHO_INPUT));
#endif
        if (m_terminal) std::fputs(qPrintable(prompt), stderr);
    }
    ~EchoOff() {
        if (!m_terminal) return;
#if defined(Q_OS_UNIX)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_before);
#elif defined(Q_OS_WIN)
        SetConsoleMode(m_input, m_before);
#endif
        std::fputs("\n", stderr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool m_terminal = false;
#if defined(Q_OS_UNIX)
    termios m_before{};
#elif defined(Q_OS_WIN)
    HANDLE m_input = INVALID_HANDLE_VALUE;
    DWORD m_before = 0;
#endif
};

// One secret from standard input: a line, its end taken off, not echoed on a terminal. The
// line's buffer is wiped once the secret holds it.
std::optional<Secret> ReadSecret(const QString& prompt) {
    char line[1024];
    bool read = false;
    {
        const EchoOff quiet(prompt);
        read = std::fgets(line, sizeof line, stdin) != nullptr;
    }
    QByteArray bytes(read ? line : "");
    std::fill(std::begin(line), std::end(line), '\0');
    if (!read) return std::nullopt;
    while (bytes.endsWith('\n') || bytes.endsWith('\r')) bytes.chop(1);
    return Secret(std::move(bytes));
}

// A new secret typed twice; nullopt (after saying why) when they differ or input ends.
std::optional<Secret> ReadNewSecret(const QString& what) {
    std::optional<Secret> first = ReadSecret(QStringLiteral("%1：").arg(what));
    std::optional<Secret> again = ReadSecret(QStringLiteral("再输一次%1：").arg(what));
    if (!first || !again) {
        Fail(Usage, QStringLiteral("标准输入里没有%1（每行一个）").arg(what));
        return std::nullopt;
    }
    if (first->bytes() != again->bytes()) {
        Fail(Usage, QStringLiteral("两次输入的%1不一样").arg(what));
        return std::nullopt;
    }
    return first;
}

// The owner's password from standard input, checked; the owner's account, or nullopt after
// saying why. While it lives, the rows written carry the owner as approver.
std::optional<Account> OwnerFromInput(Admin& admin) {
    const std::optional<Secret> password = ReadSecret(QStringLiteral("店主密码："));
    if (!password) {
        Fail(Usage, QStringLiteral("标准输入里没有店主密码"));
        return std::nullopt;
    }
    const std::optional<Account> owner = CheckOwnerPassword(admin.desk, *password);
    if (!owner) {
        Fail(Failed, QStringLiteral("店主密码不对（或者操作员登录从来没有打开过），什么也没有改"));
        return std::nullopt;
    }
    admin.desk.approverId = owner->id;
    return owner;
}

int SignInCommand(Admin& admin, const QStringList& arguments) {
    QString why;
    if (arguments.size() == 3 && arguments[0] == QLatin1String("enable") &&
        arguments[1] == QLatin1String("--owner")) {
        const std::optional<Secret> password = ReadNewSecret(QStringLiteral("店主密码"));
        if (!password) return Usage;
        QString fingerprint;
        if (!EnableSignIn(admin.desk, arguments[2], *password, &why, &fingerprint))
            return Fail(Failed, why);
        Say(stdout, QStringLiteral("操作员登录已打开，店主“%1”。封账公钥的指纹：%2（请抄在纸上保管）")
                        .arg(arguments[2], fingerprint));
        return Done;
    }
    if (arguments == QStringList{QStringLiteral("disable")}) {
        const std::optional<Secret> password = ReadSecret(QStringLiteral("店主密码："));
        if (!password) return Fail(Usage, QStringLiteral("标准输入里没有店主密码"));
        if (!DisableSignIn(admin.desk, *password, &why)) return Fail(Failed, why);
        Say(stdout, QStringLiteral("操作员登录已关闭"));
        return Done;
    }
    return Fail(Usage, QStringLiteral("要写 signin enable --owner 名字 或 signin disable"));
}

// A cashier's new PIN, given the owner's password; or the owner's new password, given the old
// one, with the new seal key's fingerprint for the owner's paper.
int PasswdCommand(Admin& admin, const QString& name) {
    const std::optional<Account> account = FindAccount(admin.desk, name);
    if (!account) return Fail(Failed, QStringLiteral("没有叫“%1”的操作员").arg(name));
    QString why;
    if (account->role != Role::Owner) {
        if (!OwnerFromInput(admin)) return Failed;
        const std::optional<Secret> pin = ReadNewSecret(QStringLiteral("新的PIN"));
        if (!pin) return Usage;
        if (!ResetPin(admin.desk, name, *pin, &why)) return Fail(Failed, why);
        Say(stdout, QStringLiteral("“%1”的PIN已重设").arg(name));
        return Done;
    }
    const std::optional<Secret> old = ReadSecret(QStringLiteral("原来的店主密码："));
    if (!old) return Fail(Usage, QStringLiteral("标准输入里没有原来的店主密码"));
    const std::optional<Secret> next = ReadNewSecret(QStringLiteral("新的店主密码"));
    if (!next) return Usage;
    QString fingerprint;
    if (!ChangeOwnerPassword(admin.desk, *old, *next, &why, &fingerprint)) return Fail(Failed, why);
    Say(stdout, QStringLiteral("店主密码已修改。新的封账公钥指纹：%1（请抄在纸上，替换原来的指纹）")
                    .arg(fingerprint));
    return Done;
}

int OperatorCommand(Admin& admin, const QStringList& arguments) {
    QString why;
    if (arguments == QStringList{QStringLiteral("list")}) {
        const auto accounts = ReadAccounts(admin.desk);
        if (!accounts) return Fail(Failed, QStringLiteral("操作员无法读取"));
        for (const Account& a : *accounts)
            Say(stdout, QStringLiteral("%1\t%2\t%3").arg(a.name, a.role,
                                                        a.enabled ? QStringLiteral("enabled")
                                                                  : QStringLiteral("disabled")));
        return Done;
    }
    if (arguments.size() >= 2 && arguments[0] == QLatin1String("add")) {
        QString role = Role::Cashier;
        if (arguments.size() == 4 && arguments[2] == QLatin1String("--role"))
            role = arguments[3];
        else if (arguments.size() != 2)
            return Fail(Usage, QStringLiteral("要写 operator add 名字 [--role cashier|owner]"));
        if (!OwnerFromInput(admin)) return Failed;
        const std::optional<Secret> pin =
            ReadNewSecret(role == Role::Owner ? QStringLiteral("密码") : QStringLiteral("PIN"));
        if (!pin) return Usage;
        if (!AddAccount(admin.desk, arguments[1], role, *pin, &why)) return Fail(Failed, why);
        Say(stdout, QStringLiteral("已添加%1“%2”").arg(RoleName(role), arguments[1]));
        return Done;
    }
    if (arguments.size() == 2 && arguments[0] == QLatin1String("disable")) {
        if (!OwnerFromInput(admin)) return Failed;
        if (!SetAccountEnabled(admin.desk, arguments[1], false, &why)) return Fail(Failed, why);
        Say(stdout, QStringLiteral("已停用“%1”").arg(arguments[1]));
        return Done;
    }
    if (arguments.size() == 2 && arguments[0] == QLatin1String("passwd"))
        return PasswdCommand(admin, arguments[1]);
    return Fail(Usage, QStringLiteral("要写 operator add|disable|passwd 名字 或 operator list"));
}

int SealJournalCommand(Admin& admin, const QStringList& arguments) {
    if (!arguments.isEmpty()) return Fail(Usage, QStringLiteral("journal seal 不带参数"));
    const std::optional<Secret> password = ReadSecret(QStringLiteral("店主密码："));
    if (!password) return Fail(Usage, QStringLiteral("标准输入里没有店主密码"));
    QString why;
    QString fingerprint;
    JournalMark sealed;
    if (!SealJournal(admin.desk, *password, &why, &sealed, &fingerprint)) return Fail(Failed, why);
    Say(stdout, QStringLiteral("已封账到第%1条记录（封账记录是第%2条），公钥指纹 %3")
                    .arg(sealed.id)
                    .arg(sealed.id + 1)
                    .arg(fingerprint));
    return Done;
}

// Later commands (prices, packages) are one more row each.
const std::vector<Command>& Commands() {
    static const std::vector<Command> commands{
        {{QStringLiteral("report")},
         QStringLiteral(
             "report --from 年-月-日 --to 年-月-日 [--desk 前台] (--csv 文件 | --pdf 文件)"),
         QStringLiteral("营业报表，和“营业报表”窗口导出的一样：CSV（UTF-8，Excel、WPS 能打开）\n"
                        "或 A4 的 PDF。不写 --desk 时是全部前台。操作员登录打开时，先从\n"
                        "标准输入读店主密码。"),
         ReportCommand},
        {{QStringLiteral("journal"), QStringLiteral("verify")},
         QStringLiteral("journal verify"),
         QStringLiteral("检查营业记录有没有被改动：完好时退出码 0；被改动时退出码 3，\n"
                        "并说出第一条有问题的记录。"),
         VerifyJournalCommand},
        {{QStringLiteral("journal"), QStringLiteral("seal")},
         QStringLiteral("journal seal"),
         QStringLiteral("店主封账：从标准输入读店主密码，用它签住营业记录现在的最后一条；\n"
                        "说出封账的记录和公钥指纹（应与纸上记的相同）。"),
         SealJournalCommand},
        {{QStringLiteral("signin")},
         QStringLiteral("signin enable --owner 名字 | signin disable"),
         QStringLiteral("打开操作员登录（从标准输入读两次店主密码，建立店主账号）或关闭\n"
                        "（读一次店主密码）。"),
         SignInCommand},
        {{QStringLiteral("operator")},
         QStringLiteral("operator add 名字 [--role cashier|owner] | operator disable 名字 | "
                        "operator passwd 名字 | operator list"),
         QStringLiteral("管理操作员：add 先读店主密码，再读两次新的PIN；disable 读店主密码；\n"
                        "passwd 收银员：读店主密码，再读两次新的PIN；passwd 店主：读原来的\n"
                        "店主密码，再读两次新的，说出新的封账公钥指纹。"),
         OperatorCommand},
        {{QStringLiteral("backup")},
         QStringLiteral("backup 文件"),
         QStringLiteral("把数据库一致地复制到文件（和“设置”里的“立即备份”一样）；数据库在\n"
                        "服务器上时说明怎样用 pg_dump 备份。"),
         BackupCommand},
        {{QStringLiteral("prices"), QStringLiteral("export")},
         QStringLiteral("prices export [文件]"),
         QStringLiteral("把在用的价格方案写成 JSON（不写文件时写到标准输出），\n"
                        "可以拿到别的分店导入。"),
         PricesExportCommand},
        {{QStringLiteral("prices"), QStringLiteral("import")},
         QStringLiteral("prices import 文件 [--from \"年-月-日 时:分\"]"),
         QStringLiteral("导入价格方案，和“设置”里保存一样检查（每个区域每种日子的每一分钟\n"
                        "恰好一个价格）；有错时什么也不改，说出区域、日子和时间。不写 --from\n"
                        "时马上生效；之前已开始的整点时段仍按原价。操作员登录打开时，先从标准输入\n"
                        "读店主密码。"),
         PricesImportCommand},
        {{QStringLiteral("prices"), QStringLiteral("off")},
         QStringLiteral("prices off [--from \"年-月-日 时:分\"]"),
         QStringLiteral("停用价格方案，回到全天一个上网单价（记入营业记录）。操作员登录打开时，\n"
                        "先从标准输入读店主密码。"),
         PricesOffCommand},
        {{QStringLiteral("packages"), QStringLiteral("export")},
         QStringLiteral("packages export [文件]"),
         QStringLiteral("把包时目录写成 JSON（不写文件时写到标准输出），可以拿到别的分店导入。"),
         PackagesExportCommand},
        {{QStringLiteral("packages"), QStringLiteral("import")},
         QStringLiteral("packages import 文件"),
         QStringLiteral("导入包时目录，替换现有的，和“设置”里保存一样检查（区域要在价格方案里，\n"
                        "价格大于零……）并记入营业记录；有错时什么也不改，说出哪个包时、哪一项。\n"
                        "已售出的包时不受影响。操作员登录打开时，先从标准输入读店主密码。"),
         PackagesImportCommand},
        {{QStringLiteral("bill")},
         QStringLiteral(
             "bill [--zone 区域] --start \"年-月-日 时:分\" --end \"年-月-日 时:分\" "
             "[--package 包时] [--json]"),
         QStringLiteral("试算：这段时间上网要付多少，按整点时段列出，和计费用同一套算法。\n"
                        "没有价格方案时按上网单价算。--json 时输出一个对象（total、slots）。\n"
                        "--package：开始时买了这个包时，结束时下机，和下机时显示的一样：预付、\n"
                        "还应付、退还（--json 时 prepaid、due、refund，total 是三者合计）；\n"
                        "这时不能卖这个包时就说出原因，退出码 1。"),
         BillCommand},
    };
    return commands;
}

QString Help() {
    QString text = QStringLiteral(
        "用法：cafe-admin [--database 数据库] 命令 [参数]\n"
        "青岚网吧综合管理系统的店主命令行：不开窗口，出报表、查账、备份、管价格。\n\n命令：\n");
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
        "密码和PIN只从标准输入读（每行一个），不写在命令行上，也不显示出来。\n"
        "退出码：0 成功；1 数据库或文件出错（导入的价格方案不合格也是 1）；2 命令或参数不对；\n"
        "3 营业记录被改动；4 店主封账对不上。\n");
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

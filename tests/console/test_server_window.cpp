#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "console/Startup.h"
#include "console/TForm1.h"
#include "desk/Messages.h"
#include "support/Fixtures.h"
#include "support/PrivateServer.h"
#include "widgets/Themed.h"

// The window on a server database: opened from the command line, the password never shown,
// a lost server said once in the status strip while the grid stays and commands wait.
namespace {

const QString kPassword = QStringLiteral("s3cret-pw");

// A window on a database of the private server, started with --database as a desk would be.
struct ServerWindow {
    ServerWindow(const QString& uri, const QString& folder, quint16 clientPort)
        : settings(QSettingsStore::forFile(folder + QStringLiteral("/window.ini"))),
          module(std::make_unique<TDataModule1>(nullptr, TDataModule1::DefaultFile::OnlyIfPresent)),
          desk(std::make_unique<Desk>(*module, DeskSeams{.prompts = &prompts,
                                                         .clock = &clock,
                                                         .settings = settings.get(),
                                                         .chooser = &chooser,
                                                         .resolver = &resolver,
                                                         .remotePort = clientPort,
                                                         .localPort = FreeUdpPort(),
                                                         .databaseForThisStart = uri})),
          form(std::make_unique<TForm1>(*desk)) {}
    RecordingPrompts prompts;
    FakeClock clock;
    FakeChooser chooser;
    FakeResolver resolver;
    std::unique_ptr<QSettingsStore> settings;
    std::unique_ptr<TDataModule1> module;
    std::unique_ptr<Desk> desk;
    std::unique_ptr<TForm1> form;

    QString cell(int row, int column) const {
        return form->DBGrid1->model()->index(row, column).data().toString();
    }
};

}  // namespace

class ServerWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PrivateServer> server;
    std::unique_ptr<QTemporaryDir> folder;
    QString previousDir;
    QString database;

  private slots:
    void initTestCase() {
        // Each test skips instead: a skip here leaves Qt Test skipping every class run after
        // this one in the same program.
        if (qEnvironmentVariable("CAFE_NO_POSTGRES") == QStringLiteral("1")) return;
        server = std::make_unique<PrivateServer>();
        QVERIFY2(server->ok(), qPrintable(server->why()));
    }
    void init() {
        if (!server) QSKIP("CAFE_NO_POSTGRES=1: no PostgreSQL server is started");
        if (!server->ok()) QSKIP("no private server");
        server->start();  // after a test that stopped it
        folder = std::make_unique<QTemporaryDir>();
        previousDir = QDir::currentPath();
        QDir::setCurrent(folder->path());  // no count.db of anyone else's
        database = server->createDatabase();
        QVERIFY(!database.isEmpty());
    }
    void cleanup() { QDir::setCurrent(previousDir); }
    void cleanupTestCase() { server.reset(); }

    void aServerUriOnTheCommandLineOpensTheServer() {
        const QString uri = server->uri(database, kPassword);
        const CommandLine line = ParseCommandLine({"cafe-console", "--database", uri});
        QCOMPARE(line.kind, CommandLine::Run);
        QCOMPARE(line.options.database, uri);  // not taken for a file name
        Receiver client;
        ServerWindow window(line.options.database, folder->path(), client.port());
        QVERIFY(!window.form->NoDatabase());
        QCOMPARE(window.prompts.boxes, QStringList());
        QVERIFY(window.module->Connected());
        QCOMPARE(window.module->engine().DriverName(), QStringLiteral("QPSQL"));
        QVERIFY(!QFileInfo::exists(folder->filePath(QStringLiteral("count.db"))));
        const QString strip = window.form->DatabaseLabel->text();
        QVERIFY2(strip.contains(QStringLiteral("服务器")), qPrintable(strip));
        QVERIFY(!strip.contains(kPassword));

        // 关于 names the database without its password.
        window.form->action("N32")->trigger();
        const QStringList about = window.prompts.take();
        QCOMPARE(about.size(), 1);
        QVERIFY2(about[0].contains(QStringLiteral("cafe:***@127.0.0.1")), qPrintable(about[0]));
        QVERIFY(!about[0].contains(kPassword));
    }

    void aLostServerIsSaidOnceWhileTheGridStaysAndCommandsWait() {
        Receiver client;
        ServerWindow window(server->uri(database), folder->path(), client.port());
        {
            OtherProgram tool(server->uri(database));
            tool.exec(QStringLiteral(
                "insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, Tsum, gotime, "
                "Cstate) values('a', '9:0:0', '9:0:0', '0', '0元', '0', '0', '', '正常')"));
            tool.exec(QStringLiteral("insert into Tcount(username) values('127.0.0.1')"));
        }
        window.desk->RefreshSessionGrid();
        window.clock.time = QTime(10, 10, 0);
        const QString shown = window.form->DatabaseLabel->text();
        QSignalSpy said(window.desk.get(), &Desk::connectionChanged);
        // The start's chain check, beside the window, is done first: what is asked here is the
        // ticks' silence, not a check the server's end cut short (a busy machine is slow to it).
        QTRY_VERIFY_WITH_TIMEOUT(!window.desk->BackgroundBusy(), 30000);
        QCOMPARE(window.prompts.take(), QStringList());

        QVERIFY(server->stopImmediately());
        QTRY_VERIFY_WITH_TIMEOUT(window.desk->ConnectionLost(), 5000);
        const QString lost = window.form->DatabaseLabel->text();
        QVERIFY2(lost.contains(QStringLiteral("断开")) && lost.contains(QStringLiteral("不是最新")),
                 qPrintable(lost));
        for (int tick = 0; tick < 3; ++tick) {
            window.form->Timer1Timer();
            window.form->Timer2Timer();
            QTest::qWait(200);
        }
        QCOMPARE(window.prompts.boxes, QStringList());  // no box at a tick
        QCOMPARE(said.count(), 1);                       // said once
        QCOMPARE(window.form->DatabaseLabel->text(), lost);
        QCOMPARE(window.form->DBGrid1->model()->rowCount(), 2);  // never blanked
        QCOMPARE(window.cell(0, 0), QStringLiteral("127.0.0.1"));

        // A command meanwhile, once the window's own connection has noticed too (within a
        // second when idle; the worker may notice first): one clear box, nothing sent; the
        // guide still opens.
        QTRY_VERIFY_WITH_TIMEOUT(window.module->Lost(), 5000);
        window.desk->SetCurrentRow(0);
        window.form->action("N27")->trigger();
        QCOMPARE(window.prompts.take(), QStringList{QStringLiteral("message|") + DeskText::ServerLost});
        QCOMPARE(client.take(0, 200).size(), 0);
        window.form->action("N34")->trigger();
        QCOMPARE(window.prompts.take(), QStringList());

        QVERIFY(server->start());
        QTRY_VERIFY_WITH_TIMEOUT(!window.desk->ConnectionLost(), 30000);
        QCOMPARE(window.form->DatabaseLabel->text(), shown);
        // The ticks missed meanwhile run by themselves once it is back.
        QTRY_COMPARE_WITH_TIMEOUT(window.cell(1, 3), QStringLiteral("1时10分"), 10000);
        window.desk->SetCurrentRow(0);
        window.form->action("N27")->trigger();
        QCOMPARE(window.prompts.take(), (QStringList{"message|上机", "message|127.0.0.1"}));
        QCOMPARE(client.takeWords(1), QStringList{QStringLiteral("sj")});
    }
};

int runServerWindowTest(int argc, char** argv) {
    ServerWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_server_window.moc"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "Windows.h"
#include "console/QtSeams.h"
#include "console/Startup.h"
#include "console/TAddother.h"
#include "console/TForm1.h"
#include "console/THelp.h"
#include "console/TReport.h"
#include "console/TSettings.h"
#include "console/TShift.h"
#include "console/Tadduser.h"
#include "console/Tinformation.h"
#include "console/Tsearch.h"
#include "console/Tsend.h"
#include "console/TtrunMoneys.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// Like a desktop program: the command line, the keyboard, Qt's texts in Chinese.
class DesktopProgramTest : public QObject {
    Q_OBJECT

  private slots:
    void databaseOptionIsForThisStartOnly() {
        Env env;
        const QString other = env.path(QStringLiteral("other.db"));
        QVERIFY(TDataModule1::CreateDatabaseFile(other));
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("o"));
            db.setDatabaseName(other);
            QVERIFY(db.open());
            QSqlQuery(db).exec(QStringLiteral("insert into Tcount(username) values('from-other')"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("o"));
        Desk desk(*env.module, env.seams(other));
        TForm1 form(desk);
        QVERIFY(!form.NoDatabase());
        QCOMPARE(env.module->ConnectionString(), other);
        QCOMPARE(form.DBGrid1->model()->index(0, 0).data().toString(),
                 QStringLiteral("from-other"));
        QCOMPARE(env.settings->readDatapath(), env.dbPath());  // the setting stays
    }

    void aDatabaseOptionThatCannotBeUsedEndsTheProgram_data() {
        QTest::addColumn<bool>("damaged");  // false: no such file
        QTest::addColumn<QString>("says");
        QTest::newRow("missing file") << false << QStringLiteral("no.db");
        // The header overwritten: SQLite opens it and fails at the first read.
        QTest::newRow("damaged header") << true << QStringLiteral("文件已损坏");
    }
    void aDatabaseOptionThatCannotBeUsedEndsTheProgram() {
        QFETCH(bool, damaged);
        QFETCH(QString, says);
        Env env;
        const QString file = env.path(QStringLiteral("no.db"));
        if (damaged) {
            QVERIFY(TDataModule1::CreateDatabaseFile(file));
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write(QByteArray(16, 'x'));
        }
        Desk desk(*env.module, env.seams(file));
        TForm1 form(desk);
        QVERIFY(form.NoDatabase());
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("unhandled|")));
        QVERIFY2(boxes[0].contains(says), qPrintable(boxes[0]));
        QVERIFY(!boxes[0].contains(QStringLiteral("Tcount")));
    }

    void commandLine() {
        CommandLine line = ParseCommandLine({"cafe-console"});
        QCOMPARE(line.kind, CommandLine::Run);
        QCOMPARE(line.options.database, QString());
        QVERIFY(!line.options.dataFolder);
        line = ParseCommandLine({"cafe-console", "--database", "shop.db", "--in-data-folder"});
        QCOMPARE(line.kind, CommandLine::Run);
        QCOMPARE(line.options.database,
                 QDir::current().absoluteFilePath(QStringLiteral("shop.db")));
        QVERIFY(line.options.dataFolder);
        line =
            ParseCommandLine({"cafe-console", "--database", "postgresql://cafe@192.168.0.2/cafe"});
        QCOMPARE(line.options.database, QStringLiteral("postgresql://cafe@192.168.0.2/cafe"));
        line = ParseCommandLine({"cafe-console", "--frobnicate"});
        QCOMPARE(line.kind, CommandLine::Bad);
        QVERIFY(line.text.contains(QStringLiteral("未知的选项：frobnicate")));
        QCOMPARE(ParseCommandLine({"cafe-console", "extra"}).kind, CommandLine::Bad);
        QCOMPARE(ParseCommandLine({"cafe-console", "--database"}).kind, CommandLine::Bad);
        QVERIFY(GbkProblem().isEmpty());
        QVERIFY(!AppIcon().isNull());
        QVERIFY(AppIcon().availableSizes().contains(QSize(256, 256)));
    }

    // The installed program on a machine without any display: no platform plug-in to load.
    void helpAndVersionNeedNoDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutHas");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << QStringLiteral("用法：cafe-console") << QString();
        QTest::newRow("-h") << QStringList{"-h"} << 0 << QStringLiteral("--in-data-folder")
                            << QString();
        QTest::newRow("--version") << QStringList{"--version"} << 0
                                   << QStringLiteral("cafe-console " CAFE_VERSION) << QString();
        QTest::newRow("unknown option")
            << QStringList{"--frobnicate"} << 2 << QString() << QStringLiteral("未知的选项");
    }
    void helpAndVersionNeedNoDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutHas);
        QFETCH(QString, stderrHas);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(CAFE_CONSOLE), arguments);
        QVERIFY(program.waitForFinished(10000));
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == exitCode, qPrintable(out + err));
        QVERIFY2(out.contains(stdoutHas), qPrintable(out));
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
    }

    void escapeClosesEveryDialog_data() {
        QTest::addColumn<QString>("item");
        for (const char* item : {"N2", "N5", "N10", "N12", "N13", "N70", "N71", "N7", "N34", "N28"})
            QTest::newRow(item) << QString::fromLatin1(item);
    }
    void escapeClosesEveryDialog() {
        QFETCH(QString, item);
        Env env;
        env.addMachine(QStringLiteral("pc"), QStringLiteral("正常"));
        TForm1 form(*env.desk);
        form.show();
        form.action(item.toLatin1().constData())->trigger();
        QWidget* dialog = ShownDialog(form);
        QVERIFY2(dialog, qPrintable(item));
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        QTest::keyClick(focus, Qt::Key_Escape);
        QVERIFY2(!dialog->isVisible(), qPrintable(item));
        env.prompts.take();
    }

    // A console runs all day: each command makes a window, and the closed ones must go.
    void closedDialogsAreFreed_data() {
        QTest::addColumn<QString>("item");
        for (const char* item :
             {"N2", "N5", "N10", "N12", "N13", "N70", "N71", "N7", "N34", "N15", "N28"})
            QTest::newRow(item) << QString::fromLatin1(item);
    }
    void closedDialogsAreFreed() {
        QFETCH(QString, item);
        Env env;
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:0:0"));
        TForm1 form(*env.desk);
        form.show();
        const auto cycle = [&] {
            form.action(item.toLatin1().constData())->trigger();
            QWidget* shown = ShownDialog(form);
            if (!shown) return false;
            shown->close();
            return true;
        };
        QVERIFY(cycle());
        QVERIFY(cycle());
        const qsizetype windows = QApplication::topLevelWidgets().size();
        for (int i = 0; i < 40; ++i) QVERIFY(cycle());
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        env.prompts.take();
    }

    void aDialogStillOpenStaysWhenTheNextIsMade() {
        Env env;
        TForm1 form(*env.desk);
        form.show();
        form.action("N10")->trigger();
        QPointer<Tsend> first = Tsend::send;
        first->FlatMemo1->setPlainText(QStringLiteral("稍等"));
        form.action("N10")->trigger();
        QVERIFY(first && first->isVisible() && first != Tsend::send);
        QCOMPARE(first->FlatMemo1->toPlainText(), QStringLiteral("稍等"));
        first->close();
        Tsend::send->close();
        form.action("N10")->trigger();
        QVERIFY(!first);  // closed, then freed by the next opening
        QCOMPARE(form.findChildren<Tsend*>(Qt::FindDirectChildrenOnly).size(), 1);
    }

    // The messenger is closed and another one opened while its send waits for a name: the
    // first is still inside its handler and must outlive it.
    void aDialogBusyInItsHandlerIsNotFreed() {
        Env env;
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:0:0"));
        TForm1 form(*env.desk);
        form.show();
        form.action("N10")->trigger();
        QPointer<Tsend> first = Tsend::send;
        first->FlatComboBox1->setCurrentIndex(0);
        first->FlatMemo1->setPlainText(QStringLiteral("hi"));
        env.resolver.whileWaiting = [&](const QString&) {
            first->close();
            form.action("N10")->trigger();
        };
        env.resolver.table.insert(QStringLiteral("pc"), 0x7F000001);
        QTest::mouseClick(first->XP_Button1, Qt::LeftButton);
        QVERIFY(first);
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral(" hi")});
        env.resolver.whileWaiting = nullptr;
        form.action("N10")->trigger();  // now it goes
        QVERIFY(!first);
        env.prompts.take();
    }

    void returnPressesTheNaturalButton() {
        Env env;
        env.sql(
            QStringLiteral("insert into Tcount(username, Tother, Tsum, Cstate) values('127.0.0.1', "
                           "'0', '0', '正常')"));
        env.addMachine(QStringLiteral("localhost"));
        env.resolver.table.insert(QStringLiteral("localhost"), 0x7F000001);
        TForm1 form(*env.desk);

        Tadduser list(*env.desk, &form);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.Edit1->setFocus();
        QTest::keyClicks(list.Edit1, QStringLiteral("pc9"));
        QTest::keyClick(list.Edit1, Qt::Key_Return);
        QCOMPARE(env.field(QStringLiteral("pc9"), QStringLiteral("Cstate")), QStringLiteral("无"));
        QCOMPARE(list.Edit1->accessibleName(), QStringLiteral("请输入机器名"));

        TAddother charge(*env.desk, &form);
        charge.show();
        charge.FlatComboBox1->setEditText(QStringLiteral("127.0.0.1"));
        charge.FlatEdit2->setFocus();
        QTest::keyClicks(charge.FlatEdit2, QStringLiteral("2.5"));
        QTest::keyClick(charge.FlatEdit2, Qt::Key_Return);
        QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Tother")),
                 QStringLiteral("2.5"));
        QCOMPARE(env.prompts.take(), QStringList{"message|添加成功!"});

        TtrunMoneys transfer(*env.desk, &form);
        transfer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&transfer));
        transfer.FlatComboBox2->setCurrentIndex(transfer.FlatComboBox2->findText("localhost"));
        transfer.FlatComboBox1->setFocus();
        QTest::keyClick(transfer.FlatComboBox1, Qt::Key_Return);
        QCOMPARE(env.field(QStringLiteral("localhost"), QStringLiteral("Tother")),
                 QStringLiteral("2.5"));
        env.prompts.take();
        env.client.take(2);

        // In the messenger's text Return is a new line: nothing is sent.
        Tsend messenger(*env.desk, &form);
        messenger.show();
        QVERIFY(QTest::qWaitForWindowExposed(&messenger));
        messenger.FlatComboBox1->setCurrentIndex(0);
        messenger.FlatMemo1->setFocus();
        QTest::keyClicks(messenger.FlatMemo1, QStringLiteral("hi"));
        QTest::keyClick(messenger.FlatMemo1, Qt::Key_Return);
        QCOMPARE(messenger.FlatMemo1->toPlainText(), QStringLiteral("hi\n"));
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QVERIFY(messenger.isVisible());
    }

    void qtsOwnTextsAreChinese() {
        // Last: the translator and the locale stay for the rest of the program.
        QVERIFY2(SpeakChinese(*QCoreApplication::instance()),
                 "qtbase_zh_CN.qm is needed (qt6-translations-l10n)");
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    }

    void theFileDialogSpeaksChinese() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("backup")));
        const std::unique_ptr<QFileDialog> dialog(
            MakeFileDialog(nullptr, QStringLiteral("选择数据库"), QStringLiteral("所有文件 (*)")));
        dialog->setDirectory(dir.path());
        dialog->show();
        auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        QVERIFY(list);
        QTRY_COMPARE(list->model()->rowCount(list->rootIndex()), 1);
        const QModelIndex folder = list->model()->index(0, 0, list->rootIndex());
        QCOMPARE(folder.siblingAtColumn(2).data().toString(), QStringLiteral("文件夹"));
        const QString date = folder.siblingAtColumn(3).data().toString();
        QCOMPARE(date,
                 QLocale(QLocale::Chinese, QLocale::China)
                     .toString(QFileInfo(dir.filePath(QStringLiteral("backup"))).lastModified(),
                               QLocale::ShortFormat));
        QVERIFY2(date.contains(u'/'), qPrintable(date));  // 2026/12/9 10:00, not "9 Dec 2026"
        const auto* cancel =
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel);
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
    }

    // The tests run under LC_ALL=C.UTF-8: an English computer.
    void theDatePickerSpeaksChinese() {
        Env env;
        TForm1 form(*env.desk);
        TReport report(*env.desk, &form);
        report.show();
        QVERIFY(QTest::qWaitForWindowExposed(&report));
        QCalendarWidget* calendar = report.FromEdit->calendarWidget();
        QVERIFY(calendar);
        calendar->setCurrentPage(2026, 12);
        const auto* month =
            calendar->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton"));
        QVERIFY(month);
        QCOMPARE(month->text(), QStringLiteral("十二月"));
        QCOMPARE(calendar->locale().dayName(1, QLocale::ShortFormat), QStringLiteral("周一"));
        env.prompts.take();
    }

    // Whatever the locale, the texts in the database and in the boxes keep their one format.
    void amountsAndTimesDoNotFollowTheLocale_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("decimal") << DecimalText(1234.5) << QStringLiteral("1234.5");
        QTest::newRow("parsed") << DecimalText(ParseDecimal(QStringLiteral("2.7")))
                                << QStringLiteral("2.7");
        QTest::newRow("cents") << CentsText(123456) << QStringLiteral("1234.56");
        QTest::newRow("clock") << ClockText(QTime(9, 5, 7)) << QStringLiteral("9:5:7");
        QTest::newRow("long time") << LongTimeText(QTime(21, 5, 7)) << QStringLiteral("21:05:07");
    }
    void amountsAndTimesDoNotFollowTheLocale() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(QLocale().language(), QLocale::Chinese);
        QCOMPARE(text, expected);
        QVERIFY_THROWS_EXCEPTION(ConversionError, ParseDecimal(QStringLiteral("1,5")));
    }
};

int runDesktopProgramTest(int argc, char** argv) {
    DesktopProgramTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop_program.moc"

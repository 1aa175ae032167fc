#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

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
        QString error;
        auto options = ParseCommandLine(*QCoreApplication::instance(), {"cafe-console"}, &error);
        QVERIFY(options);
        QCOMPARE(options->database, QString());
        QVERIFY(!options->dataFolder);
        options =
            ParseCommandLine(*QCoreApplication::instance(),
                             {"cafe-console", "--database", "shop.db", "--in-data-folder"}, &error);
        QVERIFY(options);
        QCOMPARE(options->database, QDir::current().absoluteFilePath(QStringLiteral("shop.db")));
        QVERIFY(options->dataFolder);
        QVERIFY(!ParseCommandLine(*QCoreApplication::instance(), {"cafe-console", "--frobnicate"},
                                  &error));
        QVERIFY(error.contains(QStringLiteral("frobnicate")));
        QVERIFY(
            !ParseCommandLine(*QCoreApplication::instance(), {"cafe-console", "extra"}, &error));
        QVERIFY(GbkProblem().isEmpty());
        QVERIFY(!AppIcon().isNull());
        QVERIFY(AppIcon().availableSizes().contains(QSize(256, 256)));
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
        QWidget* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != &form && w->isVisible() && w->parentWidget() == &form) dialog = w;
        QVERIFY2(dialog, qPrintable(item));
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        QTest::keyClick(focus, Qt::Key_Escape);
        QVERIFY2(!dialog->isVisible(), qPrintable(item));
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
        // Last: the translator stays installed for the rest of the program.
        QVERIFY2(InstallChineseTranslations(*QCoreApplication::instance()),
                 "qtbase_zh_CN.qm is needed (qt6-translations-l10n)");
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    }
};

int runDesktopProgramTest(int argc, char** argv) {
    DesktopProgramTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop_program.moc"

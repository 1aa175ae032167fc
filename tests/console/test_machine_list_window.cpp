#include <QApplication>
#include <QLineEdit>
#include <QComboBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "console/TForm1.h"
#include "console/Tadduser.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// The machine list dialog: adding, deleting and listing machines as the operator does it.
namespace {

void clickEntry(MachineListBox* list, int row) {
    list->scrollToRow(row);
    const QRect r = list->rowRect(row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

}  // namespace

class MachineListWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void machineListAddsSortedAndRefusesDuplicates() {
        Env env;
        env.addMachine(QStringLiteral("pc2"));
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        dialog.show();
        auto entries = [&] {
            QStringList out;
            for (int i = 0; i < dialog.FlatListBox1->count(); ++i)
                out << dialog.FlatListBox1->text(i);
            return out;
        };
        QCOMPARE(entries(), (QStringList{" 已有的计算机名:", "pc2"}));
        for (const char* name : {"PC10", "Pc1", "a'b%"}) {
            dialog.Edit1->setText(QString::fromUtf8(name));
            QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
        }
        QCOMPARE(env.prompts.take(), QStringList());  // a successful add says nothing
        QCOMPARE(entries(), (QStringList{" 已有的计算机名:", "a'b%", "Pc1", "PC10", "pc2"}));
        QCOMPARE(dialog.Edit1->text(), QStringLiteral("a'b%"));

        dialog.Edit1->setText(QStringLiteral("pc1"));  // same machine, other case
        dialog.Edit1->clearFocus();
        QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库中已有此计算机名，请重新输入!")});
        QVERIFY(dialog.Edit1->hasFocus() || QApplication::focusWidget() == dialog.Edit1 ||
                dialog.focusWidget() == dialog.Edit1);
        QCOMPARE(dialog.Edit1->text(), QStringLiteral("pc1"));
        QCOMPARE(env.count(), 4);

        dialog.Edit1->setText(QString());
        QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|请先输入计算机名!")});

        dialog.Edit1->setText(QStringLiteral(" pc3 "));  // blanks are part of the name
        QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
        QCOMPARE(env.field(QStringLiteral(" pc3 "), QStringLiteral("Cstate")),
                 QStringLiteral("无"));
        QCOMPARE(dialog.FlatListBox1->text(0), QStringLiteral(" 已有的计算机名:"));

        // The grid shows the new machines only once the dialog closes.
        QCOMPARE(form.DBGrid1->model()->rowCount(), 1);
        QTest::mouseClick(dialog.FlatButton3, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(form.DBGrid1->model()->rowCount(), 5);
        QCOMPARE(env.desk->CurrentRowMachine(), QStringLiteral("pc2"));  // still the chosen one
    }

    void machineListDeletes() {
        Env env;
        for (const char* name : {"pc1", "pc2"}) env.addMachine(QString::fromLatin1(name));
        env.sql(QStringLiteral("update Tcount set Cstate='正常', Tsum='3' where username='pc2'"));
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);  // nothing selected
        clickEntry(dialog.FlatListBox1, 1);
        clickEntry(dialog.FlatListBox1, 0);  // the header cannot be chosen like a machine
        QVERIFY(dialog.FlatListBox1->selectedTexts().isEmpty());
        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList());

        clickEntry(dialog.FlatListBox1, 1);
        env.prompts.answers = {false};
        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("confirm|你真的要删除吗?")});
        QCOMPARE(env.count(), 2);
        QCOMPARE(dialog.FlatListBox1->count(), 3);

        // A machine in session is deleted like any other.
        clickEntry(dialog.FlatListBox1, 2);
        env.prompts.answers = {true};
        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("confirm|你真的要删除吗?")});
        QCOMPARE(env.count(), 1);
        QCOMPARE(env.count(QStringLiteral("username='pc2'")), 0);
        QCOMPARE(dialog.FlatListBox1->selectedTexts().size(), 0);  // reloading clears it

        clickEntry(dialog.FlatListBox1, 1);
        env.prompts.answers = {true};
        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);
        QCOMPARE(dialog.FlatListBox1->count(), 1);  // only the header is left
        QCOMPARE(env.count(), 0);
    }

    void everyEntryOfALongListCanBeDeleted() {
        Env env;
        for (int i = 0; i < 300; ++i)
            env.addMachine(QStringLiteral("pc%1").arg(i, 3, 10, QLatin1Char('0')));
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.FlatListBox1->count(), 301);
        clickEntry(dialog.FlatListBox1, 300);
        QVERIFY(dialog.FlatListBox1->isSelected(300));
        QTest::keyClick(dialog.FlatListBox1, Qt::Key_Up);  // keys scroll but do not select
        QVERIFY(dialog.FlatListBox1->isSelected(300));
        QCOMPARE(dialog.FlatListBox1->selectedTexts().size(), 1);
        env.prompts.answers = {true};
        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);
        QCOMPARE(env.count(QStringLiteral("username='pc299'")), 0);
        QCOMPARE(env.count(), 299);
    }

    void theListShowsTheTableAsItIsNow() {
        Env cafe;
        Env other;  // a second database in the same program: each list shows its own
        for (const char* name : {"pc1", "pc2", "pc3"}) cafe.addMachine(QString::fromLatin1(name));
        other.addMachine(QStringLiteral("吧台"));
        const auto shown = [](Env& env) {
            Tadduser dialog(*env.desk, nullptr);
            QStringList out;
            for (int i = 1; i < dialog.FlatListBox1->count(); ++i)
                out << dialog.FlatListBox1->text(i);
            return out;
        };
        QCOMPARE(shown(cafe), (QStringList{"pc1", "pc2", "pc3"}));
        QCOMPARE(shown(other), QStringList{"吧台"});
        QCOMPARE(shown(cafe), (QStringList{"pc1", "pc2", "pc3"}));
        // Changed behind the dialog's back (another desk, the admin tool): the same number of
        // names, one of them new.
        cafe.sql(QStringLiteral("update Tcount set username='PC0' where username='pc3'"));
        QCOMPARE(shown(cafe), (QStringList{"PC0", "pc1", "pc2"}));
        cafe.sql(QStringLiteral("delete from Tcount where username='pc1'"));
        QCOMPARE(shown(cafe), (QStringList{"PC0", "pc2"}));
        QCOMPARE(shown(other), QStringList{"吧台"});
    }

    void choosingWithTheMouse() {
        Env env;
        for (const char* name : {"pc1", "pc2", "pc3"}) env.addMachine(QString::fromLatin1(name));
        Tadduser dialog(*env.desk, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        MachineListBox* list = dialog.FlatListBox1;
        QSignalSpy changed(list, &MachineListBox::entrySelectionChanged);

        clickEntry(list, 2);
        QCOMPARE(list->selectedTexts(), QStringList{"pc2"});
        QCOMPARE(changed.size(), 1);
        clickEntry(list, 2);  // a second click keeps it
        QCOMPARE(list->selectedTexts(), QStringList{"pc2"});
        QCOMPARE(changed.size(), 1);

        // The chosen row is drawn as chosen, the others are not.
        const QImage drawn = list->viewport()->grab().toImage();
        const auto colourAt = [&](int row) {
            const QRect r = list->rowRect(row);
            return drawn.pixelColor(r.right() - 2, r.center().y());
        };
        const QColor highlight = list->palette().color(QPalette::Active, QPalette::Highlight);
        const auto highlighted = [&](const QColor& c) {  // the style shades it a little
            return std::abs(c.red() - highlight.red()) + std::abs(c.green() - highlight.green()) +
                       std::abs(c.blue() - highlight.blue()) <
                   24;
        };
        QVERIFY(highlighted(colourAt(2)));
        QVERIFY(!highlighted(colourAt(1)));
        QVERIFY(!highlighted(colourAt(3)));

        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->rowRect(2).center());  // Ctrl and a click take it back
        QVERIFY(list->selectedTexts().isEmpty());
        clickEntry(list, 3);
        const QPoint below(list->rowRect(3).center().x(), list->rowRect(3).bottom() + 20);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);  // the empty space
        QVERIFY(list->selectedTexts().isEmpty());

        // Pressed on one name and dragged to the next: the choice follows the pointer.
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, list->rowRect(1).center());
        QMouseEvent move(QEvent::MouseMove, list->rowRect(2).center(),
                         list->viewport()->mapToGlobal(list->rowRect(2).center()),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &move);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, list->rowRect(2).center());
        QCOMPARE(list->selectedTexts(), QStringList{"pc2"});
        QCOMPARE(dialog.ZoneCombo->isEnabled(), true);  // the dialog heard of each choice
    }

    void machineListDatabaseFailures() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        env.sql(QStringLiteral("pragma query_only=1"));
        dialog.Edit1->setText(QStringLiteral("pc9"));
        QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库运行有误，请关闭本软件重新运行!")});
        clickEntry(dialog.FlatListBox1, 1);
        env.prompts.answers = {true};
        QTest::mouseClick(dialog.FlatButton2, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"confirm|你真的要删除吗?",
                              "message|数据库运行有误，请关闭本软件重新运行!"}));
        QCOMPARE(env.count(), 1);
        env.sql(QStringLiteral("pragma query_only=0"));
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        dialog.Edit1->setText(QStringLiteral("pc9"));
        QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
        // The duplicate check fails: nothing inserted, and the failed reload keeps the list.
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|数据库运行有误，请关闭本软件重新运行!",
                              "message|数据库运行有误，请关闭本软件重新运行!"}));
        QCOMPARE(dialog.FlatListBox1->count(), 2);
    }

    void lockedDatabaseGivesTheMessageAndWritesNothing() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        {
            // Another program holds the file locked for writing and reading.
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "locker");
            other.setDatabaseName(env.dbPath());
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec(QStringLiteral("begin exclusive")));
            dialog.Edit1->setText(QStringLiteral("pc2"));
            QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);
            QCOMPARE(
                env.prompts.take(),
                QStringList(2, QStringLiteral("message|数据库运行有误，请关闭本软件重新运行!")));
            QCOMPARE(dialog.FlatListBox1->count(), 2);  // the list keeps what it showed
            lock.exec(QStringLiteral("rollback"));
            lock.finish();
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QCOMPARE(env.count(), 1);
        QTest::mouseClick(dialog.FlatButton1, Qt::LeftButton);  // works again once released
        QCOMPARE(env.count(), 2);
    }

    void namesThatDifferOnlyInCaseAreOneMachine_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::newRow("Latin with umlaut") << QStringLiteral("Ä-pc") << QStringLiteral("ä-pc");
        QTest::newRow("sharp s") << QStringLiteral("Straße") << QStringLiteral("STRASSE");
        QTest::newRow("Greek final sigma")
            << QStringLiteral("ΣΊΣΥΦΟΣ") << QStringLiteral("σίσυφος");
    }
    void namesThatDifferOnlyInCaseAreOneMachine() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        Env env;
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        dialog.show();
        for (const QString& name : {stored, typed}) {
            dialog.Edit1->setText(name);
            dialog.FlatButton1Click();
        }
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库中已有此计算机名，请重新输入!")});
        QCOMPARE(env.count(), 1);
        QCOMPARE(dialog.FlatListBox1->count(), 2);
    }

    void everyRowOfTheTableIsListedAndCanBeDeleted() {
        Env env;
        // Made by an older version or another tool: both rows must show and be deletable.
        env.addMachine(QStringLiteral("Ä-pc"));
        env.addMachine(QStringLiteral("ä-pc"));
        TForm1 form(*env.desk);
        Tadduser dialog(*env.desk, &form);
        dialog.show();
        QCOMPARE(dialog.FlatListBox1->count(), 3);
        for (int left = 2; left > 0; --left) {
            clickEntry(dialog.FlatListBox1, 1);
            env.prompts.answers = {true};
            dialog.FlatButton2Click();
            QCOMPARE(env.count(), left - 1);
            QCOMPARE(dialog.FlatListBox1->count(), left);
        }
    }
};

int runMachineListWindowTest(int argc, char** argv) {
    MachineListWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_machine_list_window.moc"

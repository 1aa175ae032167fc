#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "Windows.h"
#include "console/TForm1.h"
#include "console/TSettings.h"
#include "console/TShift.h"
#include "console/Tadduser.h"
#include "console/Tinformation.h"
#include "console/Tsearch.h"
#include "console/Tsend.h"
#include "ledger/Shifts.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// The console without a mouse: every key goes where the keyboard really sends it, to the
// widget with the focus.
namespace {

int g_keys = 0;

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeWindow();
    QVERIFY2(target, "no window has the keyboard");
    ++g_keys;
    QTest::keyClick(target, key, modifiers);
}

void type(const QString& text) {
    QWidget* target = QApplication::focusWidget();
    QVERIFY2(target, "nothing has the focus");
    QTest::keyClicks(target, text);
}

}  // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

  private slots:
    // The road an operator takes all day: pick a machine, start it, later check it out.
    void startToCheckoutByKeyboard() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.addMachine(QStringLiteral("localhost"));
        env.resolver.table.insert(QStringLiteral("localhost"), 0x7F000001);
        TForm1 form(*env.desk);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.DBGrid1->setFocus();
        g_keys = 0;

        press(Qt::Key_Down);                    // the second machine
        press(Qt::Key_U, Qt::ControlModifier);  // 上机
        QCOMPARE(env.field(QStringLiteral("localhost"), QStringLiteral("Cstate")),
                 QStringLiteral("正常"));
        press(Qt::Key_R, Qt::ControlModifier);  // 下机: the bill
        QVERIFY(form.information->isVisible());
        QCOMPARE(form.information->la_computername->text(), QStringLiteral("localhost"));
        QTRY_VERIFY(form.information->isActiveWindow());
        press(Qt::Key_Return);  // 结账下机
        QVERIFY(!form.information->isVisible());
        QCOMPARE(env.field(QStringLiteral("localhost"), QStringLiteral("Cstate")),
                 QStringLiteral("无"));
        QCOMPARE(env.client.takeWords(2), (QStringList{"sj", "xiaji"}));
        QVERIFY2(g_keys <= 8, qPrintable(QString::number(g_keys)));
        // The boxes on the way are the described ones, each closed with one more key.
        QCOMPARE(env.prompts.take().last(), QStringLiteral("message|下机到这已经全部完成了."));
    }

    // Tab walks the bill's buttons, never its nine read-only fields; 明细 comes after the
    // described three.
    void theBillTabsBetweenItsButtons() {
        Env env;
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:0:0"));
        TForm1 form(*env.desk);
        form.show();
        form.action("N28")->trigger();
        Tinformation* bill = form.information;
        QTRY_VERIFY(bill->isActiveWindow());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(bill->XP_Button1));
        QList<QWidget*> visited;
        for (int i = 0; i < 4; ++i) {
            press(Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        const QList<QWidget*> buttons{bill->XP_Button2, bill->XP_Button3, bill->DetailButton,
                                      bill->XP_Button1};
        QCOMPARE(visited, buttons);
    }

    // Return where the focus is in a field presses the window's main button.
    void returnPressesTheDefaultButton_data() {
        QTest::addColumn<QString>("item");
        QTest::newRow("设置: 保存价格") << QStringLiteral("N7");
        QTest::newRow("自动搜索: 开始搜索") << QStringLiteral("N5");
        QTest::newRow("交班: 开班") << QStringLiteral("N71");
    }
    void returnPressesTheDefaultButton() {
        QFETCH(QString, item);
        Env env;
        TForm1 form(*env.desk);
        form.show();
        form.action(item.toLatin1().constData())->trigger();
        QWidget* dialog = ShownDialog(form);
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isActiveWindow());
        QLineEdit* field = dialog->findChild<QLineEdit*>();
        field->setFocus();
        if (item == QStringLiteral("N7")) {
            static_cast<TSettings*>(dialog)->HourlyEdit->setText(QStringLiteral("3"));
            press(Qt::Key_Return);
            QCOMPARE(env.prompts.take().last(),
                     QStringLiteral("message|价格已保存，下一次计费（30秒之内）起按新价格计算。"));
        } else if (item == QStringLiteral("N5")) {
            static_cast<Tsearch*>(dialog)->Edit1->setText(QStringLiteral("0"));  // nothing sent
            press(Qt::Key_Return);
            QCOMPARE(env.prompts.take().size(), 1);  // the field's box: the button ran
        } else {
            auto* shift = static_cast<TShift*>(dialog);
            shift->OperatorEdit->setText(QStringLiteral("wang"));
            shift->FloatEdit->setText(QStringLiteral("200"));
            press(Qt::Key_Return);
            QVERIFY(!shift->OpenBox->isEnabled());
        }
        QVERIFY(dialog->isVisible());
    }

    // 开班, 清点完毕 and 确认交班 in a row, the focus always where the next key belongs.
    void theShiftKeepsTheKeyboardThroughItsSteps() {
        Env env;
        TForm1 form(*env.desk);
        form.show();
        TShift* shift = OpenActive(form, "N71", TShift::shift);
        QVERIFY(shift);
        QCOMPARE(QApplication::focusWidget(), shift->OperatorEdit);
        type(QStringLiteral("wang"));
        press(Qt::Key_Tab);
        type(QStringLiteral("200"));
        press(Qt::Key_Return);  // 开  班
        QVERIFY(OpenShiftOf(*env.desk));
        QCOMPARE(QApplication::focusWidget(), shift->CountedEdit);
        type(QStringLiteral("200"));
        press(Qt::Key_Return);  // 清点完毕
        QCOMPARE(shift->DifferenceLabel->text(), QStringLiteral("0.00 元"));
        press(Qt::Key_Return);  // 确认交班
        QVERIFY(!OpenShiftOf(*env.desk));
        QCOMPARE(QApplication::focusWidget(), shift->OperatorEdit);
        press(Qt::Key_Escape);
        QVERIFY(!shift->isVisible());
        env.prompts.take();
    }

    void theMachineListTakesTheNameAtOnce() {
        Env env;
        TForm1 form(*env.desk);
        form.show();
        Tadduser* list = OpenActive(form, "N2", Tadduser::adduser);
        QVERIFY(list);
        QCOMPARE(QApplication::focusWidget(), list->Edit1);
        type(QStringLiteral("pc7"));
        press(Qt::Key_Return);
        QCOMPARE(env.field(QStringLiteral("pc7"), QStringLiteral("Cstate")), QStringLiteral("无"));
        QCOMPARE(list->Edit1->text(), QStringLiteral("pc7"));  // kept, as the dialog always did
        type(QStringLiteral("pc8"));                           // and replaced by the next name
        press(Qt::Key_Return);
        QCOMPARE(env.count(), 2);
        QCOMPARE(list->FlatListBox1->count(), 3);
        QCOMPARE(env.prompts.take(), QStringList());
    }

    void theMessengerTabsOutOfItsText() {
        Env env;
        TForm1 form(*env.desk);
        form.show();
        Tsend* messenger = OpenActive(form, "N10", Tsend::send);
        QVERIFY(messenger);
        messenger->FlatMemo1->setFocus();
        type(QStringLiteral("hi"));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(messenger->XP_Button1));
        QCOMPARE(messenger->FlatMemo1->toPlainText(), QStringLiteral("hi"));
    }

    // What the operator sees while typing, before anything is sent.
    void theMessengerCountsBytesAsOneTypes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("fits");
        QTest::newRow("empty") << QString() << QStringLiteral("0/28 字节") << true;
        QTest::newRow("two characters")
            << QStringLiteral("你好") << QStringLiteral("4/28 字节") << true;
        QTest::newRow("a line break counts 2")
            << QStringLiteral("a\nb") << QStringLiteral("4/28 字节") << true;
        QTest::newRow("14 characters, full")
            << QString(14, QChar(0x4F60)) << QStringLiteral("28/28 字节") << true;
        QTest::newRow("15 characters, too long")
            << QString(15, QChar(0x4F60)) << QStringLiteral("30/28 字节") << false;
        QTest::newRow("no GBK code")
            << QStringLiteral("hi \U0001F600") << QStringLiteral("有无法发送的字符") << false;
    }
    void theMessengerCountsBytesAsOneTypes() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(bool, fits);
        Env env;
        TForm1 form(*env.desk);
        Tsend messenger(*env.desk, &form);
        messenger.FlatMemo1->setPlainText(text);
        QCOMPARE(messenger.ByteCounter->text(), shown);
        QCOMPARE(messenger.ByteCounter->styleSheet().contains(QStringLiteral("red")), !fits);
    }
};

int runKeyboardTest(int argc, char** argv) {
    KeyboardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_keyboard.moc"

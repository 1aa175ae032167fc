#include <QTest>

#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/Messages.h"
#include "billing/Overnight.h"
#include "billing/Transfer.h"
#include "desk/Messages.h"
#include "support/Fixtures.h"

// The operations as plain functions on a desk, without any window: what each dialog's button
// now calls.
namespace {

void session(Env& env, const QString& name, const QString& state, const QString& other,
             const QString& sum) {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, '9:5:7', '10:15:07', '1时10分', "
                           "'2.7元', ?, ?, '11:00', ?)"),
            {name, other, sum, state});
}

QString box(const QString& text) { return QStringLiteral("message|") + text; }

}  // namespace

class SessionOperationsTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void checkoutOfTheHighlightedMachine() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("1.5"),
                QStringLiteral("4.2"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(CheckoutRow(*env.desk), std::optional<int>(0));
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("127.0.0.1"));
        QCOMPARE(env.prompts.take(), QStringList());
        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1", "message|发送信息完成，收到没有是客户端的事了.",
                              "message|下机到这已经全部完成了."}));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QString());

        // The same command on the now idle machine starts a session instead.
        QCOMPARE(CheckoutRow(*env.desk), std::nullopt);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|上机", "message|127.0.0.1", "message|现在是要上机了"}));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
    }

    void extraChargeSteps() {
        Env env;
        session(env, QStringLiteral("pc1"), QStringLiteral("正常"), QStringLiteral("2"),
                QStringLiteral("5.5"));
        env.addMachine(QStringLiteral("idle"));
        const ChargeSelection chosen = CheckChargeMachine(*env.desk, QStringLiteral("pc1"));
        QCOMPARE(chosen.kind, ChargeSelection::InSession);
        QCOMPARE(chosen.other, QStringLiteral("2"));
        QCOMPARE(chosen.total, QStringLiteral("5.5"));
        QCOMPARE(CheckChargeMachine(*env.desk, QStringLiteral("idle")).kind,
                 ChargeSelection::NotInSession);
        QCOMPARE(env.prompts.take(), QStringList{box(BillingText::NotInSession)});

        QCOMPARE(AddExtraCharge(*env.desk, QString(), QStringLiteral("1")),
                 ChargeOutcome::NoMachine);
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc1"), QString()),
                 ChargeOutcome::NoAmount);
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("idle"), QStringLiteral("1")),
                 ChargeOutcome::NotAdded);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|请先选择您要添加附加费的机器号!",
                              "message|请填入您要添加的附加费!", box(BillingText::NotInSession)}));
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc1"), QStringLiteral("1.5")),
                 ChargeOutcome::Added);
        QCOMPARE(env.prompts.take(), QStringList{"message|添加成功!"});
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("3.5"));
        QCOMPARE(env.field("pc1", "Tsum"), QStringLiteral("7"));
        QVERIFY_THROWS_EXCEPTION(ConversionError, ApplyExtraCharge(*env.desk, QStringLiteral("pc1"),
                                                                   QStringLiteral("abc")));
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("3.5"));
    }

    // A typed name finds its machine as the machine list does, whatever the engine folds.
    void extraChargeFindsATypedNameInAnyCase() {
        Env env;
        session(env, QStringLiteral("Ä-pc"), QStringLiteral("通宵"), QStringLiteral("2"),
                QStringLiteral("12"));
        const ChargeSelection found = CheckChargeMachine(*env.desk, QStringLiteral("ä-pc"));
        QCOMPARE(found.kind, ChargeSelection::InSession);
        QCOMPARE(found.other, QStringLiteral("2"));
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("ä-PC"), QStringLiteral("1")),
                 ChargeOutcome::Added);
        QCOMPARE(env.prompts.take(), QStringList{box(QStringLiteral("添加成功!"))});
        QCOMPARE(env.field(QStringLiteral("Ä-pc"), QStringLiteral("Tother")), QStringLiteral("3"));
        QCOMPARE(env.field(QStringLiteral("Ä-pc"), QStringLiteral("Tsum")), QStringLiteral("13"));
        // A name of no machine is still told as not in session.
        QCOMPARE(CheckChargeMachine(*env.desk, QStringLiteral("ö-pc")).kind,
                 ChargeSelection::NotInSession);
    }

    // Another program holds the write lock: 通宵 says the update failed, 转账 that the copy did,
    // and neither sends anything.
    void aWriteLockThatCannotBeHadShowsTheWritesMessage_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("says");
        QTest::newRow("通宵") << QStringLiteral("overnight")
                            << QStringLiteral("数据库出错，请关闭本软件重新运行！");
        QTest::newRow("转账") << QStringLiteral("transfer")
                            << QStringLiteral("数据库出错，请重新运行本软件!");
    }
    void aWriteLockThatCannotBeHadShowsTheWritesMessage() {
        QFETCH(QString, command);
        QFETCH(QString, says);
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        session(env, QStringLiteral("pc"), QStringLiteral("正常"), QStringLiteral("0"),
                QStringLiteral("2"));
        env.desk->RefreshSessionGrid();  // 127.0.0.1 first
        OtherProgram other(env.connectionText());
        other.holdWrite();
        if (command == QStringLiteral("overnight")) {
            StartOvernight(*env.desk);
        } else {
            QVERIFY(!TransferSession(*env.desk, QStringLiteral("pc"), QStringLiteral("127.0.0.1")));
        }
        other.release();
        QCOMPARE(env.prompts.take(), QStringList{box(says)});
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")),
                 QStringLiteral("无"));
    }

    void transferHidesItsDialogBeforeTheSends() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2"),
                QStringLiteral("4.7"));
        env.addMachine(QStringLiteral("localhost"));
        env.resolver.table.insert(QStringLiteral("localhost"), 0x7F000001);
        int boxesWhenMoved = -1;
        QVERIFY(TransferSession(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("localhost"),
                                [&] { boxesWhenMoved = int(env.prompts.boxes.size()); }));
        QCOMPARE(boxesWhenMoved, 0);
        QCOMPARE(env.prompts.take(), (QStringList{"message|127.0.0.1", "message|localhost"}));
        QCOMPARE(env.client.takeWords(2), (QStringList{"xiaji", "sj"}));
        QCOMPARE(env.field("localhost", "Tsum"), QStringLiteral("4.7"));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));

        // Nothing chosen: nothing moves and the callback does not run.
        boxesWhenMoved = -1;
        QVERIFY(!TransferSession(*env.desk, QString(), QStringLiteral("localhost"),
                                 [&] { boxesWhenMoved = 0; }));
        QCOMPARE(boxesWhenMoved, -1);
        QCOMPARE(env.prompts.take(), QStringList{"message|请选好您要转账的机器!"});
    }

    void overnightOnTheHighlightedMachine() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(22, 0, 0);
        StartOvernight(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{"message|127.0.0.1"});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("通宵"));
        QCOMPARE(env.field("127.0.0.1", "Tstart"), QStringLiteral("22:00:00"));
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QStringLiteral("10"));
        StartOvernight(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{"message|该机已经处于通宵状态!"});
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QStringLiteral("10"));
    }
};

int runSessionOperationsTest(int argc, char** argv) {
    SessionOperationsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_session_operations.moc"

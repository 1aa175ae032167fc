#include <QTest>
#include <cmath>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/Messages.h"
#include "billing/Overnight.h"
#include "billing/SessionStart.h"
#include "ledger/Journal.h"
#include "support/Fixtures.h"

// Nothing lost and nothing misreported when another program holds the file, when amounts
// overflow, or when the start row or the checkout cannot be written.
namespace {

const QString kUpdateFault = QStringLiteral("message|数据库运行出错，请关闭并重试一次！");
const QString kDbContact = QStringLiteral("message|数据库出现错误，请与管理员联系");
const QString kNotCheckedOut = QStringLiteral("message|该客户机并未下机，请前往查看.");

enum class Hold { Read, Write };

}  // namespace

class NothingLostTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void passWhoseCommitFailsSaysSoAndRefreshesNothing_data() {
        QTest::addColumn<int>("hold");
        QTest::newRow("a reader holds the file") << int(Hold::Read);
        QTest::newRow("another program holds the write lock") << int(Hold::Write);
    }
    void passWhoseCommitFailsSaysSoAndRefreshesNothing() {
        QFETCH(int, hold);
        Env env;
        env.clock.time = QTime(10, 10, 0);
        env.addSession(QStringLiteral("a"), QStringLiteral("10:0:0"));
        env.addSession(QStringLiteral("b"), QStringLiteral("9:0:0"));
        if (hold == int(Hold::Read) && env.postgres()) QSKIP("a reader never holds up a writer");
        env.module->ADOQuery1->Close();
        OtherProgram other(env.connectionText());
        hold == int(Hold::Read) ? other.holdRead() : other.holdWrite();
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{kUpdateFault});
        QVERIFY(!env.module->ADOQuery1->Active());  // no refresh as if all went well
        other.release();
        QCOMPARE(env.field("a", "Stime"), QStringLiteral("0"));
        QCOMPARE(env.field("b", "Stime"), QStringLiteral("0"));

        BillingPass(*env.desk);  // the next tick bills from scratch
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(env.field("a", "Stime"), QStringLiteral("0时10分"));
        QCOMPARE(env.field("b", "Stime"), QStringLiteral("1时10分"));
    }

    void commitBeforeTheMidnightQuestionIsChecked() {
        Env env;
        env.clock.time = QTime(0, 5, 0);
        env.addSession(QStringLiteral("early"), QStringLiteral("0:0:0"));
        env.addSession(QStringLiteral("late"), QStringLiteral("23:50:0"));
        if (env.postgres()) QSKIP("a reader never holds up a writer");
        OtherProgram other(env.connectionText());
        other.holdRead();
        env.prompts.answers = {true};
        BillingPass(*env.desk);
        // The question is not asked over writes that were lost.
        QCOMPARE(env.prompts.take(), QStringList{kUpdateFault});
        other.release();
        QCOMPARE(env.field("early", "Stime"), QStringLiteral("0"));
        QCOMPARE(env.field("late", "Cstate"), QStringLiteral("正常"));
    }

    void extraChargesNeverStoreAnInfiniteSum() {
        Env env;
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:0:0"), QStringLiteral("1.7e308"),
                       QStringLiteral("通宵"));
        // A typed charge is bounded long before a sum could overflow.
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("1e307")),
                 ChargeOutcome::NotAdded);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|") +
                                                 BillingText::ChargeOutOfRange("1e307")});
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("100000")),
                 ChargeOutcome::Added);
        env.prompts.take();
        const double other = ParseDecimal(env.field("pc", "Tother"));
        QVERIFY(std::isfinite(other) && other > 1e308);
        QVERIFY(std::isfinite(ParseDecimal(env.field("pc", "Tsum"))));
    }

    void overnightNeverStoresAnInfiniteSum() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.sql(QStringLiteral("update Tcount set Tother='1.7e308', Tsum='1.7e308'"));
        env.sql(QStringLiteral("update Tmoney set Tnight='1e308'"));
        env.desk->RefreshSessionGrid();
        StartOvernight(*env.desk);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|") + BillingText::OvernightTooLarge});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QCOMPARE(env.field("127.0.0.1", "Tother"), QStringLiteral("1.7e308"));
        QCOMPARE(env.client.take(0, 200).size(), 0);
    }

    void passNeverStoresAnInfiniteBill() {
        Env env;
        env.clock.time = QTime(12, 0, 0);
        env.addSession(QStringLiteral("a"), QStringLiteral("10:0:0"));
        env.addSession(QStringLiteral("huge"), QStringLiteral("10:0:0"), QStringLiteral("1.7e308"));
        env.sql(QStringLiteral("update Tmoney set OneTime='1e308'"));
        env.module->ADOQuery1->Close();
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|") + NonFiniteBillText(QStringLiteral("a"))});
        QCOMPARE(env.field("a", "Tsum"), QStringLiteral("0"));
        QVERIFY(!env.module->ADOQuery1->Active());

        // A finite fee whose sum with the charges overflows.
        env.sql(QStringLiteral("update Tmoney set OneTime='5e307'"));
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|") +
                                                 NonFiniteBillText(QStringLiteral("huge"))});
        QCOMPARE(env.field("a", "Tsum"), QStringLiteral("1e+308"));  // rows before it are written
        QCOMPARE(env.field("huge", "Tsum"), QStringLiteral("1.7e308"));
    }

    void startIsNotSentWhenItsRowCannotBeWritten_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("write lock held") << QStringLiteral("write");
        QTest::newRow("reader holds the file") << QStringLiteral("read");
        QTest::newRow("read-only") << QStringLiteral("query_only");
        QTest::newRow("update refused") << QStringLiteral("trigger");
    }
    void startIsNotSentWhenItsRowCannotBeWritten() {
        QFETCH(QString, how);
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        if (how == QStringLiteral("read") && env.postgres())
            QSKIP("a reader never holds up a writer");
        OtherProgram other(env.connectionText());
        if (how == QStringLiteral("write")) other.holdWrite();
        if (how == QStringLiteral("read")) other.holdRead();
        if (how == QStringLiteral("query_only")) env.setReadOnly(true);
        if (how == QStringLiteral("trigger"))
            env.failOn(QStringLiteral("update"), QStringLiteral("Tcount"));
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(), (QStringList{"message|上机", kDbContact}));
        QCOMPARE(env.client.take(0, 200).size(), 0);
        other.release();
        if (how == QStringLiteral("query_only")) env.setReadOnly(false);
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));

        // Once the file is free the same command goes through.
        if (how == QStringLiteral("trigger")) env.clearFailure();
        env.desk->RefreshSessionGrid();
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(), (QStringList{"message|上机", "message|127.0.0.1"}));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
        QVERIFY(env.module->ADOQuery1->Active());
    }

    void checkoutIsNotSentWhenItsRowCannotBeReset_data() {
        QTest::addColumn<bool>("reader");
        QTest::newRow("write lock held") << false;
        QTest::newRow("reader holds the file") << true;
    }
    void checkoutIsNotSentWhenItsRowCannotBeReset() {
        QFETCH(bool, reader);
        Env env;
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("9:0:0"), QStringLiteral("2"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(CheckoutRow(*env.desk), std::optional<int>(0));
        if (reader && env.postgres()) QSKIP("a reader never holds up a writer");
        OtherProgram other(env.connectionText());
        reader ? other.holdRead() : other.holdWrite();
        QVERIFY(!CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1", kDbContact, kNotCheckedOut}));
        QCOMPARE(env.client.take(0, 200).size(), 0);  // the client stays unlocked, as recorded
        other.release();
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));

        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        QCOMPARE(env.prompts.take().last(), QStringLiteral("message|下机到这已经全部完成了."));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
    }

    // The command left before the COMMIT, and the COMMIT failed (a deferred constraint on the
    // server, an I/O error under SQLite's exclusive lock): the database is asked again on a
    // connection of its own, and no client stays unlocked without a recorded session.
    void aStartWhoseCommitFailsLocksTheClientAgain() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        if (!env.failNextCommit(QStringLiteral("new.Cstate = '正常'")))
            QSKIP("this build cannot fail a commit beneath SQLite");
        StartCommand(*env.desk);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 3);  // 上机, the machine's name as "sj" left, then what happened
        QCOMPARE(boxes.mid(0, 2), (QStringList{"message|上机", "message|127.0.0.1"}));
        QVERIFY2(boxes[2].contains(QStringLiteral("重新锁上")), qPrintable(boxes[2]));
        QCOMPARE(env.client.takeWords(2), (QStringList{"sj", "xiaji"}));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QVERIFY(env.module->ADOQuery1->Active());

        // The failure was once: the same command goes through now.
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(), (QStringList{"message|上机", "message|127.0.0.1"}));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
    }

    void aCheckoutWhoseCommitFailsSaysTheSessionIsOpenAndTheClientLocked() {
        Env env;
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("9:0:0"), QStringLiteral("2"));
        env.desk->RefreshSessionGrid();
        if (!env.failNextCommit(QStringLiteral("new.Cstate = '无'")))
            QSKIP("this build cannot fail a commit beneath SQLite");
        QVERIFY(!CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.mid(0, 6),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1", "message|发送信息完成，收到没有是客户端的事了.",
                              kDbContact, kNotCheckedOut}));
        QCOMPARE(boxes.size(), 7);
        QVERIFY2(boxes[6].contains(QStringLiteral("仍在上机计费")) &&
                     boxes[6].contains(QStringLiteral("客户机已被锁上")),
                 qPrintable(boxes[6]));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QStringLiteral("2"));
        QCOMPARE(ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime()),
                             QDateTime(QDate(2100, 1, 1), QTime()))
                     ->size(),
                 size_t(0));
        QVERIFY(env.module->ADOQuery1->Active());

        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
    }
};

int runNothingLostTest(int argc, char** argv) {
    NothingLostTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_nothing_lost.moc"

#include <QTest>

#include "billing/BillingPass.h"
#include "billing/Bulk.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/Messages.h"
#include "billing/Prices.h"
#include "billing/Reminders.h"
#include "billing/Transfer.h"
#include "client_channel/Datagram.h"
#include "desk/Messages.h"
#include "ledger/CafeName.h"
#include "ledger/Journal.h"
#include "support/LedgerFixtures.h"

// Prices, reminders and the whole-café commands.
namespace {

void session(Env& env, const QString& name, const QString& start, const QString& sum = "0") {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, ?, ?, '0', '0元', '0', ?, '', '正常')"),
            {name, start, start, sum});
}

}  // namespace

class PricesRemindersBulkTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void pricesRefuseAnythingButAFiniteAmountAboveZero_data() {
        QTest::addColumn<QString>("hourly");
        QTest::addColumn<QString>("night");
        QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("10");
        QTest::newRow("negative") << QStringLiteral("-2") << QStringLiteral("10");
        QTest::newRow("not a number") << QStringLiteral("abc") << QStringLiteral("10");
        QTest::newRow("too large") << QStringLiteral("1e400") << QStringLiteral("10");
        QTest::newRow("blanks") << QStringLiteral("   ") << QStringLiteral("10");
        QTest::newRow("overnight zero") << QStringLiteral("3") << QStringLiteral("0");
        QTest::newRow("with the unit") << QStringLiteral("3元") << QStringLiteral("10");
    }
    void pricesRefuseAnythingButAFiniteAmountAboveZero() {
        QFETCH(QString, hourly);
        QFETCH(QString, night);
        Env env;
        QVERIFY(!SetPrices(*env.desk, hourly, night));
        QCOMPARE(
            env.prompts.take(),
            QStringList{QStringLiteral("message|") + BillingText::PriceRefused});
        const auto prices = ReadPrices(*env.desk);
        QCOMPARE(prices->hourly, QStringLiteral("2"));
        QCOMPARE(prices->overnight, QStringLiteral("10"));
        QCOMPARE(JournalRowsOf(env, JournalKind::PriceChange), 0);
    }

    // What a new rate would bill again: the normal sessions, and only when the rate changes.
    void aNewRateCountsTheSessionsItReprices_data() {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("repriced");
        QTest::newRow("a new rate") << QStringLiteral("3") << 2;
        QTest::newRow("the same, written otherwise") << QStringLiteral(" 2.00 ") << 0;
        QTest::newRow("not a price") << QStringLiteral("abc") << 0;
    }
    void aNewRateCountsTheSessionsItReprices() {
        QFETCH(QString, rate);
        QFETCH(int, repriced);
        Env env;
        session(env, QStringLiteral("a"), QStringLiteral("9:0:0"));
        session(env, QStringLiteral("b"), QStringLiteral("9:0:0"));
        env.addSession(QStringLiteral("night"), QStringLiteral("22:0:0"), QStringLiteral("10"),
                       QStringLiteral("通宵"));
        env.addMachine(QStringLiteral("idle"));
        QCOMPARE(SessionsRepricedBy(*env.desk, rate), repriced);
        QCOMPARE(env.prompts.take(), QStringList());
    }

    // The name every desk prints: one row in the database, the default until it is set.
    void theCafesNameIsSharedByEveryDesk() {
        Env env;
        QCOMPARE(CafeName(*env.desk), DefaultCafeName);
        QVERIFY(SetCafeName(*env.desk, QStringLiteral(" 星空网吧 ")));
        QVERIFY(SetCafeName(*env.desk, QStringLiteral("星空网吧二店")));  // replaced, not added
        SecondDesk other(env.connectionText(), env.path(QStringLiteral("second")),
                         QStringLiteral("前台二"), env.client.port());
        QCOMPARE(CafeName(*other.desk), QStringLiteral("星空网吧二店"));
        QVERIFY(!SetCafeName(*env.desk, QStringLiteral("  ")));
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|网吧名称不能为空，未保存。")});
        env.failOn(QStringLiteral("insert"), QStringLiteral("Tsetting"));
        QVERIFY(!SetCafeName(*env.desk, QStringLiteral("别的名字")));
        QCOMPARE(env.prompts.take(), QStringList{"message|" + DeskText::DbContact});
        QCOMPARE(CafeName(*env.desk), QStringLiteral("星空网吧二店"));  // the delete rolled back
    }

    void aNewRateBillsTheNextPass() {
        Env env;
        session(env, QStringLiteral("pc"), QStringLiteral("10:0:0"));
        env.clock.time = QTime(11, 10, 0);
        env.desk->operatorName = QStringLiteral("小王");
        QVERIFY(SetPrices(*env.desk, QStringLiteral(" 3.50 "), QStringLiteral("12")));
        QCOMPARE(ReadPrices(*env.desk)->hourly, QStringLiteral("3.5"));  // the console's format
        BillingPass(*env.desk);
        QCOMPARE(env.field("pc", "Tmoney"), QStringLiteral("4.7元"));  // 3.5 + a third of 3.5
        const JournalRow change = ReadJournal(*env.desk, QDateTime(env.clock.date, QTime()),
                                              QDateTime(env.clock.date.addDays(1), QTime()))
                                      ->back();
        QCOMPARE(change.entry.kind, JournalKind::PriceChange);
        QCOMPARE(change.operatorName, QStringLiteral("小王"));
        QCOMPARE(change.entry.note, QStringLiteral("上网单价 2 → 3.5 元/小时，通宵价 10 → 12 元"));

        // A tariff table without rows gets one.
        env.sql(QStringLiteral("delete from Tmoney"));
        QVERIFY(SetPrices(*env.desk, QStringLiteral("2"), QStringLiteral("10")));
        QCOMPARE(ReadPrices(*env.desk)->overnight, QStringLiteral("10"));
    }

    void pricesOnALockedFileWriteNothing() {
        Env env;
        OtherProgram other(env.connectionText());
        other.holdWrite();
        QVERIFY(!SetPrices(*env.desk, QStringLiteral("3"), QStringLiteral("12")));
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|") + DeskText::DbContact});
        other.release();
        QCOMPARE(ReadPrices(*env.desk)->hourly, QStringLiteral("2"));
        QCOMPARE(JournalRowsOf(env, JournalKind::PriceChange), 0);
    }

    void reminderAtATimeOfDayIsToldOnce() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("9:0:0"));
        env.clock.time = QTime(10, 0, 0);
        QVERIFY(SetReminder(*env.desk, QStringLiteral("127.0.0.1"), QTime(10, 30), true));
        QCOMPARE(env.field("127.0.0.1", "gotime"), QStringLiteral("10:30"));
        env.clock.time = QTime(10, 29, 30);
        CheckReminders(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        QVERIFY(!ReminderDue(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("10:30")));
        env.clock.time = QTime(10, 30, 0);
        // The message has left by the time the operator reads the box.
        QList<Receiver::Datagram> sent;
        env.prompts.whileOpen = [&](const QString&) { sent = env.client.take(1); };
        CheckReminders(*env.desk);
        env.prompts.whileOpen = {};
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|机器“127.0.0.1”的提示时间 10:30 到了。已给它发了消息“您的上网"
                              "时间到了”。"}));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].bytes, *CommandDatagram(QStringLiteral(" 您的上网时间到了")));
        QCOMPARE(sent[0].bytes.left(5), QByteArray::fromHex("20C4FAB5C4"));  // " 您的" in GBK
        QVERIFY(ReminderDue(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("10:30")));
        env.clock.time = QTime(10, 31, 0);
        CheckReminders(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());  // once
    }

    void reminderInMinutesAcrossMidnight() {
        Env env;
        session(env, QStringLiteral("pc"), QStringLiteral("23:0:0"));
        env.clock.time = QTime(23, 50, 0);
        QVERIFY(SetReminderIn(*env.desk, QStringLiteral("pc"), 45, false));
        QCOMPARE(env.field("pc", "gotime"), QStringLiteral("0:35"));
        env.clock.time = QTime(23, 59, 0);
        CheckReminders(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        env.clock.date = env.clock.date.addDays(1);
        env.clock.time = QTime(0, 35, 0);
        CheckReminders(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{"message|机器“pc”的提示时间 0:35 到了。"});
        QCOMPARE(env.client.take(0, 200).size(), 0);  // no message asked for
        QVERIFY(!SetReminderIn(*env.desk, QStringLiteral("pc"), 0, false));
        env.addMachine(QStringLiteral("idle"));
        QVERIFY(!SetReminder(*env.desk, QStringLiteral("idle"), QTime(1, 0), false));
        QVERIFY(!CanRemind(*env.desk, QStringLiteral("idle")));
        QCOMPARE(env.prompts.take().size(), 3);
        QVERIFY(env.isNull(QStringLiteral("idle"), QStringLiteral("gotime")));
    }

    void reminderMovesWithTheSessionAndEndsWithIt() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("9:0:0"));
        env.addMachine(QStringLiteral("localhost"));
        env.resolver.table.insert(QStringLiteral("localhost"), 0x7F000001);
        env.clock.time = QTime(10, 0, 0);
        QVERIFY(SetReminder(*env.desk, QStringLiteral("127.0.0.1"), QTime(10, 5), false));
        QVERIFY(
            TransferSession(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("localhost")));
        env.prompts.take();
        QCOMPARE(env.field("localhost", "gotime"), QStringLiteral("10:05"));
        env.clock.time = QTime(10, 4, 0);
        CheckReminders(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());  // still this desk's reminder, not due yet
        env.clock.time = QTime(10, 5, 0);
        CheckReminders(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{"message|机器“localhost”的提示时间 10:05 到了。"});
        QVERIFY(ReminderDue(*env.desk, QStringLiteral("localhost"), QStringLiteral("10:05")));

        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("localhost")));
        QCOMPARE(env.field("localhost", "gotime"), QString());  // checkout clears it
        CheckReminders(*env.desk);
        QVERIFY(!ReminderDue(*env.desk, QStringLiteral("localhost"), QStringLiteral("10:05")));
        QVERIFY(env.desk->reminders.isEmpty());
    }

    void fiftyMachinesStartAndCheckOutWithOneUnreachable() {
        Env env;
        env.sql(QStringLiteral("begin"));
        for (int i = 0; i < 50; ++i) {
            const QString name = QStringLiteral("pc%1").arg(i, 2, 10, QLatin1Char('0'));
            env.addMachine(name);
            if (i != 37) env.resolver.table.insert(name, 0x7F000001);
        }
        env.sql(QStringLiteral("commit"));
        env.prompts.answers = {true};
        StartAll(*env.desk);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"confirm|确定要让 50 台空闲的机器全部上机吗？",
                              "message|全部上机完成：成功 49 台；未成功 1 台：\n"
                              "pc37：无法连接客户机，没有上机"}));
        QCOMPARE(env.client.takeWords(49).count(QStringLiteral("sj")), 49);
        QCOMPARE(env.count(QStringLiteral("Cstate='正常'")), 49);
        QCOMPARE(env.field("pc37", "Cstate"), QStringLiteral("无"));

        env.sql(QStringLiteral("update Tcount set Tsum='0.1', Cstate='正常'"));
        env.prompts.answers = {true};
        CheckOutAll(*env.desk);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"confirm|确定要让 50 台机器全部下机吗？共需费用合计 5.00 元。",
                              "message|全部下机完成：成功 49 台；未成功 1 台：\n"
                              "pc37：无法连接客户机，没有下机\n收款合计 4.90 元。"}));
        QCOMPARE(env.client.takeWords(49).count(QStringLiteral("xiaji")), 49);
        QCOMPARE(env.count(QStringLiteral("Cstate='无'")), 49);
        QCOMPARE(env.field("pc37", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(JournalRowsOf(env, JournalKind::Checkout), 49);

        // Answering No does nothing.
        env.prompts.answers = {false};
        CheckOutAll(*env.desk);
        QCOMPARE(env.prompts.take().size(), 1);
        QCOMPARE(env.field("pc37", "Cstate"), QStringLiteral("正常"));
    }

    // 全部下机 settles the bills it listed in its question: one changed while the question was
    // open is left for a checkout of its own, and nothing is sent to it.
    void checkingOutAllSettlesOnlyTheBillsItListed() {
        Env env;
        for (const char* name : {"pc1", "pc2"}) {
            session(env, QString::fromLatin1(name), QStringLiteral("9:0:0"), QStringLiteral("3"));
            env.resolver.table.insert(QString::fromLatin1(name), 0x7F000001);
        }
        env.prompts.whileOpen = [&](const QString& box) {
            if (box.startsWith(QStringLiteral("confirm|")))
                env.otherTool(
                    QStringLiteral("update Tcount set Tother='5', Tsum='8' where username='pc2'"));
        };
        env.prompts.answers = {true};
        CheckOutAll(*env.desk);
        env.prompts.whileOpen = {};
        QCOMPARE(env.prompts.take().last(),
                 QStringLiteral("message|全部下机完成：成功 1 台；未成功 1 台：\n"
                                "pc2：账单已变，请单独结账，没有下机\n收款合计 3.00 元。"));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QCOMPARE(env.field("pc2", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("pc2", "Tsum"), QStringLiteral("8"));
        QCOMPARE(JournalRowsOf(env, JournalKind::Checkout), 1);
    }

    void startingAllLocksAgainAClientWhoseStartWasNotRecorded() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        env.resolver.table.insert(QStringLiteral("pc1"), 0x7F000001);
        if (!env.failNextCommit(QStringLiteral("new.Cstate = '正常'")))
            QSKIP("this build cannot fail a commit beneath SQLite");
        env.prompts.answers = {true};
        StartAll(*env.desk);
        QCOMPARE(env.prompts.take().last(),
                 QStringLiteral("message|全部上机完成：成功 0 台；未成功 1 台：\n"
                                "pc1：数据库无法写入，已重新锁上，没有上机"));
        QCOMPARE(env.client.takeWords(2), (QStringList{"sj", "xiaji"}));
        QCOMPARE(env.field("pc1", "Cstate"), QStringLiteral("无"));
    }
};

int runPricesRemindersBulkTest(int argc, char** argv) {
    PricesRemindersBulkTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_prices_reminders_bulk.moc"

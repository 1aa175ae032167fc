#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include "accounts/Accounts.h"
#include "backups/Backup.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "ledger/Shifts.h"
#include "support/AccountFixtures.h"
#include "support/LedgerFixtures.h"

// Operators who sign in, the owner's approval and the owner's seal, on real databases.
namespace {

const QString kOwnerPassword = QStringLiteral("店主的密码-2026");
const QString kPin = QStringLiteral("4711");

void EnableWithCashier(Env& env) { TurnOnSignIn(env, kOwnerPassword, kPin); }

QStringList Column(Env& env, const QString& statement) {
    QSqlQuery q(QSqlDatabase::database(env.module->connectionName(), false));
    if (!q.exec(statement)) qFatal("%s", qPrintable(statement));
    QStringList values;
    while (q.next()) values << q.value(0).toString();
    return values;
}

// The journal as another tool rewrites it with the program's own rule: every hash from row
// `from` on recomputed, each linked to the one before.
void RewriteChainFrom(Env& env, qint64 from) {
    std::vector<JournalRow> rows = AllJournalRows(env);
    QString prev = from > 1 ? rows[size_t(from - 2)].hash : JournalSeed();
    for (JournalRow& row : rows) {
        if (row.id < from) continue;
        row.prev = prev;
        row.hash = JournalHash(row);
        env.otherTool(QStringLiteral("update Tjournal set prev='%1', hash='%2' where id=%3")
                          .arg(row.prev, row.hash)
                          .arg(row.id));
        prev = row.hash;
    }
}

}  // namespace

class AccountsTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void offUntilTheOwnerTurnsItOn() {
        Env env;
        QVERIFY(!SignInOn(*env.desk));
        // The owner's approval is given without a box while sign-in is off.
        { QVERIFY(bool(OwnerApproval(*env.desk, QStringLiteral("修改价格")))); }
        QVERIFY(env.prompts.take().isEmpty());
        EnableWithCashier(env);
        QVERIFY(SignInOn(*env.desk));
        QString why;
        QVERIFY(!DisableSignIn(*env.desk, Typed(QStringLiteral("猜的密码123")), &why));
        QVERIFY(SignInOn(*env.desk));
        QVERIFY2(DisableSignIn(*env.desk, Typed(kOwnerPassword), &why), qPrintable(why));
        QVERIFY(!SignInOn(*env.desk));
        QCOMPARE(JournalRowsOf(env, JournalKind::SignInOn), 1);
        QCOMPARE(JournalRowsOf(env, JournalKind::SignInOff), 1);
        const ChainCheck check = VerifyJournal(*env.desk);
        QVERIFY2(check.result == ChainCheck::Intact, qPrintable(check.detail));
    }

    void secretsAreBounded_data() {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<bool>("taken");
        QTest::newRow("cashier 4 digits") << Role::Cashier << QStringLiteral("0000") << true;
        QTest::newRow("cashier 3 digits") << Role::Cashier << QStringLiteral("123") << false;
        QTest::newRow("cashier letters") << Role::Cashier << QStringLiteral("12a4") << false;
        QTest::newRow("second owner") << Role::Owner << QStringLiteral("a-long-password") << false;
        QTest::newRow("other role") << QStringLiteral("admin") << QStringLiteral("123456") << false;
    }
    void secretsAreBounded() {
        QFETCH(QString, role);
        QFETCH(QString, secret);
        QFETCH(bool, taken);
        Env env;
        QString why;
        QVERIFY(!EnableSignIn(*env.desk, QStringLiteral("老板"), Typed(QStringLiteral("short")), &why));
        QVERIFY(EnableSignIn(*env.desk, QStringLiteral("老板"), Typed(kOwnerPassword), &why));
        QCOMPARE(AddAccount(*env.desk, QStringLiteral("新人"), role, Typed(secret), &why), taken);
        QCOMPARE(FindAccount(*env.desk, QStringLiteral("新人")).has_value(), taken);
    }

    void theOwnerCannotBeDisabledOrDuplicated() {
        Env env;
        EnableWithCashier(env);
        QString why;
        QVERIFY(!SetAccountEnabled(*env.desk, QStringLiteral("老板"), false, &why));
        QVERIFY(!AddAccount(*env.desk, QStringLiteral("小王"), Role::Cashier, Typed(kPin), &why));
        // Nor a name that differs from one in use by case alone.
        QVERIFY(AddAccount(*env.desk, QStringLiteral("Wang"), Role::Cashier, Typed(kPin), &why));
        QVERIFY(!AddAccount(*env.desk, QStringLiteral("wANG"), Role::Cashier, Typed(kPin), &why));
        QCOMPARE(why, QStringLiteral("已经有叫“Wang”的操作员了。"));
        QVERIFY(SetAccountEnabled(*env.desk, QStringLiteral("小王"), false, &why));
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Unknown);
        QVERIFY(SetAccountEnabled(*env.desk, QStringLiteral("小王"), true, &why));
        QVERIFY(ResetPin(*env.desk, QStringLiteral("小王"), Typed(QStringLiteral("86420")), &why));
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Wrong);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(QStringLiteral("86420"))).result,
                 SignInResult::Ok);
    }

    void signInRightAndWrong() {
        Env env;
        EnableWithCashier(env);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(QStringLiteral("1111"))).result,
                 SignInResult::Wrong);
        QVERIFY(env.desk->accountId.isEmpty());
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Ok);
        const std::optional<Account> cashier = FindAccount(*env.desk, QStringLiteral("小王"));
        QCOMPARE(env.desk->accountId, cashier->id);
        QVERIFY(!env.desk->accountIsOwner);
        // Every row from now on carries the account signed in.
        env.addSession(QStringLiteral("pc1"), QStringLiteral("9:00:00"));
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc1"), QStringLiteral("3")),
                 ChargeOutcome::Added);
        const JournalRow last = AllJournalRows(env).back();
        QCOMPARE(last.entry.kind, JournalKind::ExtraCharge);
        QCOMPARE(last.account, cashier->id);
        QCOMPARE(last.operatorName, QStringLiteral("小王"));
        QCOMPARE(last.version, 2);
        QCOMPARE(JournalRowsOf(env, JournalKind::SignInFailed), 1);
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        // Each 登录 row names the one who signed in, by account and by name, not the one before.
        QCOMPARE(SignIn(*env.desk, QStringLiteral("老板"), Typed(kOwnerPassword)).result,
                 SignInResult::Ok);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Ok);
        std::vector<JournalRow> signIns;
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind == JournalKind::SignIn) signIns.push_back(row);
        QCOMPARE(signIns.size(), size_t(3));
        const std::optional<Account> owner = FindAccount(*env.desk, QStringLiteral("老板"));
        QCOMPARE(signIns[1].account, owner->id);
        QCOMPARE(signIns[1].operatorName, QStringLiteral("老板"));
        QCOMPARE(signIns[2].account, cashier->id);
        QCOMPARE(signIns[2].operatorName, QStringLiteral("小王"));
    }

    // Five wrong PINs in a row lock the name for a minute, the next lock-out for two; a right
    // PIN meanwhile is refused; every wrong one is a journal row.
    void fiveWrongPinsLockTheName() {
        Env env;
        EnableWithCashier(env);
        const auto wrong = [&] {
            return SignIn(*env.desk, QStringLiteral("小王"), Typed(QStringLiteral("0000")));
        };
        for (int i = 0; i < 4; ++i) QCOMPARE(wrong().result, SignInResult::Wrong);
        SignInResult fifth = wrong();
        QCOMPARE(fifth.result, SignInResult::LockedOut);
        QCOMPARE(fifth.lockedUntil, env.clock.nowDateTime().addSecs(60));
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result,
                 SignInResult::LockedOut);
        QCOMPARE(JournalRowsOf(env, JournalKind::SignInFailed), 5);
        env.clock.time = env.clock.time.addSecs(61);
        for (int i = 0; i < 4; ++i) QCOMPARE(wrong().result, SignInResult::Wrong);
        fifth = wrong();
        QCOMPARE(fifth.result, SignInResult::LockedOut);
        QCOMPARE(fifth.lockedUntil, env.clock.nowDateTime().addSecs(120));  // doubled
        env.clock.time = env.clock.time.addSecs(121);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Ok);
        // Another name is not locked by these.
        QCOMPARE(JournalRowsOf(env, JournalKind::SignInFailed), 10);
    }

    void theOwnersApprovalNamesBoth_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<bool>("given");
        QTest::addColumn<QStringList>("boxes");
        const QString ask = QStringLiteral("secret|“修改价格”只有店主可以做。请店主输入密码：");
        QTest::newRow("right password")
            << QStringList{kOwnerPassword} << true
            << QStringList{ask, QStringLiteral("message|添加成功!")};
        QTest::newRow("wrong password")
            << QStringList{QStringLiteral("not-the-owner")} << false
            << QStringList{ask, QStringLiteral("message|店主密码不对，没有做任何改动。")};
        QTest::newRow("cancelled") << QStringList{} << false << QStringList{ask};
        QTest::newRow("a PIN is not the password")
            << QStringList{kPin} << false
            << QStringList{ask, QStringLiteral("message|店主密码不对，没有做任何改动。")};
    }
    void theOwnersApprovalNamesBoth() {
        QFETCH(QStringList, typed);
        QFETCH(bool, given);
        QFETCH(QStringList, boxes);
        Env env;
        EnableWithCashier(env);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Ok);
        env.prompts.take();
        for (const QString& t : typed) env.prompts.secrets.push_back(t);
        const int before = int(AllJournalRows(env).size());
        {
            OwnerApproval approval(*env.desk, QStringLiteral("修改价格"));
            QCOMPARE(bool(approval), given);
            if (approval) {
                QVERIFY(!env.desk->approverId.isEmpty());
                env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
                QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("-1")),
                         ChargeOutcome::Added);
            }
        }
        QVERIFY(env.desk->approverId.isEmpty());  // only for the action approved
        QCOMPARE(env.prompts.take(), boxes);
        const std::vector<JournalRow> rows = AllJournalRows(env);
        // A wrong password is a flagged row naming what was asked; a cancel writes nothing.
        const bool refused = !given && typed.size() == 1;
        QCOMPARE(int(rows.size()) - before, given ? 2 : refused ? 1 : 0);
        if (refused) {
            QCOMPARE(rows.back().entry.kind, JournalKind::ApprovalRefused);
            QCOMPARE(rows.back().entry.note, QStringLiteral("修改价格"));
            QVERIFY(rows.back().entry.flagged);
            QCOMPARE(rows.back().account, FindAccount(*env.desk, QStringLiteral("小王"))->id);
        }
        if (given) {
            const QString owner = FindAccount(*env.desk, QStringLiteral("老板"))->id;
            const QString cashier = FindAccount(*env.desk, QStringLiteral("小王"))->id;
            for (const JournalRow& row : {rows[rows.size() - 2], rows.back()}) {
                QCOMPARE(row.account, cashier);
                QCOMPARE(row.approver, owner);
            }
            QCOMPARE(rows[rows.size() - 2].entry.kind, JournalKind::Approval);
        }
        // The owner signed in is never asked.
        QCOMPARE(SignIn(*env.desk, QStringLiteral("老板"), Typed(kOwnerPassword)).result,
                 SignInResult::Ok);
        { QVERIFY(bool(OwnerApproval(*env.desk, QStringLiteral("修改价格")))); }
        QVERIFY(env.prompts.take().isEmpty());
    }

    // The report's shifts are the account's, under its name now: a rename in mid-shift splits
    // nothing. Rows written before accounts keep the name typed then.
    void reportsGroupByAccount() {
        Env env;
        const auto settle = [&](const QString& machine, const QString& total) {
            env.resolver.table.insert(machine, 0x7F000001);
            AddBill(env, machine, QStringLiteral("正常"), QStringLiteral("0元"),
                    QStringLiteral("0"), total);
            env.desk->RefreshSessionGrid();
            QVERIFY(CheckOut(*env.desk, machine));
        };
        QVERIFY(OpenShift(*env.desk, QStringLiteral("老王"), QStringLiteral("0")));
        settle(QStringLiteral("pc1"), QStringLiteral("5"));
        QVERIFY(CountShift(*env.desk, QStringLiteral("5")));
        QVERIFY(CloseShift(*env.desk, {}));

        EnableWithCashier(env);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin)).result, SignInResult::Ok);
        QVERIFY(OpenShift(*env.desk, env.desk->operatorName, QStringLiteral("0")));
        settle(QStringLiteral("pc2"), QStringLiteral("3"));
        env.otherTool(QStringLiteral("update Taccount set name='王小二' where name='小王'"));
        env.desk->operatorName = QStringLiteral("王小二");
        settle(QStringLiteral("pc3"), QStringLiteral("4"));

        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(report->perShift.size(), size_t(2));
        QVERIFY2(report->perShift[0].first.startsWith(QStringLiteral("王小二（")),
                 qPrintable(report->perShift[0].first));
        QCOMPARE(report->perShift[0].second, qint64(700));
        QVERIFY(report->perShift[1].first.startsWith(QStringLiteral("老王（")));
        QCOMPARE(report->perShift[1].second, qint64(500));
        QCOMPARE(report->bills.size(), size_t(3));
        QCOMPARE(report->bills[0].operatorName, QStringLiteral("老王"));
        QCOMPARE(report->bills[1].operatorName, QStringLiteral("王小二"));
        QCOMPARE(report->bills[2].operatorName, QStringLiteral("王小二"));
    }

    // Hashes are Argon2id strings; neither the PIN nor the password is anywhere in the database
    // or in the statement log.
    void noSecretIsStoredOrLogged() {
        static QStringList logged;
        logged.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("cafe.db.debug=true"));
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { logged << text; });
        {
            Env env;
            EnableWithCashier(env);
            SignIn(*env.desk, QStringLiteral("小王"), Typed(QStringLiteral("9999")));
            SignIn(*env.desk, QStringLiteral("小王"), Typed(kPin));
            QString why;
            SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr);
            for (const QString& hash : Column(env, QStringLiteral("select hash from Taccount")))
                QVERIFY2(hash.startsWith(QStringLiteral("$argon2id$")), qPrintable(hash));
            QStringList everything;
            for (const char* table : {"Taccount", "Tjournal", "Tsetting", "Tsealkey"})
                everything << Column(env, QStringLiteral("select * from %1").arg(QLatin1String(table)));
            for (const QString& cell : everything) {
                QVERIFY(!cell.contains(kOwnerPassword));
                QVERIFY(!cell.contains(QStringLiteral("9999")));
            }
            if (!env.postgres()) {
                env.desk.reset();
                env.module->Disconnect();
                QFile file(env.dbPath());
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QByteArray bytes = file.readAll();
                QVERIFY(!bytes.contains(kOwnerPassword.toUtf8()));
                QVERIFY(!bytes.contains("9999"));
            }
        }
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QStringLiteral("cafe.db.debug=false"));
        QVERIFY(!logged.isEmpty());  // the log was on
        for (const QString& line : logged) {
            QVERIFY2(!line.contains(kOwnerPassword), qPrintable(line));
            QVERIFY2(!line.contains(kPin), qPrintable(line));
        }
    }

    // The interactive limits stay under a second per check on this machine.
    void aCheckTakesUnderASecond() {
        const QString hash = HashSecret(Typed(kPin));
        QVERIFY(hash.startsWith(QStringLiteral("$argon2id$")));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(SecretMatches(hash, Typed(kPin)));
        QVERIFY(!SecretMatches(hash, Typed(QStringLiteral("4712"))));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    // The seal finds what the chain alone cannot: rows before it changed and the whole chain
    // after them rewritten with the program's own rule.
    void theSealFindsARewrittenChain_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<qint64>("rewriteFrom");
        QTest::addColumn<bool>("seal2");  // a second seal after more rows
        QTest::newRow("amount edited, chain rewritten")
            << QStringLiteral("update Tjournal set amount='0.01' where kind='附加费' and id=(select "
                              "min(id) from Tjournal where kind='附加费')")
            << qint64(0) << false;
        QTest::newRow("first seal removed, rest renumbered and rewritten")
            << QStringLiteral("delete from Tjournal where kind='店主封账' and id=(select min(id) "
                              "from Tjournal where kind='店主封账')")
            << qint64(-1) << true;
        QTest::newRow("a note edited before the seal, chain rewritten")
            << QStringLiteral("update Tjournal set note='改过' where id=2") << qint64(0) << false;
    }
    void theSealFindsARewrittenChain() {
        QFETCH(QString, statement);
        QFETCH(qint64, rewriteFrom);
        QFETCH(bool, seal2);
        Env env;
        EnableWithCashier(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
        for (const char* amount : {"1", "2"})
            AddExtraCharge(*env.desk, QStringLiteral("pc"), QString::fromLatin1(amount));
        QString why;
        QString fingerprint;
        JournalMark sealed;
        QVERIFY2(SealJournal(*env.desk, Typed(kOwnerPassword), &why, &sealed, &fingerprint),
                 qPrintable(why));
        QCOMPARE(sealed.id, qint64(AllJournalRows(env).size()) - 1);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{4}(-[0-9A-F]{4}){3}$"))
                    .match(fingerprint)
                    .hasMatch());
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("3"));
        if (seal2) {
            QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr));
            AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("4"));
        }
        // An untouched journal never alarms.
        ChainCheck check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::Intact);
        QCOMPARE(check.seals, seal2 ? 2 : 1);
        QCOMPARE(check.keyFingerprint, fingerprint);
        auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QCOMPARE(report->check.result, ChainCheck::Intact);

        env.otherTool(statement);
        if (rewriteFrom < 0) {  // close the gap the removed row left
            env.otherTool(QStringLiteral("update Tjournal set id=-id where id>%1").arg(sealed.id + 1));
            env.otherTool(QStringLiteral("update Tjournal set id=-id-1 where id<0"));
            RewriteChainFrom(env, sealed.id + 1);
        } else {
            RewriteChainFrom(env, 1);
        }
        // The desk's own memory of its last row would find this too; the seal must without it.
        env.settings->setValue(env.desk->PerDatabaseKey(QStringLiteral("journalHead")), {});
        check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::SealBroken);
        QVERIFY(ChainAlteredText(check).startsWith(QStringLiteral("店主封账不符")));
        report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QCOMPARE(report->check.result, ChainCheck::SealBroken);
    }

    // Someone who replaces the key and signs the seals again with their own: every seal holds,
    // but the fingerprint is not the owner's any more, and a desk that saw the old one says so.
    void aReplacedKeyChangesTheFingerprint() {
        Env env;
        EnableWithCashier(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("1"));
        QString why;
        QString fingerprint;
        JournalMark sealed;
        QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, &sealed, &fingerprint));

        // Only the key replaced: the old seal no longer holds.
        const SealKeys forged = ReplaceSealKey(env);
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::SealBroken);

        // The seal signed again with the new key, its row's hash made to fit.
        ResignSeal(env, sealed, forged);
        env.settings->setValue(env.desk->PerDatabaseKey(QStringLiteral("journalHead")), {});
        const ChainCheck check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::Intact);
        QVERIFY(!check.keyFingerprint.isEmpty());
        QVERIFY(check.keyFingerprint != fingerprint);  // what the owner's paper shows up
        // The desk that sealed remembers the fingerprint and tells at start.
        env.prompts.take();
        ResumeJournal(*env.desk);
        QTRY_VERIFY(!env.desk->BackgroundBusy());
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(fingerprint), qPrintable(boxes.first()));
        QVERIFY(boxes.first().contains(check.keyFingerprint));
        // And the owner's password no longer seals: the key is not theirs.
        QVERIFY(!SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr));
    }

    // A new password brings a new seal key, shown once; the seals made with the old one keep
    // holding, and nothing of it can be swapped or added without the seals saying so.
    void theOwnersPasswordChangesWithItsKey_data() {
        QTest::addColumn<QString>("statement");  // what another tool does afterwards
        QTest::addColumn<bool>("rewrite");       // and the chain rewritten by the program's rule
        QTest::newRow("untouched") << QString() << false;
        QTest::newRow("a row before the old seal edited")
            << QStringLiteral("update Tjournal set amount='0.01' where id=(select min(id) from "
                              "Tjournal where kind='附加费')")
            << true;
        QTest::newRow("the new key swapped for another")
            << QStringLiteral("update Tsealkey set publickey='%1' where since>0")
                   .arg(QString(64, QLatin1Char('a')))
            << false;
        QTest::newRow("the old key removed")
            << QStringLiteral("delete from Tsealkey where since=0") << false;
        QTest::newRow("a key added that no change brought in")
            << QStringLiteral("insert into Tsealkey (salt, publickey, since) select salt, "
                              "publickey, since+1 from Tsealkey where since>0")
            << false;
        QTest::newRow("the change row's old signature removed")
            << QStringLiteral("update Tjournal set note=substr(note, 1, 128) where kind='店主改密码'")
            << true;
    }
    void theOwnersPasswordChangesWithItsKey() {
        QFETCH(QString, statement);
        QFETCH(bool, rewrite);
        const QString next = QStringLiteral("新的店主密码-2027");
        Env env;
        EnableWithCashier(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("1"));
        QString why;
        QString oldPrint;
        QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, &oldPrint));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("2"));
        const int rows = int(AllJournalRows(env).size());
        QString newPrint;
        QVERIFY2(ChangeOwnerPassword(*env.desk, Typed(kOwnerPassword), Typed(next), &why, &newPrint),
                 qPrintable(why));
        QVERIFY(newPrint != oldPrint);
        const JournalRow change = AllJournalRows(env).back();
        QCOMPARE(change.id, qint64(rows + 1));
        QCOMPARE(change.entry.kind, JournalKind::SealKeyChange);
        QCOMPARE(change.approver, FindAccount(*env.desk, QStringLiteral("老板"))->id);
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("3"));
        // The new password is the owner's now, for everything; the old one for nothing.
        QVERIFY(!CheckOwnerPassword(*env.desk, Typed(kOwnerPassword)));
        QVERIFY(!SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr));
        QString print;
        QVERIFY(SealJournal(*env.desk, Typed(next), &why, nullptr, &print));
        QCOMPARE(print, newPrint);
        QCOMPARE(SignIn(*env.desk, QStringLiteral("老板"), Typed(next)).result, SignInResult::Ok);

        ChainCheck check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::Intact);
        QCOMPARE(check.seals, 3);
        QCOMPARE(check.keyFingerprint, newPrint);
        QCOMPARE(check.keyHistory, (QStringList{oldPrint, newPrint}));
        // The start's check from a verified row after every seal holds them to the keys as well.
        const JournalRow last = AllJournalRows(env).back();
        const std::pair<qint64, QString> verified{last.id, last.hash};
        const auto sinceVerified = [&] {
            return VerifyJournalAfter(env.module->connectionName(), verified, JournalMark{},
                                      nullptr);
        };
        check = sinceVerified();
        QCOMPARE(check.result, ChainCheck::Intact);
        QCOMPARE(check.seals, 3);
        QCOMPARE(check.keyHistory, (QStringList{oldPrint, newPrint}));
        if (statement.isEmpty()) {
            // A desk that saw the old key takes the one it vouched for without a word.
            env.settings->setValue(env.desk->PerDatabaseKey(QStringLiteral("sealKey")), oldPrint);
            env.prompts.take();
            ResumeJournal(*env.desk);
            QTRY_VERIFY(!env.desk->BackgroundBusy());
            QCOMPARE(env.prompts.take(), QStringList{});
            QCOMPARE(env.settings->value(env.desk->PerDatabaseKey(QStringLiteral("sealKey"))),
                     newPrint);
            return;
        }
        env.otherTool(statement);
        if (rewrite) RewriteChainFrom(env, 1);
        env.settings->setValue(env.desk->PerDatabaseKey(QStringLiteral("journalHead")), {});
        check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::SealBroken);
        QCOMPARE(sinceVerified().result, ChainCheck::SealBroken);
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QCOMPARE(report->check.result, ChainCheck::SealBroken);
    }

    void aWrongPasswordChangesNothing_data() {
        QTest::addColumn<QString>("old");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong old password")
            << QStringLiteral("not-the-owner") << QStringLiteral("新的店主密码-2027")
            << QStringLiteral("原来的店主密码不对，密码没有改。");
        QTest::newRow("a PIN for the old password")
            << kPin << QStringLiteral("新的店主密码-2027")
            << QStringLiteral("原来的店主密码不对，密码没有改。");
        QTest::newRow("new password too short")
            << kOwnerPassword << QStringLiteral("1234567") << QStringLiteral("店主密码至少要8个字符。");
    }
    void aWrongPasswordChangesNothing() {
        QFETCH(QString, old);
        QFETCH(QString, next);
        QFETCH(QString, said);
        Env env;
        EnableWithCashier(env);
        const std::vector<JournalRow> before = AllJournalRows(env);
        const QStringList keys = Column(env, QStringLiteral("select publickey from Tsealkey"));
        QString why;
        QString print;
        QVERIFY(!ChangeOwnerPassword(*env.desk, Typed(old), Typed(next), &why, &print));
        QCOMPARE(why, said);
        QVERIFY(print.isEmpty());
        QCOMPARE(AllJournalRows(env).size(), before.size());
        QCOMPARE(Column(env, QStringLiteral("select publickey from Tsealkey")), keys);
        QVERIFY(CheckOwnerPassword(*env.desk, Typed(kOwnerPassword)));
    }

    // A backup from before accounts (its journal without the account columns, its schema at
    // version 1) restores into a database with sign-in on: its rows keep their old hashes and
    // the chain goes on with rows that carry the account.
    void aBackupFromBeforeAccountsRestores() {
        Env env;
        if (env.postgres()) QSKIP("a server's backups are pg_dump's; restoring one is a file's");
        const QString old = env.path(QStringLiteral("before-accounts.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), old);
            db.setDatabaseName(old);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const QString& statement : {
                     QStringLiteral("create table Tcount (username text, Tstart text, Tnow text, "
                                    "Stime text, Tmoney text, Tother text, Tsum text, gotime "
                                    "text, Cstate text default '无')"),
                     QStringLiteral("create table Tmoney (OneTime text, Tnight text)"),
                     QStringLiteral("insert into Tmoney values ('3', '12')"),
                     QStringLiteral(
                         "create table Tjournal (id integer primary key, at text not null, desk "
                         "text not null, operator text not null, kind text not null, machine text "
                         "not null, target text not null, tstart text not null, tend text not "
                         "null, stime text not null, tmoney text not null, tother text not null, "
                         "tsum text not null, state text not null, amount text not null, note "
                         "text not null, flagged integer not null, prev text not null, hash text "
                         "not null)"),
                     QStringLiteral("create table Tschema (version integer not null)"),
                     QStringLiteral("insert into Tschema values (1)")})
                QVERIFY2(q.exec(statement), qPrintable(q.lastError().text()));
            QString prev = JournalSeed();
            for (qint64 id = 1; id <= 2; ++id) {
                JournalRow row;
                row.id = id;
                row.at = QStringLiteral("2026-12-08 10:0%1:00").arg(id);
                row.desk = QStringLiteral("前台");
                row.operatorName = QStringLiteral("老王");
                row.entry.kind = JournalKind::ExtraCharge;
                row.entry.machine = QStringLiteral("pc");
                row.entry.amount = QString::number(id);
                row.prev = prev;
                row.version = 1;
                row.hash = JournalHash(row);
                prev = row.hash;
                q.prepare(QStringLiteral(
                    "insert into Tjournal values (?, ?, ?, ?, ?, ?, '', '', '', '', '', '', '', "
                    "'', ?, '', 0, ?, ?)"));
                for (const QString& v : {QString::number(id), row.at, row.desk, row.operatorName,
                                         row.entry.kind, row.entry.machine, row.entry.amount,
                                         row.prev, row.hash})
                    q.addBindValue(v);
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(old);

        EnableWithCashier(env);
        QString why;
        QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr));
        QCOMPARE(SignIn(*env.desk, QStringLiteral("老板"), Typed(kOwnerPassword)).result,
                 SignInResult::Ok);
        env.prompts.answers = {true};
        QVERIFY2(RestoreBackup(*env.desk, old), qPrintable(env.prompts.take().join('\n')));
        std::vector<JournalRow> rows = AllJournalRows(env);
        QCOMPARE(rows.size(), size_t(3));
        QCOMPARE(rows[0].version, 1);
        QCOMPARE(rows[0].account, QString());
        QCOMPARE(rows[2].entry.kind, JournalKind::Restore);
        QCOMPARE(rows[2].version, 2);
        QCOMPARE(rows[2].account, FindAccount(*env.desk, QStringLiteral("老板"))->id);
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        // Accounts and the seal key stay: sign-in goes on, and the restored journal seals.
        QVERIFY(SignInOn(*env.desk));
        QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr));
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("5")),
                 ChargeOutcome::Added);
        const ChainCheck check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::Intact);
        QCOMPARE(check.seals, 1);
    }

    // A backup from before the owner's password changed would leave the new key without the
    // row that brought it in: refused, and nothing changes.
    void aBackupFromBeforeThePasswordChangeIsRefused() {
        Env env;
        if (env.postgres()) QSKIP("a server's backups are pg_dump's; restoring one is a file's");
        EnableWithCashier(env);
        const QString copy = env.path(QStringLiteral("before-change.db"));
        QString why;
        QVERIFY2(BackupDatabase(env.module->connectionName(), copy, &why), qPrintable(why));
        QVERIFY(ChangeOwnerPassword(*env.desk, Typed(kOwnerPassword),
                                    Typed(QStringLiteral("新的店主密码-2027")), &why, nullptr));
        const size_t rows = AllJournalRows(env).size();
        env.prompts.take();
        env.prompts.answers = {true};
        QVERIFY(!RestoreBackup(*env.desk, copy));
        const QStringList boxes = env.prompts.take();
        QVERIFY2(boxes.last().contains(QStringLiteral("改密码之前")), qPrintable(boxes.join('\n')));
        QCOMPARE(AllJournalRows(env).size(), rows);
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
    }

    // A seal row deleted plainly breaks the chain; one whose row was removed and the chain
    // rewritten after it is found by the desk that remembers its last row.
    void aRemovedLastSealIsFound() {
        Env env;
        EnableWithCashier(env);
        QString why;
        QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, nullptr, nullptr));
        const qint64 last = qint64(AllJournalRows(env).size());
        env.otherTool(QStringLiteral("delete from Tjournal where id=%1").arg(last));
        const ChainCheck check = VerifyJournal(*env.desk);
        QVERIFY(check.result != ChainCheck::Intact);
    }
};

QTEST_GUILESS_MAIN(AccountsTest)
#include "test_accounts.moc"

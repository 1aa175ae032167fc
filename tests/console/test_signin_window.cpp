#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPrintDialog>
#include <QTableWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QPushButton>
#include <QTest>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include "accounts/Accounts.h"
#include "accounts/Secret.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "widgets/Themed.h"
#include "console/TAddother.h"
#include "console/TForm1.h"
#include "console/TPlanEditor.h"
#include "console/TReport.h"
#include "console/TSettings.h"
#include "console/TSignIn.h"
#include "console/Tadduser.h"
#include "ledger/Journal.h"
#include "plans/Plans.h"
#include "support/AccountFixtures.h"
#include "support/LedgerFixtures.h"
#include "support/TestPlan.h"

// Operators who sign in, through the window: the cover, the lock, and what a cashier may not
// do without the owner's password.
namespace {

const QString kOwnerPassword = QStringLiteral("owner-password-1");
const QString kPin = QStringLiteral("2468");

void TurnOn(Env& env) { TurnOnSignIn(env, kOwnerPassword, kPin); }

// A charge typed into 添加附加费 and 添  加 pressed.
void ChargeThroughDialog(TForm1& form, const QString& machine, const QString& amount) {
    form.action("N12")->trigger();
    TAddother* dialog = TAddother::Addother;
    dialog->FlatComboBox1->setCurrentText(machine);
    dialog->FlatEdit2->setText(amount);
    QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
}

void SignInThroughCover(TForm1& form, const QString& name, const QString& pin) {
    TSignIn* cover = form.SignInCover;
    cover->NameBox->setCurrentIndex(cover->NameBox->findData(name));
    cover->PinEdit->setText(pin);
    QTest::mouseClick(cover->SignInButton, Qt::LeftButton);
}

// 设置 opened by the owner signed in, once the start's check beside the window is done.
TSettings* SettingsAsOwner(Env& env, TForm1& form) {
    SignInThroughCover(form, QStringLiteral("老板"), kOwnerPassword);
    if (!QTest::qWaitFor([&] { return !env.desk->BackgroundBusy(); })) return nullptr;
    form.action("N7")->trigger();
    return TSettings::settings;
}

int RowsOf(Env& env, const QString& kind) {
    QSqlQuery q(QSqlDatabase::database(env.module->connectionName(), false));
    q.prepare(QStringLiteral("select count(*) from Tjournal where kind=? and account<>'' and "
                             "approver<>''"));
    q.addBindValue(kind);
    return q.exec() && q.next() ? q.value(0).toInt() : -1;
}

}  // namespace

class SignInWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // Off: the described start, with no cover, no lock entry and no box.
    void offTheWindowIsAsItWas() {
        Env env;
        TForm1 form(*env.desk);
        QVERIFY(!form.Locked());
        QVERIFY(!form.action("N72")->isVisible());
        QVERIFY(form.action("N27")->isEnabled());
        QTRY_VERIFY(!env.desk->BackgroundBusy());
        QCOMPARE(env.prompts.take(), QStringList());
    }

    void signInAtStartRightAndWrong() {
        Env env;
        TurnOn(env);
        TForm1 form(*env.desk);
        QVERIFY(form.Locked());
        QVERIFY(form.action("N72")->isVisible());
        QCOMPARE(form.SignInCover->PinEdit->echoMode(), QLineEdit::Password);
        // Nothing takes commands beneath the cover.
        for (const char* name : {"N27", "N28", "N7", "N70", "N72"})
            QVERIFY2(!form.action(name)->isEnabled(), name);
        SignInThroughCover(form, QStringLiteral("小王"), QStringLiteral("1357"));
        QVERIFY(form.Locked());
        QCOMPARE(form.SignInCover->MessageLabel->text(), QStringLiteral("PIN不对，请再输一次。"));
        QVERIFY(form.SignInCover->PinEdit->text().isEmpty());
        // Enter on an empty field twice: said, and no try used, no row written.
        const auto failures = [&] {
            int n = 0;
            for (const JournalRow& row : AllJournalRows(env))
                n += row.entry.kind == JournalKind::SignInFailed;
            return n;
        };
        QCOMPARE(failures(), 1);
        for (int i = 0; i < 2; ++i) SignInThroughCover(form, QStringLiteral("小王"), QString());
        QCOMPARE(form.SignInCover->MessageLabel->text(), QStringLiteral("请先输入PIN或店主密码。"));
        QCOMPARE(failures(), 1);
        SignInThroughCover(form, QStringLiteral("小王"), kPin);
        QVERIFY(!form.Locked());
        QVERIFY(form.action("N27")->isEnabled());
        QVERIFY(!form.action("N6")->isEnabled());  // what was off before stays off
        QVERIFY(form.DatabaseLabel->text().contains(QStringLiteral("操作员：小王")));
        // Ctrl+L's entry locks again, and nobody is signed in then.
        form.action("N72")->trigger();
        QVERIFY(form.Locked());
        QVERIFY(env.desk->accountId.isEmpty());
    }

    // Idle minutes lock the window; the passes beneath go on.
    void idleLockKeepsThePassesRunning() {
        Env env;
        TurnOn(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
        TForm1 form(*env.desk);
        SignInThroughCover(form, QStringLiteral("小王"), kPin);
        QCOMPARE(form.IdleTimer->interval(), 10 * 60000);  // the default
        QVERIFY(form.IdleTimer->isActive());
        form.IdleTimer->start(20);
        QTRY_VERIFY(form.Locked());
        env.clock.time = QTime(10, 30, 0);
        form.Timer2Timer();  // the billing pass, as its tick runs it
        QTRY_COMPARE(env.field(QStringLiteral("pc"), QStringLiteral("Stime")),
                     QStringLiteral("1时30分"));
        QVERIFY(form.Locked());
    }

    // A new idle time saved in 设置 holds from that moment, not from the next sign-in.
    void aNewIdleTimeHoldsAtOnce() {
        Env env;
        TurnOn(env);
        TForm1 form(*env.desk);
        TSettings* settings = SettingsAsOwner(env, form);
        QVERIFY(settings && settings->isVisible());
        settings->IdleMinutesBox->setValue(3);
        QTest::mouseClick(settings->IdleSaveButton, Qt::LeftButton);
        QCOMPARE(form.IdleTimer->interval(), 3 * 60000);
        QVERIFY(form.IdleTimer->isActive());
        settings->IdleMinutesBox->setValue(0);  // never locks
        QTest::mouseClick(settings->IdleSaveButton, Qt::LeftButton);
        QVERIFY(!form.IdleTimer->isActive());
        QCOMPARE(env.prompts.take(), QStringList());
    }

    // Each owner-only action: refused for a cashier without the password, done with it, and
    // then journalled with both names. Everyday work (a positive charge) asks nobody.
    void ownerOnlyActions_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("password");
        for (const char* action :
             {"设置", "负数附加费", "删除上机中的机器", "导出报表", "价格方案", "机器区域"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, refused").arg(QString::fromUtf8(action))))
                << QString::fromUtf8(action) << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, allowed").arg(QString::fromUtf8(action))))
                << QString::fromUtf8(action) << true;
        }
        QTest::newRow("附加费, nobody asked") << QStringLiteral("附加费") << false;
        QTest::newRow("导出报表, cancelled at the file") << QStringLiteral("导出报表, cancelled") << true;
    }
    void ownerOnlyActions() {
        QFETCH(QString, action);
        QFETCH(bool, password);
        Env env;
        TurnOn(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"), QStringLiteral("5"));
        if (action == QStringLiteral("机器区域")) {  // a plan to choose a zone of
            PlanProblem problem;
            QString why;
            QVERIFY(SavePlan(*env.desk, *PlanFromJson(kTestPlan, &problem), {}, &why));
        }
        TForm1 form(*env.desk);
        SignInThroughCover(form, QStringLiteral("小王"), kPin);
        QTRY_VERIFY(!env.desk->BackgroundBusy());
        env.prompts.take();
        env.prompts.secrets.push_back(password ? kOwnerPassword : QStringLiteral("a-guess-123"));
        env.prompts.answers.push_back(true);  // 你真的要删除吗?
        env.chooser.saveAnswer = env.path(QStringLiteral("report.csv"));
        TSettings::settings = nullptr;
        bool done = false;
        if (action == QStringLiteral("设置")) {
            form.action("N7")->trigger();
            done = TSettings::settings && TSettings::settings->isVisible();
            if (done) {  // what the window then does is approved too
                TSettings::settings->HourlyEdit->setText(QStringLiteral("3"));
                QTest::mouseClick(TSettings::settings->SaveButton, Qt::LeftButton);
                QCOMPARE(RowsOf(env, JournalKind::PriceChange), 1);
            }
        } else if (action == QStringLiteral("价格方案")) {
            // The plan's window goes on with the approval 设置 was opened with.
            form.action("N7")->trigger();
            if (TSettings::settings && TSettings::settings->isVisible()) {
                QTest::mouseClick(TSettings::settings->PlanButton, Qt::LeftButton);
                TPlanEditor::planEditor->PlanText->setPlainText(QString::fromUtf8(kTestPlan));
                QTest::mouseClick(TPlanEditor::planEditor->SaveButton, Qt::LeftButton);
                done = RowsOf(env, JournalKind::PlanChange) == 1;
                delete TPlanEditor::planEditor;
            }
        } else if (action == QStringLiteral("机器区域")) {
            form.action("N3")->trigger();
            Tadduser* dialog = Tadduser::adduser;
            for (int i = 1; i < dialog->FlatListBox1->count(); ++i)
                dialog->FlatListBox1->setSelected(
                    i, dialog->FlatListBox1->text(i) == QStringLiteral("pc"));
            dialog->ZoneCombo->setCurrentIndex(1);
            emit dialog->ZoneCombo->activated(1);
            done = MachineZoneNow(*env.desk, QStringLiteral("pc")) == QStringLiteral("电竞区");
            // Refused, the box shows the zone the machine is still in.
            QCOMPARE(dialog->ZoneCombo->currentIndex(), done ? 1 : 0);
            if (done) QCOMPARE(RowsOf(env, JournalKind::PlanChange), 1);
        } else if (action == QStringLiteral("负数附加费")) {
            ChargeThroughDialog(form, QStringLiteral("pc"), QStringLiteral("-2"));
            done = env.field(QStringLiteral("pc"), QStringLiteral("Tother")) == QStringLiteral("3");
        } else if (action == QStringLiteral("附加费")) {
            ChargeThroughDialog(form, QStringLiteral("pc"), QStringLiteral("2"));
            done = env.field(QStringLiteral("pc"), QStringLiteral("Tother")) == QStringLiteral("7");
        } else if (action == QStringLiteral("删除上机中的机器")) {
            form.action("N3")->trigger();
            Tadduser* dialog = Tadduser::adduser;
            for (int i = 1; i < dialog->FlatListBox1->count(); ++i)
                dialog->FlatListBox1->setSelected(
                    i, dialog->FlatListBox1->text(i) == QStringLiteral("pc"));
            QTest::mouseClick(dialog->FlatButton2, Qt::LeftButton);
            done = env.count(QStringLiteral("username='pc'")) == 0;
        } else {
            // Cancelled at the file dialog: nobody is asked and no approval is journalled.
            const bool cancelled = action.endsWith(QStringLiteral("cancelled"));
            if (cancelled) env.chooser.saveAnswer.reset();
            form.action("N70")->trigger();
            QTest::mouseClick(TReport::report->CsvButton, Qt::LeftButton);
            done = QFile::exists(env.path(QStringLiteral("report.csv")));
            if (cancelled) {
                QVERIFY(!done);
                QCOMPARE(env.prompts.take().filter(QStringLiteral("secret|")).size(), 0);
                QCOMPARE(RowsOf(env, JournalKind::Approval), 0);
                return;
            }
        }
        const bool everyday = action == QStringLiteral("附加费");
        QCOMPARE(done, password || everyday);
        const QStringList boxes = env.prompts.take();
        QVERIFY2(boxes.filter(QStringLiteral("secret|")).size() == (everyday ? 0 : 1),
                 qPrintable(boxes.join('\n')));
        QCOMPARE(RowsOf(env, JournalKind::Approval), password ? 1 : 0);
        if (password && action == QStringLiteral("负数附加费"))
            QCOMPARE(RowsOf(env, JournalKind::ExtraCharge), 1);  // the charge's row has both
        if (password && action == QStringLiteral("删除上机中的机器"))
            QCOMPARE(RowsOf(env, JournalKind::DeletedInSession), 1);
    }

    // Saving, printing and reprinting a past bill are owner-only too: without the password no
    // file is written and no print dialog opens.
    void printingAsksForTheOwner_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("password");
        for (const char* action : {"存为PDF", "打印报表", "补打小票"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, refused").arg(QString::fromUtf8(action))))
                << QString::fromUtf8(action) << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, allowed").arg(QString::fromUtf8(action))))
                << QString::fromUtf8(action) << true;
        }
    }
    void printingAsksForTheOwner() {
        QFETCH(QString, action);
        QFETCH(bool, password);
        Env env;
        TurnOn(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"), QStringLiteral("5"));
        env.resolver.table.insert(QStringLiteral("pc"), 0x7F000001);
        TForm1 form(*env.desk);
        SignInThroughCover(form, QStringLiteral("小王"), kPin);
        QTRY_VERIFY(!env.desk->BackgroundBusy());
        QVERIFY(CheckOut(*env.desk, QStringLiteral("pc")));
        form.action("N70")->trigger();
        TReport* report = TReport::report;
        QVERIFY(report);
        QCOMPARE(report->BillsTable->rowCount(), 1);
        report->BillsTable->setCurrentCell(0, 0);
        env.prompts.take();
        env.prompts.secrets.push_back(password ? kOwnerPassword : QStringLiteral("a-guess-123"));
        env.chooser.saveAnswer = env.path(QStringLiteral("day.pdf"));
        int printDialogs = 0;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, &closer, [&] {
            if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
                ++printDialogs;
                dialog->reject();
            }
        });
        closer.start();
        QPushButton* button = action == QStringLiteral("存为PDF")   ? report->PdfButton
                              : action == QStringLiteral("打印报表") ? report->PrintButton
                                                                     : report->ReceiptButton;
        QTest::mouseClick(button, Qt::LeftButton);
        const bool done = action == QStringLiteral("存为PDF")
                              ? QFile::exists(*env.chooser.saveAnswer)
                              : printDialogs == 1;
        QCOMPARE(done, password);
        const QStringList boxes = env.prompts.take();
        QVERIFY2(boxes.filter(QStringLiteral("secret|")).size() == 1, qPrintable(boxes.join('\n')));
        QCOMPARE(RowsOf(env, JournalKind::Approval), password ? 1 : 0);
    }

    // The owner changes the password in 设置 with the old one; the new key's fingerprint is
    // shown once, and the old password opens nothing any more.
    void theOwnerChangesThePassword() {
        Env env;
        TurnOn(env);
        TForm1 form(*env.desk);
        TSettings* settings = SettingsAsOwner(env, form);
        QVERIFY(settings && settings->isVisible());
        env.prompts.take();
        const QString next = QStringLiteral("owner-password-2");
        const auto change = [&](const QString& old) {
            QListWidget* list = settings->AccountList;
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->data(Qt::UserRole).toString() == QStringLiteral("老板"))
                    list->setCurrentRow(i);
            settings->PinEdit->setText(next);
            settings->PinAgainEdit->setText(next);
            env.prompts.secrets.push_back(old);
            QTest::mouseClick(settings->ResetPinButton, Qt::LeftButton);
            return env.prompts.take();
        };
        QCOMPARE(change(QStringLiteral("a-guess-123")),
                 (QStringList{QStringLiteral("secret|修改店主密码要原来的店主密码："),
                              QStringLiteral("message|原来的店主密码不对，密码没有改。")}));
        const QStringList boxes = change(kOwnerPassword);
        QCOMPARE(boxes.size(), 2);
        QVERIFY(settings->PinEdit->text().isEmpty());
        const ChainCheck check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::Intact);
        QCOMPARE(check.keyHistory.size(), 2);
        QVERIFY2(boxes[1].contains(QStringLiteral("新的封账公钥指纹：") + check.keyFingerprint),
                 qPrintable(boxes[1]));
        QVERIFY(!CheckOwnerPassword(*env.desk, Typed(kOwnerPassword)));
        QVERIFY(CheckOwnerPassword(*env.desk, Typed(next)));
    }

    // 核对全部记录 holds the seals to the key this desk saw, as the start does: seals all made
    // again with another key verify, and only the fingerprint tells.
    void theFullCheckTellsOfAReplacedSealKey() {
        Env env;
        TurnOn(env);
        env.addSession(QStringLiteral("pc"), QStringLiteral("9:00:00"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("1"));
        QString why;
        QString fingerprint;
        JournalMark sealed;
        QVERIFY(SealJournal(*env.desk, Typed(kOwnerPassword), &why, &sealed, &fingerprint));
        TReport report(*env.desk, nullptr);
        const auto fullCheck = [&]() -> QStringList {
            env.prompts.take();
            QTest::mouseClick(report.VerifyButton, Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return report.VerifyButton->isEnabled(); }))
                return {QStringLiteral("the check never came back")};
            return env.prompts.take();
        };
        QCOMPARE(fullCheck(),
                 QStringList{QStringLiteral("message|全部营业记录核对完毕，没有发现改动；1次店主封账都对得上，"
                                            "公钥指纹 %1。")
                                 .arg(fingerprint)});

        ResignSeal(env, sealed, ReplaceSealKey(env));
        env.settings->setValue(env.desk->PerDatabaseKey(QStringLiteral("journalHead")), {});
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        const QStringList boxes = fullCheck();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(QStringLiteral("公钥变了")) && boxes[0].contains(fingerprint),
                 qPrintable(boxes[0]));
        // Said again at the next check: the forged key is never taken as seen.
        QCOMPARE(fullCheck(), boxes);
    }
};

int runSignInWindowTest(int argc, char** argv) {
    SignInWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_signin_window.moc"

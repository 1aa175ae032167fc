#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "billing/SessionStart.h"
#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "console/TForm1.h"
#include "console/TReport.h"
#include "console/Tinformation.h"
#include "ledger/Report.h"
#include "printing/Receipt.h"
#include "widgets/Themed.h"
#include "console/TPackageChoice.h"
#include "packages/Packages.h"
#include "plans/Plans.h"
#include "ledger/Journal.h"
#include "support/LedgerFixtures.h"

// 上机 with packages on sale: the choice, Return keeping the described start.
namespace {

const QByteArray kPlan = R"({"zones": [{"name": "普通区", "rates": [{"days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "from": "00:00", "to": "24:00", "hourly": "3"}]}], "holidays": [], "machines": {}})";

const QByteArray kCatalogue = R"({"packages": [
  {"name": "三小时", "zones": ["普通区"], "kind": "length", "minutes": 180, "price": "10",
   "sell_days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "sell_from": "00:00",
   "sell_to": "24:00", "refund": "pro_rata"}]})";

void SellSomething(Env& env) {
    PlanProblem read;
    QString why;
    QVERIFY(SavePlan(*env.desk, *PlanFromJson(kPlan, &read), {}, &why));
    QVERIFY(SaveCatalogue(*env.desk, *CatalogueFromJson(kCatalogue, &why), {QStringLiteral("普通区")}, &why));
}

// Answers the choice when it opens: row, then Return.
void Answer(int row) {
    QTimer::singleShot(0, [row] {
        auto* choice = qobject_cast<TPackageChoice*>(QApplication::activeModalWidget());
        if (!choice) qFatal("no package choice open");
        if (row >= 0) choice->List->setCurrentRow(row);
        QTest::keyClick(choice, row == -2 ? Qt::Key_Escape : Qt::Key_Return);
    });
}

bool HoldsPackage(Env& env) {
    bool failed = false;
    return RunningPackage(*env.desk, QStringLiteral("127.0.0.1"), &failed).has_value();
}

}  // namespace

class PackageWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void withoutPackagesNothingNewIsShown() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        TForm1 form(*env.desk);
        env.prompts.take();
        env.desk->RefreshSessionGrid();
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(),
                 (QStringList{QStringLiteral("message|上机"), QStringLiteral("message|127.0.0.1")}));
        QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")), QStringLiteral("正常"));
    }

    // 营业报表 shows the packages' tab and the cash taken only once a package is sold; the PDF
    // lists them too.
    void theReportShowsPackagesOnceSold() {
        Env env;
        SellSomething(env);
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.resolver.table.insert(QStringLiteral("127.0.0.1"), 0x7F000001);
        TForm1 form(*env.desk);
        {
            TReport before(*env.desk, &form);
            QVERIFY(!before.Tabs->isTabVisible(before.Tabs->indexOf(before.PackageTable)));
            QCOMPARE(before.TotalLabel->text(), QStringLiteral("合计：0.00 元，共 0 笔结账"));
        }
        QVERIFY(SellPackage(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("三小时"),
                            SaleContextFor(*env.desk, QStringLiteral("127.0.0.1"))));
        env.prompts.take();
        TReport dialog(*env.desk, &form);
        QVERIFY(dialog.Tabs->isTabVisible(dialog.Tabs->indexOf(dialog.PackageTable)));
        QCOMPARE(dialog.PackageTable->rowCount(), 1);
        QCOMPARE(dialog.PackageTable->item(0, 0)->text(), QStringLiteral("包时售出"));
        QCOMPARE(dialog.PackageTable->item(0, 2)->text(), QStringLiteral("10.00"));
        QCOMPARE(dialog.TotalLabel->text(),
                 QStringLiteral("合计：0.00 元，共 0 笔结账；包时 10.00 元，现金合计 10.00 元"));
        env.chooser.saveAnswer = env.path(QStringLiteral("day.pdf"));
        QTest::mouseClick(dialog.PdfButton, Qt::LeftButton);
        env.prompts.take();
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        QVERIFY2(!tool.isEmpty(), "pdftotext is needed (poppler-utils)");
        QProcess text;
        text.start(tool, {*env.chooser.saveAnswer, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        const QString pdf = QString::fromUtf8(text.readAllStandardOutput());
        for (const char* line : {"包时售出", "包时合计", "现金合计"})
            QVERIFY2(pdf.contains(QString::fromUtf8(line)), line);
    }

    void returnKeepsTheDescribedStart_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("sold");
        QTest::newRow("Return") << -1 << "正常" << false;
        QTest::newRow("a package") << 1 << "正常" << true;
        QTest::newRow("Escape") << -2 << "无" << false;
    }
    void returnKeepsTheDescribedStart() {
        QFETCH(int, row);
        QFETCH(QString, state);
        QFETCH(bool, sold);
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        TForm1 form(*env.desk);
        SellSomething(env);
        env.prompts.take();
        env.desk->RefreshSessionGrid();
        Answer(row);
        StartCommand(*env.desk);
        QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")), state);
        QCOMPARE(HoldsPackage(env), sold);
        QCOMPARE(env.prompts.take().contains(QStringLiteral("message|上机")), row == -1);
    }

    // The pop-up's 包时 on a machine in a session: buy, extend by minutes, void; each button's
    // box and the label the operator reads after it.
    void thePackageDeskBuysExtendsAndVoids() {
        Env env;
        TForm1 form(*env.desk);
        SellSomething(env);
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("9:00:00"));
        env.clock.date = QDate(2026, 12, 11);
        env.clock.time = QTime(14, 0);
        env.prompts.take();
        TPackageDesk desk(*env.desk, QStringLiteral("127.0.0.1"), &form);
        QCOMPARE(desk.Current->text(), QStringLiteral("该机没有包时。"));
        QVERIFY(!desk.Void->isEnabled());
        QCOMPARE(desk.List->item(0)->text(), QStringLiteral("三小时　3小时　10元"));
        desk.List->setCurrentRow(0);
        desk.Buy->click();
        QCOMPARE(desk.Current->text(),
                 QStringLiteral("当前包时：三小时（3小时），14:00 售出，到 12月11日 17:00 结束，已收 10 元。"));
        QCOMPARE(desk.List->item(0)->text(), QStringLiteral("三小时　3小时　10元（本机已有包时）"));
        QVERIFY(!desk.Buy->isEnabled());
        desk.Minutes->setValue(30);
        desk.Money->setText(QStringLiteral("2.5"));
        desk.ExtendByMinutes->click();
        QCOMPARE(desk.Current->text(),
                 QStringLiteral("当前包时：三小时（3小时），14:00 售出，到 12月11日 17:30 结束，已收 12.5 元。"));
        desk.Void->click();  // no reason: nothing happens but the box
        QVERIFY(HoldsPackage(env));
        desk.Reason->setText(QStringLiteral("客人不要了"));
        desk.Void->click();
        QCOMPARE(desk.Current->text(), QStringLiteral("该机没有包时。"));
        QCOMPARE(env.prompts.take(),
                 (QStringList{QStringLiteral("message|已售出“三小时”，收款 10 元，到 12月11日 17:00:00 结束。"),
                              QStringLiteral("message|机器“127.0.0.1”的包时“三小时”已续30分钟，收款 2.5 元，到 12月11日 17:30:00 结束。"),
                              QStringLiteral("message|作废包时要写明原因。"),
                              QStringLiteral("message|已作废机器“127.0.0.1”的包时“三小时”，退还 12.5 元；该机从上机时起按时计费。")}));
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageVoid), 1);
    }

    // Return in the 包时 dialog does what the field with the focus is for, never the first
    // money button: the list buys, minutes and money extend, a reason voids; Escape closes.
    void thePackageDeskTakesReturnFromItsFields() {
        Env env;
        TForm1 form(*env.desk);
        SellSomething(env);
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("9:00:00"));
        env.clock.date = QDate(2026, 12, 11);
        env.clock.time = QTime(14, 0);
        env.prompts.take();
        TPackageDesk desk(*env.desk, QStringLiteral("127.0.0.1"), &form);
        desk.show();
        desk.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&desk));
        desk.Money->setFocus();
        QTest::keyClick(desk.Money, Qt::Key_Return);  // no package yet: nothing is sold
        QVERIFY(!HoldsPackage(env));
        desk.List->setCurrentRow(0);
        desk.List->setFocus();
        QTest::keyClick(desk.List, Qt::Key_Return);
        QVERIFY(HoldsPackage(env));
        desk.Money->setText(QStringLiteral("2.5"));
        desk.Money->setFocus();
        QTest::keyClick(desk.Money, Qt::Key_Return);
        QVERIFY(desk.Current->text().contains(QStringLiteral("已收 12.5 元")));
        desk.Reason->setText(QStringLiteral("卖错了"));
        desk.Reason->setFocus();
        QTest::keyClick(desk.Reason, Qt::Key_Return);
        QVERIFY(!HoldsPackage(env));
        QCOMPARE(env.prompts.take(),
                 (QStringList{QStringLiteral("message|已售出“三小时”，收款 10 元，到 12月11日 17:00:00 结束。"),
                              QStringLiteral("message|机器“127.0.0.1”的包时“三小时”已续60分钟，收款 2.5 元，到 12月11日 18:00:00 结束。"),
                              QStringLiteral("message|已作废机器“127.0.0.1”的包时“三小时”，退还 12.5 元；该机从上机时起按时计费。")}));
        QTest::keyClick(desk.Reason, Qt::Key_Escape);
        QVERIFY(!desk.isVisible());
    }

    // 下机 of a package session: what was paid up front, what is still due and the refund in
    // the dialog; the receipt lists the package and the refund.
    void theBillAndTheReceiptListThePackage() {
        Env env;
        TForm1 form(*env.desk);
        SellSomething(env);
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("13:00:00"));
        env.clock.date = QDate(2026, 12, 11);
        env.clock.time = QTime(14, 0);
        QVERIFY(SellPackage(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("三小时"),
                            SaleContextFor(*env.desk, QStringLiteral("127.0.0.1"))));
        env.clock.time = QTime(15, 0, 30);
        BillingPass(*env.desk);
        env.desk->RefreshSessionGrid();
        env.prompts.take();
        Tinformation dialog(*env.desk, nullptr);
        dialog.ShowRow(0);
        // An hour before the package at 3; 119 unused minutes of 180 give back 6.6.
        QCOMPARE(dialog.PackageLine->text(), QStringLiteral("包时“三小时”预付 10 元，还应付 3 元，退还 6.6 元"));
        dialog.DetailButton->click();
        QVERIFY(env.prompts.take().join(QString()).endsWith(dialog.PackageLine->text()));
        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        const std::optional<Report> report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report && report->bills.size() == 1);
        const QStringList receipt = ReceiptText(report->bills[0], {QStringLiteral("青岚网吧"), {}, false, ReceiptPaper::Roll58});
        const QString text = receipt.join(QLatin1Char('\n'));
        QVERIFY2(text.contains(QStringLiteral("包时“三小时”\t10")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("包时退款\t-6.6")), qPrintable(text));
    }
};

int runPackageWindowTest(int argc, char** argv) {
    PackageWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_package_window.moc"

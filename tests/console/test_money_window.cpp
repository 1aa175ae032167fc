#include <QAction>
#include <QDateEdit>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "console/TForm1.h"
#include "console/TReport.h"
#include "console/TShift.h"
#include "ledger/CafeName.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "ledger/Shifts.h"
#include "support/Fixtures.h"

// 交班 and 营业报表 through their windows.
namespace {

void settle(Env& env, const QString& machine, const QString& total) {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, '9:0:0', '9:30:0', '0时30分', '1.3元', "
                           "'0', ?, '', '正常')"),
            {machine, total});
    env.resolver.table.insert(machine, 0x7F000001);
    env.desk->RefreshSessionGrid();
    if (!CheckOut(*env.desk, machine)) qFatal("checkout failed");
    env.sql(QStringLiteral("delete from Tcount where username=?"), {machine});
    env.prompts.take();
}

// Page objects in a PDF file ("/Type /Page", not "/Pages").
int pdfPages(const QByteArray& pdf) {
    int pages = 0;
    for (qsizetype at = pdf.indexOf("/Type /Page"); at >= 0;
         at = pdf.indexOf("/Type /Page", at + 1))
        if (pdf.mid(at + 11, 1) != "s") ++pages;
    return pages;
}

}  // namespace

class MoneyWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void anAlteredJournalIsShownAtStart_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("names");
        // The start checks from the last row it verified (here this desk's last row) on.
        QTest::newRow("a row edited") << QStringLiteral("update Tjournal set amount='60' where id=2")
                                      << QStringLiteral("message|营业记录已被改动")
                                      << QStringLiteral("第2条");
        // A backup copied back by hand, or a power cut: said as what it is, with the time.
        QTest::newRow("the newest row gone")
            << QStringLiteral("delete from Tjournal where id=2")
            << QStringLiteral("message|数据库中的营业记录比本机写入的少")
            << QStringLiteral("在 2026-12-09 10:00:00 写入了第2条记录，数据库中现在只有1条");
    }
    void anAlteredJournalIsShownAtStart() {
        QFETCH(QString, statement);
        QFETCH(QString, box);
        QFETCH(QString, names);
        Env env;
        env.addMachine(QStringLiteral("pc"), QStringLiteral("通宵"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("5"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("6"));
        env.prompts.take();
        {
            TForm1 intact(*env.desk);
            QTRY_VERIFY(!env.desk->BackgroundBusy());  // the check runs beside the window
            QCoreApplication::processEvents();
            QCOMPARE(env.prompts.take(), QStringList());  // nothing new appears at start
        }
        env.sql(statement);
        TForm1 form(*env.desk);
        QTRY_COMPARE(env.prompts.boxes.size(), 1);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(box), qPrintable(boxes[0]));
        QVERIFY2(boxes[0].contains(names), qPrintable(boxes[0]));
    }

    // A row before the last verified one waits for the whole chain, checked once a week.
    void olderRowsAreTheWeeklyChecks() {
        Env env;
        env.addMachine(QStringLiteral("pc"), QStringLiteral("通宵"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("5"));
        AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("6"));
        env.prompts.take();
        const auto start = [&] {
            TForm1 form(*env.desk);
            [&] { QTRY_VERIFY(!env.desk->BackgroundBusy()); }();  // the check runs beside
            QCoreApplication::processEvents();
            return env.prompts.take();
        };
        QCOMPARE(start(), QStringList());  // the first start checks the whole chain: intact
        env.sql(QStringLiteral("update Tjournal set amount='50' where id=1"));
        QCOMPARE(start(), QStringList());  // before the verified row: not read at start
        env.clock.date = env.clock.date.addDays(7);  // a week on: the whole chain
        const QStringList boxes = start();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(QStringLiteral("第1条")), qPrintable(boxes[0]));
    }

    // The report reads its days and says a break in a box, as at start, besides marking it.
    void aBrokenChainInTheReportIsABox() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("1"));
        settle(env, QStringLiteral("pc2"), QStringLiteral("2"));
        env.sql(QStringLiteral("update Tjournal set tsum='20' where id=2"));
        TForm1 form(*env.desk);
        QTRY_VERIFY(!env.desk->BackgroundBusy());
        QCoreApplication::processEvents();
        env.prompts.take();  // the start's own box
        form.action("N70")->trigger();
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(QStringLiteral("message|营业记录已被改动")), qPrintable(boxes[0]));
        QVERIFY(boxes[0].contains(QStringLiteral("第2条")));
        QVERIFY(TReport::report->ChainLabel->isVisible());
    }

    void theOperatorOnDutyComesBackAtStart() {
        Env env;
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("100")));
        env.desk->operatorName.clear();  // as after a restart
        TForm1 form(*env.desk);
        QCOMPARE(env.desk->operatorName, QStringLiteral("小王"));
    }

    void blindCountShowsTheExpectedCashOnlyAfterTheCount() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N71")->trigger();
        TShift* dialog = TShift::shift;
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->OpenBox->isEnabled() && !dialog->CloseBox->isEnabled());
        dialog->OperatorEdit->setText(QStringLiteral("小王"));
        dialog->FloatEdit->setText(QStringLiteral("200"));
        QTest::mouseClick(dialog->OpenButton, Qt::LeftButton);
        QVERIFY(!dialog->OpenBox->isEnabled() && dialog->CloseBox->isEnabled());
        QVERIFY(dialog->CurrentLabel->text().contains(QStringLiteral("小王")));
        settle(env, QStringLiteral("pc1"), QStringLiteral("12.5"));

        // Nothing tells the operator what the drawer should hold before the count.
        QVERIFY(dialog->ExpectedLabel->text().isEmpty());
        QVERIFY(dialog->DifferenceLabel->text().isEmpty());
        QVERIFY(!dialog->CloseButton->isEnabled());
        dialog->CountedEdit->setText(QStringLiteral("210"));
        QTest::mouseClick(dialog->CountButton, Qt::LeftButton);
        QCOMPARE(dialog->ExpectedLabel->text(), QStringLiteral("212.50 元"));
        QCOMPARE(dialog->DifferenceLabel->text(), QStringLiteral("-2.50 元"));
        QVERIFY(dialog->CloseButton->isEnabled());
        // The count is recorded now: typing another one and counting again is a recount, shown
        // beside the first, which stands.
        QCOMPARE(dialog->CountButton->text(), QStringLiteral("复  点"));
        dialog->CountedEdit->setText(QStringLiteral("212.5"));
        QTest::mouseClick(dialog->CountButton, Qt::LeftButton);
        QVERIFY(env.prompts.take().last().contains(QStringLiteral("以它为准")));
        QCOMPARE(dialog->DifferenceLabel->text(), QStringLiteral("-2.50 元"));
        QTest::mouseClick(dialog->CloseButton, Qt::LeftButton);  // no note: refused
        QVERIFY(env.prompts.take().last().contains(QStringLiteral("备注")));
        QVERIFY(OpenShiftOf(*env.desk));
        dialog->NoteEdit->setText(QStringLiteral("给客人多找了钱"));
        QTest::mouseClick(dialog->CloseButton, Qt::LeftButton);
        QVERIFY(!OpenShiftOf(*env.desk));
        QVERIFY(dialog->OpenBox->isEnabled());  // ready for the next operator
        QCOMPARE(dialog->CountButton->text(), QStringLiteral("清点完毕"));
        QVERIFY(dialog->ExpectedLabel->text().isEmpty());
    }

    void reportWindowShowsAndExportsTheDay() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("0.1"));
        settle(env, QStringLiteral("pc2"), QStringLiteral("0.2"));
        TForm1 form(*env.desk);
        form.action("N70")->trigger();
        TReport* dialog = TReport::report;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->BillsTable->rowCount(), 2);
        QCOMPARE(dialog->TotalLabel->text(), QStringLiteral("合计：0.30 元，共 2 笔结账"));
        QVERIFY(dialog->ChainLabel->isHidden());

        env.chooser.saveAnswer = env.path(QStringLiteral("day.csv"));
        QTest::mouseClick(dialog->CsvButton, Qt::LeftButton);
        QCOMPARE(env.chooser.saveAsked, QStringList{QStringLiteral("营业报表-20261209.csv")});
        QFile csv(env.path(QStringLiteral("day.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll(), ReportCsv(*dialog->Shown()));
        QCOMPARE(env.prompts.take().size(), 1);  // where it went

        // A day without bills; a range the wrong way round.
        dialog->FromEdit->setDate(QDate(2026, 12, 1));
        dialog->ToEdit->setDate(QDate(2026, 12, 1));
        QTest::mouseClick(dialog->QueryButton, Qt::LeftButton);
        QCOMPARE(dialog->BillsTable->rowCount(), 0);
        dialog->ToEdit->setDate(QDate(2026, 11, 30));
        QTest::mouseClick(dialog->QueryButton, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|开始日期不能晚于结束日期。")});
    }

    // A busy month's list shows a page and reads on as it is scrolled to its end; the export
    // and the total count every bill, not only those shown.
    void aLongListIsReadAsItIsScrolled() {
        Env env;
        const int bills = kReportPage + 20;
        for (int i = 0; i < bills; ++i) {
            env.clock.time = QTime(8, 0).addSecs(60 * i);
            QVERIFY(AppendJournal(*env.desk, BillEntry(JournalKind::Checkout,
                                                       QStringLiteral("pc%1").arg(i % 40),
                                                       QStringLiteral("7:0:0"),
                                                       env.clock.time.toString(QStringLiteral("H:m:s")),
                                                       QStringLiteral("1时0分"), QStringLiteral("1"),
                                                       QStringLiteral("0"), QStringLiteral("1"),
                                                       QStringLiteral("正常"))));
        }
        TForm1 form(*env.desk);
        TReport dialog(*env.desk, &form);
        dialog.show();
        QCOMPARE(dialog.BillsTable->rowCount(), kReportPage);
        QCOMPARE(dialog.TotalLabel->text(),
                 QStringLiteral("合计：%1.00 元，共 %1 笔结账").arg(bills));
        QScrollBar* bar = dialog.BillsTable->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        QCOMPARE(dialog.BillsTable->rowCount(), bills);
        QCOMPARE(dialog.BillsTable->item(bills - 1, 1)->text(),
                 QStringLiteral("pc%1").arg((bills - 1) % 40));

        // Opened afresh: the export writes them all, without scrolling.
        TReport again(*env.desk, &form);
        QCOMPARE(again.BillsTable->rowCount(), kReportPage);
        env.chooser.saveAnswer = env.path(QStringLiteral("month.csv"));
        QTest::mouseClick(again.CsvButton, Qt::LeftButton);
        QFile csv(env.path(QStringLiteral("month.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(csv.readAll()).count(QStringLiteral("\r\n")), bills + 1);
        QCOMPARE(again.BillsTable->rowCount(), bills);
    }

    // The PDF button writes the printed report, headed with the café's name as set.
    void pdfButtonWritesTheReport_data() {
        QTest::addColumn<int>("bills");
        QTest::newRow("one bill") << 1;
        QTest::newRow("a busy day") << 150;
    }
    void pdfButtonWritesTheReport() {
        QFETCH(int, bills);
        Env env;
        for (int i = 0; i < bills; ++i)
            settle(env, QStringLiteral("pc%1").arg(i), QStringLiteral("3"));
        QVERIFY(SetCafeName(*env.desk, QStringLiteral("星空网吧")));
        TForm1 form(*env.desk);
        TReport dialog(*env.desk, &form);
        QCOMPARE(dialog.BillsTable->rowCount(), bills);
        env.chooser.saveAnswer = env.path(QStringLiteral("day.pdf"));
        QTest::mouseClick(dialog.PdfButton, Qt::LeftButton);
        QCOMPARE(
            env.prompts.take(),
            QStringList{QStringLiteral("message|报表已存为“%1”。").arg(*env.chooser.saveAnswer)});
        QFile pdf(*env.chooser.saveAnswer);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.startsWith("%PDF-"));
        QVERIFY(bytes.trimmed().endsWith("%%EOF"));
        if (bills == 1)
            QCOMPARE(pdfPages(bytes), 1);
        else
            QVERIFY(pdfPages(bytes) > 1);
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        QVERIFY2(!tool.isEmpty(), "pdftotext is needed (poppler-utils)");
        QProcess text;
        text.start(tool, {pdf.fileName(), QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(text.readAllStandardOutput())
                    .contains(QStringLiteral("星空网吧 营业报表")));
    }

    void aPdfThatCannotBeWrittenSaysSo() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        TForm1 form(*env.desk);
        TReport dialog(*env.desk, &form);
        env.chooser.saveAnswer = env.path(QStringLiteral("no-such-folder/day.pdf"));
        QTest::mouseClick(dialog.PdfButton, Qt::LeftButton);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("message|无法写入文件")));
    }
};

int runMoneyWindowTest(int argc, char** argv) {
    MoneyWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_money_window.moc"

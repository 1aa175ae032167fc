#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "billing/Checkout.h"
#include "billing/Messages.h"
#include "billing/Prices.h"
#include "console/ProgramName.h"
#include "console/QtSeams.h"
#include "console/TForm1.h"
#include "console/TReport.h"
#include "console/TSettings.h"
#include "console/TShift.h"
#include "ledger/CafeName.h"
#include "ledger/Shifts.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// How the windows look at their sizes, and the settings that change what is printed.
namespace {

int columnSum(const QTableView* grid) {
    int sum = 0;
    for (int c = 0; c < grid->model()->columnCount(); ++c) sum += grid->columnWidth(c);
    return sum;
}

// The line a character of rich text is laid out on, at a width.
int lineOf(QTextDocument& doc, int position) {
    const QTextBlock block = doc.findBlock(position);
    const QTextLine line = block.layout()->lineForTextPosition(position - block.position());
    return block.blockNumber() * 1000 + line.lineNumber();
}

}  // namespace

class LooksTest : public QObject {
    Q_OBJECT

  private slots:
    // The described widths at the described size; a maximised window's width goes to the
    // columns, a column the operator widened keeping its share.
    void theGridsColumnsUseTheWindowsWidth() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        TForm1 form(*env.desk);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QList<int> described{100, 60, 61, 60, 56, 50, 58, 58, 56};
        QList<int> widths;
        for (int c = 0; c < 9; ++c) widths << form.DBGrid1->columnWidth(c);
        QCOMPARE(widths, described);

        form.resize(1600, 1000);
        QTRY_VERIFY(form.DBGrid1->viewport()->width() > 1300);
        const int view = form.DBGrid1->viewport()->width();
        QVERIFY2(columnSum(form.DBGrid1) >= view - 110,
                 qPrintable(QString::number(columnSum(form.DBGrid1))));
        QVERIFY(columnSum(form.DBGrid1) <= view);
        QVERIFY(form.DBGrid1->columnWidth(5) > 50);
        QVERIFY(qAbs(form.DBGrid1->columnWidth(0) - 2 * form.DBGrid1->columnWidth(5)) <= 2);

        form.DBGrid1->horizontalHeader()->resizeSection(0, 400);  // the operator's drag
        form.resize(808, 582);
        QTRY_VERIFY(form.DBGrid1->viewport()->width() < 700);
        QVERIFY(form.DBGrid1->columnWidth(0) > 150);
        QCOMPARE(form.DBGrid1->columnWidth(1), 60);
    }

    // An hour below zero (a correction larger than its takings) draws nothing under the axis.
    void anHourBelowZeroDrawsNoBar() {
        HourChart chart;
        chart.resize(chart.sizeHint());
        std::array<qint64, 24> cents{};
        cents[5] = -500000;
        cents[6] = 100;
        chart.SetTakings(cents);
        const QImage image = chart.grab().toImage();
        const int bottom = chart.height() - 20;
        const double slot = (chart.width() - 20) / 24.0;
        const auto blueIn = [&](int hour, int fromY, int toY) {
            int blue = 0;
            const int x = 10 + int(hour * slot + slot / 2);
            for (int y = fromY; y < toY; ++y)
                blue += image.pixelColor(x, y) == QColor(58, 110, 165);
            return blue;
        };
        QCOMPARE(blueIn(5, 0, chart.height()), 0);
        QVERIFY(blueIn(6, 0, bottom) > 0);  // the positive hour still shows
    }

    void messageBoxTitlesAreNotCut_data() {
        QTest::addColumn<QString>("title");
        QTest::newRow("the program") << ProgramName;
        QTest::newRow("Confirm") << QStringLiteral("Confirm");
    }
    void messageBoxTitlesAreNotCut() {
        QFETCH(QString, title);
        QMessageBox box(QMessageBox::NoIcon, title, QStringLiteral("上机"), QMessageBox::Ok);
        const int bare = box.sizeHint().width();
        FitTitle(box);
        QVERIFY(box.sizeHint().width() >= TitleRoom(title));
        QVERIFY(TitleRoom(title) > QFontMetrics(box.font()).horizontalAdvance(title));
        QVERIFY(bare < TitleRoom(ProgramName));  // a short text alone made it narrower
    }

    void theShiftsHintShowsWhole() {
        Env env;
        TForm1 form(*env.desk);
        TShift shift(*env.desk, &form);
        shift.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shift));
        const QLineEdit* edit = shift.FloatEdit;
        QVERIFY(edit->width() >=
                edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + 12);
    }

    void aLocalFileIsNotBrokenInsideItsMark() {
        const QString text = QStringLiteral(
            "正在使用：/srv/网吧/数据/很长很长的文件夹名字/还有一层/count.db（本机文件）");
        QTextDocument doc;
        doc.setHtml(KeepParenthesesTogether(text));
        const QString plain = doc.toPlainText();
        QCOMPARE(plain, text);
        const int open = int(plain.indexOf(u'（'));
        const int close = int(plain.indexOf(u'）'));
        for (int width = 80; width <= 400; width += 7) {
            doc.setTextWidth(width);
            QCOMPARE(lineOf(doc, open), lineOf(doc, close));
        }
        QCOMPARE(KeepParenthesesTogether(QStringLiteral("a<b\nc")), QStringLiteral("a&lt;b<br>c"));
    }

    // The operator's sums: the amount always in sight, rows one line high, columns not cramped.
    void theReportsTablesShowTheirAmounts() {
        Env env;
        QVERIFY(OpenShift(*env.desk, QStringLiteral("值班员王小明的名字很长很长"),
                          QStringLiteral("100")));
        env.addSession(QStringLiteral("pc-with-a-rather-long-name"), QStringLiteral("9:0:0"),
                       QStringLiteral("12.5"));
        env.resolver.table.insert(QStringLiteral("pc-with-a-rather-long-name"), 0x7F000001);
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("pc-with-a-rather-long-name")));
        env.prompts.take();
        TForm1 form(*env.desk);
        TReport report(*env.desk, &form);
        report.resize(760, 520);
        report.show();
        report.Tabs->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&report));
        for (QTableWidget* table : {report.DayTable, report.ShiftTable, report.MachineTable}) {
            QCOMPARE(table->rowCount(), 1);
            const int amountRight = table->columnViewportPosition(1) + table->columnWidth(1);
            QVERIFY2(amountRight <= table->viewport()->width(),
                     qPrintable(table->item(0, 0)->text()));
            QVERIFY(table->columnWidth(1) >=
                    static_cast<QAbstractItemView*>(table)->sizeHintForColumn(1));
            QVERIFY(!table->horizontalScrollBar()->isVisible());
            QVERIFY(table->rowHeight(0) <= table->fontMetrics().height() * 8 / 5);
        }
        report.Tabs->setCurrentIndex(0);
        QTableWidget* bills = report.BillsTable;
        for (int c = 0; c + 1 < bills->columnCount(); ++c)
            QVERIFY2(bills->columnWidth(c) >=
                         static_cast<QAbstractItemView*>(bills)->sizeHintForColumn(c) + 8,
                     qPrintable(QString::number(c)));
        QVERIFY(bills->rowHeight(0) <= bills->fontMetrics().height() * 8 / 5);
        QCOMPARE(bills->item(0, 7)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));
    }

    // A new rate prices the running sessions again from their start: said before it is saved.
    void aNewRateSaysWhatItReprices_data() {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("stored");
        const QString question = QStringLiteral(
            "confirm|正在上机的 2 台机器将按新价格从上机时起重新计费。\n确定保存新价格吗？");
        const QString saved =
            QStringLiteral("message|价格已保存，下一次计费（30秒之内）起按新价格计算。");
        QTest::newRow("yes") << "3" << true << QStringList{question, saved} << "3";
        QTest::newRow("no") << "3" << false << QStringList{question} << "2";
        QTest::newRow("the same rate asks nothing") << "2.0" << false << QStringList{saved} << "2";
        QTest::newRow("not a price asks nothing")
            << "abc" << false
            << QStringList{QStringLiteral("message|") + BillingText::PriceRefused}
            << "2";
    }
    void aNewRateSaysWhatItReprices() {
        QFETCH(QString, rate);
        QFETCH(bool, answer);
        QFETCH(QStringList, boxes);
        QFETCH(QString, stored);
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"));
        env.addSession(QStringLiteral("b"), QStringLiteral("9:0:0"));
        env.addSession(QStringLiteral("night"), QStringLiteral("22:0:0"), QStringLiteral("10"),
                       QStringLiteral("通宵"));  // a flat price: not billed again
        env.addMachine(QStringLiteral("idle"));
        TForm1 form(*env.desk);
        TSettings settings(*env.desk, &form);
        settings.HourlyEdit->setText(rate);
        env.prompts.answers = {answer};
        QTest::mouseClick(settings.SaveButton, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), boxes);
        QCOMPARE(ReadPrices(*env.desk)->hourly, stored);
    }

    // The café's name is the database's, so every desk prints the same; the paper is the desk's.
    void theCafesNameAndTheReceiptPaper() {
        Env env;
        TForm1 form(*env.desk);
        TSettings settings(*env.desk, &form);
        QCOMPARE(settings.CafeNameEdit->text(), QStringLiteral("青岚网吧"));
        QCOMPARE(TSettings::Paper(*env.desk), ReceiptPaper::Roll58);
        settings.CafeNameEdit->setText(QStringLiteral("  星空网吧 "));
        settings.PaperCombo->setCurrentIndex(settings.PaperCombo->findData(QStringLiteral("80")));
        settings.CafeNameEdit->setFocus();
        QTest::mouseClick(settings.CafeButton, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{
                     QStringLiteral("message|已保存：网吧名称“星空网吧”，小票纸 80 毫米小票纸。")});
        QCOMPARE(TSettings::Paper(*env.desk), ReceiptPaper::Roll80);

        SecondDesk other(env.connectionText(), env.path(QStringLiteral("second")),
                         QStringLiteral("前台二"), env.client.port());
        QCOMPARE(CafeName(*other.desk), QStringLiteral("星空网吧"));
        QCOMPARE(TSettings::Paper(*other.desk), ReceiptPaper::Roll58);  // its own printer

        settings.CafeNameEdit->setText(QStringLiteral("   "));
        QTest::mouseClick(settings.CafeButton, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|网吧名称不能为空，未保存。")});
        QCOMPARE(CafeName(*env.desk), QStringLiteral("星空网吧"));
    }
};

int runLooksTest(int argc, char** argv) {
    LooksTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_looks.moc"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "printing/PrintFont.h"
#include "printing/Receipt.h"
#include "printing/ReportDocument.h"
#include "record_store/Formats.h"

// Reports and receipts as an owner and a customer get them: read back from the PDF with
// poppler's own tools, as a search or a copy would read them.
namespace {

QString Run(const QString& tool, const QStringList& arguments) {
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty()) qFatal("%s is needed (poppler-utils)", qPrintable(tool));
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(tool), process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString Text(const QString& pdf) { return Run(QStringLiteral("pdftotext"), {"-layout", pdf, "-"}); }

struct Word {
    QString text;
    double xMin, yMin, xMax, yMax;
    int page;
};

// Every word with its box, in points.
std::vector<Word> Words(const QString& pdf) {
    const QString html = Run(QStringLiteral("pdftotext"), {"-bbox", pdf, "-"});
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    std::vector<Word> words;
    int page = 0;
    qsizetype at = 0;
    while (true) {
        const qsizetype nextPage = html.indexOf(QStringLiteral("<page "), at);
        const QRegularExpressionMatch m = word.match(html, at);
        if (!m.hasMatch()) break;
        if (nextPage >= 0 && nextPage < m.capturedStart()) {
            ++page;
            at = nextPage + 1;
            continue;
        }
        words.push_back({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4).toDouble(), page});
        at = m.capturedEnd();
    }
    return words;
}

QSizeF PageSize(const QString& pdf) {
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

ReportBill Bill(qint64 id, const QString& at, const QString& machine, const QString& start,
                const QString& used, qint64 fee, qint64 other) {
    ReportBill b;
    b.id = id;
    b.at = at;
    b.desk = QStringLiteral("前台一");
    b.operatorName = QStringLiteral("小王");
    b.machine = machine;
    b.start = start;
    b.end = at.mid(11);
    b.used = used;
    b.feeCents = fee;
    b.otherCents = other;
    b.totalCents = fee + other;
    b.fee = CentsText(fee) + QStringLiteral("元");
    b.other = CentsText(other);
    b.total = CentsText(fee + other);
    return b;
}

// A known day: two bills, one flagged event, takings at 10 and 17 o'clock.
Report KnownDay(int extraBills = 0) {
    Report r;
    r.from = r.to = QDate(2026, 12, 9);
    r.bills.push_back(Bill(7, QStringLiteral("2026-12-09 10:15:07"), QStringLiteral("192.168.0.11"),
                           QStringLiteral("9:5:7"), QStringLiteral("1时10分"), 270, 150));
    r.bills.push_back(Bill(9, QStringLiteral("2026-12-09 17:25:58"), QStringLiteral("pc04"),
                           QStringLiteral("9:05:07"), QStringLiteral("8时20分"), 1730, 150));
    for (int i = 0; i < extraBills; ++i)
        r.bills.push_back(Bill(100 + i, QStringLiteral("2026-12-09 18:00:00"),
                               QStringLiteral("pc%1").arg(i), QStringLiteral("17:0:0"),
                               QStringLiteral("1时0分"), 200, 0));
    for (const ReportBill& b : r.bills) {
        r.totalCents += b.totalCents;
        r.perHour[b.at.mid(11, 2).toInt()] += b.totalCents;
        r.perMachine.emplace_back(b.machine, b.totalCents);
    }
    r.perDay = {{r.from, r.totalCents}};
    r.perShift = {{QStringLiteral("小王（前台一 2026-12-09 08:00开班）"), r.totalCents}};
    JournalRow flagged;
    flagged.at = QStringLiteral("2026-12-09 12:00:00");
    flagged.operatorName = QStringLiteral("小王");
    flagged.entry.kind = QStringLiteral("删除在线机器");
    flagged.entry.machine = QStringLiteral("pc09");
    flagged.entry.total = QStringLiteral("3.5");
    r.flagged.push_back(flagged);
    return r;
}

const ReportPrint kPrint{QStringLiteral("青岚网吧"), QDateTime(QDate(2026, 12, 9), QTime(18, 0))};

}  // namespace

class PrintingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY2(!PrintFamily().isEmpty(),
                 "a CJK font without radical glyphs is needed "
                 "(fonts-wqy-microhei)");
    }

    void theReportReadsBackAsPrinted() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("day.pdf"));
        QString why;
        int pages = 0;
        QVERIFY2(WriteReportPdf(pdf, KnownDay(), kPrint, &why, &pages), qPrintable(why));
        QCOMPARE(pages, 1);
        const QSizeF a4 = PageSize(pdf);
        QCOMPARE(qRound(a4.width()), 595);
        QCOMPARE(qRound(a4.height()), 842);
        const QString text = Text(pdf);
        // The code points themselves: 青 U+9752, not the radical ⻘ U+2ED8; 网 U+7F51, not ⽹.
        QVERIFY2(text.contains(QStringLiteral("\u9752\u5C9A\u7F51\u5427 营业报表")),
                 qPrintable(text));
        for (const char* expected :
             {"日期：2026-12-09", "前台：全部前台（前台一）", "打印时间：2026-12-09 18:00:00",
              "营业额合计", "23.00", "按日合计", "按值班员/班次合计", "按机器合计",
              "按钟点的营业额", "需要注意的记录", "删除在线机器", "结账明细", "192.168.0.11",
              "17.30"})
            QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
        // The totals come before the details.
        QVERIFY(text.indexOf(QStringLiteral("营业额合计")) <
                text.indexOf(QStringLiteral("结账明细")));
        QVERIFY(text.contains(
            QRegularExpression(QStringLiteral("第\\s*1\\s*页\\s*/\\s*共\\s*1\\s*页"))));
    }

    void noTextIsSmallerThanNinePoints() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("day.pdf"));
        QVERIFY(WriteReportPdf(pdf, KnownDay(), kPrint, nullptr));
        const std::vector<Word> words = Words(pdf);
        QVERIFY(words.size() > 50);
        double smallest = 1000, title = 0;
        for (const Word& w : words) {
            smallest = std::min(smallest, w.yMax - w.yMin);
            if (w.text.contains(QStringLiteral("营业报表")) && w.yMin < 100)
                title = std::max(title, w.yMax - w.yMin);
        }
        // poppler's box is the font's size (its ascent to its descent).
        QVERIFY2(smallest >= 9.0, qPrintable(QString::number(smallest)));
        QVERIFY2(title >= 18.0, qPrintable(QString::number(title)));
    }

    void emptySectionsSayNothing() {
        Report empty;
        empty.from = empty.to = QDate(2026, 12, 1);
        empty.desk = QStringLiteral("前台二");
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("empty.pdf"));
        QVERIFY(WriteReportPdf(pdf, empty, kPrint, nullptr));
        const QString text = Text(pdf);
        QVERIFY(text.contains(QStringLiteral("前台：前台二")));
        // 按日, 按值班员, 按机器, 按钟点, 需要注意, 结账明细: each "无".
        QCOMPARE(text.count(QRegularExpression(QStringLiteral("(^|\\s)无(\\s|$)"))), 6);
        QVERIFY(text.contains(QStringLiteral("0.00")));
    }

    void aLongDayGoesOnOverPages() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("busy.pdf"));
        int pages = 0;
        QVERIFY(WriteReportPdf(pdf, KnownDay(150), kPrint, nullptr, &pages));
        QVERIFY(pages >= 2);
        const QString text = Text(pdf);
        QVERIFY(text.contains(QRegularExpression(
            QStringLiteral("第\\s*%1\\s*页\\s*/\\s*共\\s*%1\\s*页").arg(pages))));
        // The bills' head again at the top of a following page.
        int heads = 0;
        for (const Word& w : Words(pdf))
            if (w.text == QStringLiteral("结账时间") && w.page == pages - 1) ++heads;
        QCOMPARE(heads, 1);
        QVERIFY(text.contains(QStringLiteral("pc149")));
    }

    // The receipt on its printer's paper: as wide as the roll, nothing past its edge.
    void receiptFitsItsPaper_data() {
        QTest::addColumn<int>("paper");
        QTest::addColumn<double>("widthPt");
        QTest::newRow("58 mm roll") << int(ReceiptPaper::Roll58) << 58 * 72 / 25.4;
        QTest::newRow("80 mm roll") << int(ReceiptPaper::Roll80) << 80 * 72 / 25.4;
        QTest::newRow("A4") << int(ReceiptPaper::A4) << 210 * 72 / 25.4;
    }
    void receiptFitsItsPaper() {
        QFETCH(int, paper);
        QFETCH(double, widthPt);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("receipt.pdf"));
        const ReportBill bill = KnownDay().bills[1];
        QString why;
        QVERIFY2(WriteReceiptPdf(pdf, bill,
                                 {kPrint.cafeName, QDateTime(QDate(2026, 12, 10), QTime(9, 0)),
                                  true, ReceiptPaper(paper)},
                                 &why),
                 qPrintable(why));
        const QSizeF size = PageSize(pdf);
        QVERIFY2(qAbs(size.width() - widthPt) < 0.5, qPrintable(QString::number(size.width())));
        const std::vector<Word> words = Words(pdf);
        double right = 0, left = 1000;
        bool reprint = false;
        for (const Word& w : words) {
            right = std::max(right, w.xMax);
            left = std::min(left, w.xMin);
            if (w.text.contains(QStringLiteral("补打"))) {
                reprint = true;
                QVERIFY(w.xMax - w.xMin < widthPt);
            }
        }
        QVERIFY(reprint);
        QVERIFY2(left >= 0 && right <= widthPt,
                 qPrintable(QStringLiteral("%1..%2").arg(left).arg(right)));
        if (paper != int(ReceiptPaper::A4)) QVERIFY(size.height() < 842);  // as long as it is
        const QString text = Text(pdf);
        QVERIFY2(text.contains(QStringLiteral("2026-12-09 09:05:07")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("2026-12-09 17:25:58")));
        QVERIFY(text.contains(QStringLiteral("补打时间")));
        QVERIFY(text.contains(QStringLiteral("18.80")));
    }

    // A bill whose amounts are not amounts (written by another tool) is in no total and says
    // so; its receipt shows what was written, never 0.00.
    void aBillThatCannotBeSummedIsNamed() {
        Report day = KnownDay();
        ReportBill& odd = day.bills[1];
        odd.summable = false;
        odd.feeCents = odd.otherCents = odd.totalCents = 0;
        odd.fee = QStringLiteral("0元");
        odd.other = QStringLiteral("0");
        odd.total = QStringLiteral("-1e300");
        day.totalCents = day.bills[0].totalCents;
        day.unsummable = 1;
        QTemporaryDir dir;
        const QString report = dir.filePath(QStringLiteral("day.pdf"));
        QVERIFY(WriteReportPdf(report, day, kPrint, nullptr));
        const QString text = Text(report);
        QVERIFY2(text.contains(QStringLiteral("其中 1 笔金额无法计算")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("2.70")));  // the fees of the summable bill only
        const QString receipt = dir.filePath(QStringLiteral("receipt.pdf"));
        QVERIFY(WriteReceiptPdf(receipt, odd,
                                {kPrint.cafeName, kPrint.printedAt, false, ReceiptPaper::Roll58},
                                nullptr));
        const QString printed = Text(receipt);
        QVERIFY2(printed.contains(QStringLiteral("-1e300")), qPrintable(printed));
        QVERIFY(!printed.contains(QStringLiteral("0.00")));
    }

    // Without a plan the receipt is line for line what it has always been; under one, the
    // zone and the runs of hour slots come between the time used and the fee, nothing else
    // moves, and the longest run still fits the narrowest roll.
    void receiptListsThePlansRuns() {
        const ReportBill plain = KnownDay().bills[1];
        const ReceiptPrint print{kPrint.cafeName, QDateTime(QDate(2026, 12, 10), QTime(9, 0)),
                                 true, ReceiptPaper::Roll58};
        const QStringList was{"青岚网吧",
                              "上网消费小票",
                              "【补打】",
                              "--",
                              "单号\t9",
                              "机器号\tpc04",
                              "上机\t2026-12-09 09:05:07",
                              "下机\t2026-12-09 17:25:58",
                              "共用时间\t8时20分",
                              "上网费用\t17.30 元",
                              "附加费\t1.50 元",
                              "--",
                              "共需费用\t18.80 元",
                              "--",
                              "值班员\t小王",
                              "前台\t前台一",
                              "补打时间\t2026-12-10 09:00:00",
                              "",
                              "谢谢光临"};
        QCOMPARE(ReceiptText(plain, print), was);

        ReportBill planned = plain;
        planned.detail = {QStringLiteral("电竞区"),
                          {{"12-08 09:05–12-09 17:05", "32小时 × 2元/小时", "64"},
                           {"17:05–17:25", "不足1小时（20分钟），12.35元/小时", "8.3"},
                           {"通宵前的上网费", "", "2x"}}};  // not an amount: as written
        QStringList with = was;
        const QStringList runs{"区域\t电竞区",
                               "12-08 09:05–12-09 17:05\t64.00 元",
                               "32小时 × 2元/小时",
                               "17:05–17:25\t8.30 元",
                               "不足1小时（20分钟），12.35元/小时", "通宵前的上网费\t2x"};
        for (qsizetype i = 0; i < runs.size(); ++i) with.insert(9 + i, runs[i]);
        QCOMPARE(ReceiptText(planned, print), with);

        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("receipt.pdf"));
        QVERIFY(WriteReceiptPdf(pdf, planned, print, nullptr));
        std::vector<Word> words = Words(pdf);
        std::sort(words.begin(), words.end(), [](const Word& a, const Word& b) {
            return std::pair(a.yMin, a.xMin) < std::pair(b.yMin, b.xMin);
        });
        for (size_t i = 0; i < words.size(); ++i) {
            QVERIFY2(words[i].xMax <= 58 * 72 / 25.4, qPrintable(words[i].text));
            if (i > 0 && words[i].yMin == words[i - 1].yMin)  // a label never runs into its value
                QVERIFY2(words[i - 1].xMax < words[i].xMin, qPrintable(words[i].text));
        }
        const QString text = Text(pdf);
        QVERIFY2(text.contains(QStringLiteral("12.35元/小时")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("17:05–17:25")));
    }

    void aFirstPrintIsNoReprint() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("receipt.pdf"));
        QVERIFY(WriteReceiptPdf(pdf, KnownDay().bills[0],
                                {kPrint.cafeName, kPrint.printedAt, false, ReceiptPaper::Roll58},
                                nullptr));
        const QString text = Text(pdf);
        QVERIFY(!text.contains(QStringLiteral("补打")));
        QVERIFY(text.contains(QStringLiteral("打印时间")));
    }

    // The day a session began, from the time it was settled and how long it ran.
    void sessionStartHasItsDate_data() {
        QTest::addColumn<QString>("settled");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("used");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("same day") << "2026-12-09 17:25:58"
                                  << "9:5:7"
                                  << "8时20分" << QDateTime(QDate(2026, 12, 9), QTime(9, 5, 7));
        QTest::newRow("past midnight") << "2026-12-10 01:10:00"
                                       << "23:30:0"
                                       << "1时40分" << QDateTime(QDate(2026, 12, 9), QTime(23, 30));
        QTest::newRow("over a day") << "2026-12-11 10:00:00"
                                    << "9:0:0"
                                    << "49时0分" << QDateTime(QDate(2026, 12, 9), QTime(9, 0));
        QTest::newRow("length unknown") << "2026-12-10 01:10:00"
                                        << "23:30:0"
                                        << "" << QDateTime(QDate(2026, 12, 9), QTime(23, 30));
        QTest::newRow("no time") << "2026-12-10 01:10:00"
                                 << ""
                                 << "1时0分" << QDateTime();
    }
    void sessionStartHasItsDate() {
        QFETCH(QString, settled);
        QFETCH(QString, start);
        QFETCH(QString, used);
        QFETCH(QDateTime, expected);
        ReportBill bill;
        bill.at = settled;
        bill.start = start;
        bill.used = used;
        QCOMPARE(SessionStart(bill), expected);
    }

    void paperKeysGoBothWays() {
        for (const ReceiptPaper paper :
             {ReceiptPaper::Roll58, ReceiptPaper::Roll80, ReceiptPaper::A4})
            QCOMPARE(PaperFromKey(PaperKey(paper)), paper);
        QCOMPARE(PaperFromKey(QStringLiteral("letter")), ReceiptPaper::Roll58);
    }
};

QTEST_MAIN(PrintingTest)
#include "test_printing.moc"

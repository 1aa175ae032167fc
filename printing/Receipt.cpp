#include "printing/Receipt.h"

#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <cmath>

#include "printing/Ink.h"
#include "printing/PrintFont.h"
#include "record_store/Formats.h"

namespace {

constexpr double kBody = 9;  // points

// Each paper: as kept in the settings, as the operator reads it, its width and side margins.
struct Paper {
    ReceiptPaper paper;
    const char* key;
    const char* name;
    double width;   // mm
    double margin;  // mm, left and right
};

const Paper kPapers[] = {
    {ReceiptPaper::Roll58, "58", "58 毫米小票纸", 58, 4},
    {ReceiptPaper::Roll80, "80", "80 毫米小票纸", 80, 4},
    {ReceiptPaper::A4, "A4", "A4 纸", 210, 65},  // an 80 mm receipt in the middle of the sheet
};

const Paper& PaperOf(ReceiptPaper paper) {
    for (const Paper& p : kPapers)
        if (p.paper == paper) return p;
    return kPapers[0];
}

std::optional<QTime> TimeOf(const QString& text) {
    try {
        return ParseDateTime(text);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

// A line of the receipt: a label on the left and its value on the right, on one baseline; or
// a centred text; or a rule; or an indented note under the line before.
struct Line {
    enum Kind { Pair, Centre, Rule, Note } kind;
    QString left, right;
    QFont font;
};

std::vector<Line> Lines(const ReportBill& bill, const ReceiptPrint& print) {
    const QFont body = PrintFont(kBody);
    const QFont bold = PrintFont(kBody, true);
    const QFont name = PrintFont(13, true);
    const QFont total = PrintFont(11, true);
    const QFont mark = PrintFont(12, true);
    const QFont small = PrintFont(kBody - 1.5);
    const QDateTime settled = QDateTime::fromString(bill.at, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const std::optional<QTime> end = TimeOf(bill.end);
    const QDateTime ended = end && settled.isValid() ? QDateTime(settled.date(), *end) : settled;
    const QString yuan = QStringLiteral(" 元");

    std::vector<Line> lines{
        {Line::Centre, print.cafeName, {}, name},
        {Line::Centre, QStringLiteral("上网消费小票"), {}, body},
    };
    if (print.reprint) lines.push_back({Line::Centre, QStringLiteral("【补打】"), {}, mark});
    lines.push_back({Line::Rule, {}, {}, body});
    const auto pair = [&](const QString& label, const QString& value, const QFont& font) {
        lines.push_back({Line::Pair, label, value, font});
    };
    pair(QStringLiteral("单号"), QString::number(bill.id), body);
    pair(QStringLiteral("机器号"), bill.machine, body);
    const QString started = DateAndTime(SessionStart(bill));
    pair(QStringLiteral("上机"), started.isEmpty() ? bill.start : started, body);
    pair(QStringLiteral("下机"), DateAndTime(ended), body);
    pair(QStringLiteral("共用时间"), bill.used, body);
    // Under a price plan the fee is explained as 明细 shows it: the zone, then each run of
    // hour slots with its amount and, below it, how it was counted.
    if (!bill.detail.zone.isEmpty()) pair(QStringLiteral("区域"), bill.detail.zone, body);
    for (const BillRun& run : bill.detail.runs) {
        const std::optional<qint64> fen = ParseCents(run.amount);
        pair(run.label, fen ? CentsText(*fen) + yuan : run.amount, body);
        if (!run.detail.isEmpty()) lines.push_back({Line::Note, run.detail, {}, small});
    }
    // An amount that is not one is printed as it was written, never as 0.00.
    const auto amount = [&](qint64 cents, const QString& written) {
        return bill.summable ? CentsText(cents) + yuan : written;
    };
    pair(QStringLiteral("上网费用"), amount(bill.feeCents, bill.fee), body);
    pair(QStringLiteral("附加费"), amount(bill.otherCents, bill.other), body);
    lines.push_back({Line::Rule, {}, {}, body});
    pair(QStringLiteral("共需费用"), amount(bill.totalCents, bill.total), total);
    lines.push_back({Line::Rule, {}, {}, body});
    if (!bill.operatorName.isEmpty()) pair(QStringLiteral("值班员"), bill.operatorName, body);
    pair(QStringLiteral("前台"), bill.desk, body);
    pair(print.reprint ? QStringLiteral("补打时间") : QStringLiteral("打印时间"),
         DateAndTime(print.printedAt), body);
    lines.push_back({Line::Centre, QString(), {}, body});
    lines.push_back({Line::Centre, QStringLiteral("谢谢光临"), {}, bold});
    return lines;
}

}  // namespace

QString PaperKey(ReceiptPaper paper) { return QString::fromLatin1(PaperOf(paper).key); }

ReceiptPaper PaperFromKey(const QString& key) {
    for (const Paper& p : kPapers)
        if (key == QLatin1String(p.key)) return p.paper;
    return ReceiptPaper::Roll58;
}

QString PaperName(ReceiptPaper paper) { return QString::fromUtf8(PaperOf(paper).name); }

QDateTime SessionStart(const ReportBill& bill) {
    const QDateTime settled = QDateTime::fromString(bill.at, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const std::optional<QTime> start = TimeOf(bill.start);
    if (!settled.isValid() || !start) return {};
    // The bill's length says how many days back the start lies; without it, the last time of
    // day before the checkout.
    QDateTime guess = settled;
    static const QRegularExpression used(QStringLiteral("^\\s*(\\d+)时(\\d+)分"));
    const QRegularExpressionMatch m = used.match(bill.used);
    if (m.hasMatch())
        guess =
            settled.addSecs(-(m.captured(1).toLongLong() * 3600 + m.captured(2).toLongLong() * 60));
    QDateTime best;
    for (int back = -1; back <= 1; ++back) {
        const QDateTime candidate(guess.date().addDays(back), *start);
        if (candidate > settled) continue;
        if (!best.isValid() || std::abs(candidate.secsTo(guess)) < std::abs(best.secsTo(guess)))
            best = candidate;
    }
    return best;
}

QStringList ReceiptText(const ReportBill& bill, const ReceiptPrint& print) {
    QStringList text;
    for (const Line& line : Lines(bill, print))
        text << (line.kind == Line::Rule   ? QStringLiteral("--")
                 : line.kind == Line::Pair ? line.left + QLatin1Char('\t') + line.right
                                           : line.left);
    return text;
}

bool PaintReceipt(QPagedPaintDevice& device, const ReportBill& bill, const ReceiptPrint& print) {
    const std::vector<Line> lines = Lines(bill, print);
    const Paper& paper = PaperOf(print.paper);
    const Ink ink(device);
    // The roll is as long as the receipt: measured in points, as the page will be.
    double heightPt = 0;
    const auto lineHeightPt = [&](const Line& line) {
        return line.kind == Line::Rule ? 8.0 : ink.LineHeight(line.font) / ink.pt(1) + 2;
    };
    for (const Line& line : lines) heightPt += lineHeightPt(line);
    const double marginTop = 4;  // mm
    const double heightMm = print.paper == ReceiptPaper::A4
                                ? 297
                                : std::ceil(heightPt * 25.4 / 72.0 + 2 * marginTop + 6);
    const QPageSize size = print.paper == ReceiptPaper::A4
                               ? QPageSize(QPageSize::A4)
                               : QPageSize(QSizeF(paper.width, heightMm), QPageSize::Millimeter,
                                           PaperName(print.paper), QPageSize::ExactMatch);
    if (!device.setPageLayout(QPageLayout(
            size, QPageLayout::Portrait,
            QMarginsF(paper.margin, marginTop, paper.margin, marginTop), QPageLayout::Millimeter)))
        return false;

    QPainter p(&device);
    if (!p.isActive()) return false;
    const Ink onPage(device);
    const double width = device.width();
    double y = 0;
    for (const Line& line : lines) {
        const double h = onPage.pt(lineHeightPt(line));
        p.setFont(line.font);
        switch (line.kind) {
            case Line::Rule:
                onPage.Rule(p, 0, width, y + h / 2, 0.5);
                break;
            case Line::Centre:
                onPage.Text(p, QRectF(0, y, width, h), line.left, Qt::AlignHCenter);
                break;
            case Line::Note: {
                const double indent = onPage.pt(6);
                onPage.Text(p, QRectF(indent, y, width - indent, h), line.left, Qt::AlignLeft);
                break;
            }
            case Line::Pair: {
                // The label keeps its width; the value takes the rest, on the same baseline.
                const double label = onPage.Width(line.font, line.left) + onPage.pt(6);
                onPage.Text(p, QRectF(0, y, label, h), line.left, Qt::AlignLeft);
                onPage.Text(p, QRectF(label, y, width - label, h), line.right, Qt::AlignRight);
                break;
            }
        }
        y += h;
    }
    return p.end();
}

bool WriteReceiptPdf(const QString& path, const ReportBill& bill, const ReceiptPrint& print,
                     QString* error) {
    return WritePdf(
        path, QStringLiteral("%1 小票 %2").arg(print.cafeName).arg(bill.id),
        [&](QPdfWriter& writer) { return PaintReceipt(writer, bill, print); }, error);
}

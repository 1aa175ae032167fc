#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "ledger/Report.h"

class QPagedPaintDevice;

// The paper a desk's receipt printer takes: a roll 58 or 80 mm wide (the receipt is as long as
// it needs), or an A4 sheet for an ordinary printer.
enum class ReceiptPaper { Roll58, Roll80, A4 };

// As kept in the desk's settings ("58", "80", "A4"), and back; anything else is the 58 mm roll.
QString PaperKey(ReceiptPaper paper);
ReceiptPaper PaperFromKey(const QString& key);
QString PaperName(ReceiptPaper paper);  // as the operator chooses it: "58 毫米小票纸", …

struct ReceiptPrint {
    QString cafeName;
    QDateTime printedAt;
    bool reprint = false;  // printed again later: says "补打" and when
    ReceiptPaper paper = ReceiptPaper::Roll58;
};

// When the session began: its start time on the day that fits the bill's length and the time
// it was settled (a session may run past midnight); invalid when the texts do not tell.
QDateTime SessionStart(const ReportBill& bill);

// The receipt's lines in order, as text: a label and its value with a tab between, "--" for a
// rule. What PaintReceipt paints, line for line.
QStringList ReceiptText(const ReportBill& bill, const ReceiptPrint& print);

// Sets the device's page for the paper and paints the receipt on it.
bool PaintReceipt(QPagedPaintDevice& device, const ReportBill& bill, const ReceiptPrint& print);

// The same as a PDF file, written whole or not at all; false with the reason.
bool WriteReceiptPdf(const QString& path, const ReportBill& bill, const ReceiptPrint& print,
                     QString* error);

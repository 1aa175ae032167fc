#pragma once

#include <QDateTime>
#include <QString>

#include "ledger/Report.h"

class QPagedPaintDevice;

// 营业报表 as a document an owner files: A4, the café's name, the days, the desks and when it
// was printed on the first page; the totals first, then per day, per operator and shift, per
// machine, the takings by hour as a chart, the flagged events and the bills; thin rules, text
// no smaller than 9 pt, "第 x 页 / 共 y 页" on every page and "无" for an empty section.
struct ReportPrint {
    QString cafeName;
    QDateTime printedAt;
};

// Makes the device's pages A4 with the document's margins.
void UseA4(QPagedPaintDevice& device);

// Paints the report on the device's pages (set them with UseA4 first); the number of pages.
int PaintReport(QPagedPaintDevice& device, const Report& report, const ReportPrint& print);

// The same as a PDF file, written whole or not at all; false with the reason.
bool WriteReportPdf(const QString& path, const Report& report, const ReportPrint& print,
                    QString* error, int* pages = nullptr);

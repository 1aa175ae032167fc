#include "printing/ReportDocument.h"

#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSet>
#include <algorithm>
#include <functional>
#include <numeric>

#include "printing/Ink.h"
#include "printing/PrintFont.h"
#include "record_store/Formats.h"

namespace {

constexpr double kBody = 9;      // points: the smallest text anywhere on the page
constexpr double kMeta = 10;     // the lines under the title
constexpr double kSection = 12;  // section titles
constexpr double kTitle = 18;

// One piece of the page's flow: its height and how it paints itself at a height y.
struct Piece {
    double height = 0;
    std::function<void(QPainter&, double y)> paint;
    int table = -1;             // the table it is a row of; its head comes again on a new page
    bool keepWithNext = false;  // a section's title stays with its first line
};

struct Column {
    QString title;
    bool amount = false;    // money: right-aligned
    bool flexible = false;  // a long name: gives way when the page is too narrow
};

class Flow {
  public:
    Flow(QPagedPaintDevice& device, const Report& report, const ReportPrint& print)
        : m_device(device),
          m_ink(device),
          m_report(report),
          m_print(print),
          m_width(device.width()),
          m_bottom(device.height() - m_ink.pt(22)) {}

    void Build();
    int Paint();

  private:
    void Add(Piece piece) { m_pieces.push_back(std::move(piece)); }
    void Gap(double points) {
        Add({m_ink.pt(points), [](QPainter&, double) {}});
    }
    void Title();
    void Section(const QString& title);
    void Nothing();  // "无" under an empty section
    void Table(const std::vector<Column>& columns, const QList<QStringList>& rows,
               const QStringList& footer = {});
    void Chart();
    void Footer(QPainter& p, int page, int pages);
    std::vector<std::vector<std::pair<const Piece*, double>>> Pages() const;

    QPagedPaintDevice& m_device;
    const Ink m_ink;
    const Report& m_report;
    const ReportPrint& m_print;
    const double m_width;
    const double m_bottom;  // where the footer begins
    std::vector<Piece> m_pieces;
    std::vector<Piece> m_heads;  // each table's head, by table number
};

QString Period(const Report& r) {
    return r.from == r.to ? r.from.toString(Qt::ISODate)
                          : QStringLiteral("%1 至 %2")
                                .arg(r.from.toString(Qt::ISODate), r.to.toString(Qt::ISODate));
}

QString Desks(const Report& r) {
    if (!r.desk.isEmpty()) return r.desk;
    QStringList desks;
    for (const ReportBill& b : r.bills)
        if (!desks.contains(b.desk)) desks << b.desk;
    std::sort(desks.begin(), desks.end());
    return desks.isEmpty() ? QStringLiteral("全部前台")
                           : QStringLiteral("全部前台（%1）").arg(desks.join(QStringLiteral("、")));
}

void Flow::Title() {
    const QFont title = PrintFont(kTitle, true);
    const QFont meta = PrintFont(kMeta);
    const double titleHeight = m_ink.LineHeight(title);
    Add({titleHeight + m_ink.pt(4), [this, title](QPainter& p, double y) {
             p.setFont(title);
             m_ink.Text(p, QRectF(0, y, m_width, m_ink.LineHeight(title)),
                        QStringLiteral("%1 营业报表").arg(m_print.cafeName), Qt::AlignLeft);
         }});
    const QStringList lines{
        QStringLiteral("日期：%1").arg(Period(m_report)),
        QStringLiteral("前台：%1").arg(Desks(m_report)),
        QStringLiteral("打印时间：%1")
            .arg(m_print.printedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
    };
    for (const QString& line : lines)
        Add({m_ink.LineHeight(meta), [this, meta, line](QPainter& p, double y) {
                 p.setFont(meta);
                 m_ink.Text(p, QRectF(0, y, m_width, m_ink.LineHeight(meta)), line, Qt::AlignLeft);
             }});
    if (m_report.check.result != ChainCheck::Intact) {
        const QFont warning = PrintFont(kMeta, true);
        const QString text = ChainAlteredText(m_report.check);
        Add({m_ink.LineHeight(warning) + m_ink.pt(4), [this, warning, text](QPainter& p, double y) {
                 p.save();
                 p.setFont(warning);
                 p.setPen(QColor(180, 0, 0));
                 m_ink.Text(p, QRectF(0, y + m_ink.pt(4), m_width, m_ink.LineHeight(warning)), text,
                            Qt::AlignLeft);
                 p.restore();
             }});
    }
    Add({m_ink.pt(6),
         [this](QPainter& p, double y) { m_ink.Rule(p, 0, m_width, y + m_ink.pt(3), 1.0); }});
}

void Flow::Section(const QString& title) {
    Gap(8);
    const QFont font = PrintFont(kSection, true);
    Piece piece{m_ink.LineHeight(font) + m_ink.pt(3), [this, font, title](QPainter& p, double y) {
                    p.setFont(font);
                    m_ink.Text(p, QRectF(0, y, m_width, m_ink.LineHeight(font)), title,
                               Qt::AlignLeft);
                }};
    piece.keepWithNext = true;
    Add(piece);
}

void Flow::Nothing() {
    const QFont body = PrintFont(kBody);
    Add({m_ink.LineHeight(body), [this, body](QPainter& p, double y) {
             p.setFont(body);
             m_ink.Text(p, QRectF(m_ink.pt(4), y, m_width, m_ink.LineHeight(body)),
                        QStringLiteral("无"), Qt::AlignLeft);
         }});
}

void Flow::Table(const std::vector<Column>& columns, const QList<QStringList>& rows,
                 const QStringList& footer) {
    if (rows.isEmpty()) {
        Nothing();
        return;
    }
    const QFont body = PrintFont(kBody);
    const QFont bold = PrintFont(kBody, true);
    const double pad = m_ink.pt(4);
    // Each column as wide as its widest text; what is too wide for the page comes off the
    // flexible columns, which then shorten their longest texts.
    std::vector<double> widths;
    for (size_t c = 0; c < columns.size(); ++c) {
        double w = m_ink.Width(bold, columns[c].title);
        for (const QStringList& row : rows) w = std::max(w, m_ink.Width(body, row.value(int(c))));
        if (!footer.isEmpty()) w = std::max(w, m_ink.Width(bold, footer.value(int(c))));
        widths.push_back(w + 2 * pad + m_ink.pt(1));  // a point of slack: nothing shortened
    }
    double total = std::accumulate(widths.begin(), widths.end(), 0.0);
    if (total > m_width) {
        double flexible = 0;
        for (size_t c = 0; c < columns.size(); ++c)
            if (columns[c].flexible) flexible += widths[c];
        const double cut = total - m_width;
        for (size_t c = 0; c < columns.size(); ++c)
            if (columns[c].flexible && flexible > 0)
                widths[c] = std::max(m_ink.pt(30), widths[c] - cut * widths[c] / flexible);
        total = std::accumulate(widths.begin(), widths.end(), 0.0);
        if (total > m_width)  // still too wide: every column gives way alike
            for (double& w : widths) w *= m_width / total;
        total = std::min(total, m_width);
    }
    const double rowHeight = m_ink.LineHeight(body) + m_ink.pt(4);
    // A narrow list (per machine, per day) runs in columns side by side, read across, so a
    // café of 300 machines does not fill pages with one thin column.
    const double gap = m_ink.pt(18);
    const int across = footer.isEmpty() && rows.size() > 8
                           ? std::clamp(int((m_width + gap) / (total + gap)), 1, 4)
                           : 1;
    const auto paintRow = [this, columns, widths, pad, rowHeight](QPainter& p, double x, double y,
                                                                  const QStringList& cells,
                                                                  const QFont& font) {
        p.setFont(font);
        for (size_t c = 0; c < columns.size(); ++c) {
            m_ink.Text(p, QRectF(x + pad, y, widths[c] - 2 * pad, rowHeight), cells.value(int(c)),
                       columns[c].amount ? Qt::AlignRight : Qt::AlignLeft);
            x += widths[c];
        }
    };
    QStringList titles;
    for (const Column& c : columns) titles << c.title;
    const int table = int(m_heads.size());
    const int heads = std::min<int>(across, int(rows.size()));
    m_heads.push_back({rowHeight, [this, titles, total, gap, heads, bold, paintRow, rowHeight](
                                      QPainter& p, double y) {
                           for (int i = 0; i < heads; ++i) {
                               const double x = i * (total + gap);
                               m_ink.Rule(p, x, x + total, y, 0.8);
                               paintRow(p, x, y, titles, bold);
                               m_ink.Rule(p, x, x + total, y + rowHeight, 0.5);
                           }
                       }});
    Piece head = m_heads.back();
    head.table = table;
    head.keepWithNext = true;
    Add(head);
    for (qsizetype first = 0; first < rows.size(); first += across) {
        const QList<QStringList> band = rows.mid(first, across);
        const bool last = first + across >= rows.size() && footer.isEmpty();
        Piece row{rowHeight,
                  [this, band, total, gap, body, paintRow, rowHeight, last](QPainter& p, double y) {
                      for (qsizetype i = 0; i < band.size(); ++i) {
                          const double x = i * (total + gap);
                          paintRow(p, x, y, band[i], body);
                          if (last)
                              m_ink.Rule(p, x, x + total, y + rowHeight, 0.8);
                          else
                              m_ink.Rule(p, x, x + total, y + rowHeight, 0.25,
                                         QColor(160, 160, 160));
                      }
                  }};
        row.table = table;
        Add(row);
    }
    if (!footer.isEmpty()) {
        Piece sum{rowHeight,
                  [this, footer, total, bold, paintRow, rowHeight](QPainter& p, double y) {
                      m_ink.Rule(p, 0, total, y, 0.5);
                      paintRow(p, 0, y, footer, bold);
                      m_ink.Rule(p, 0, total, y + rowHeight, 0.8);
                  }};
        sum.table = table;
        Add(sum);
    }
}

void Flow::Chart() {
    const auto& hours = m_report.perHour;
    const qint64 most = *std::max_element(hours.begin(), hours.end());
    if (most <= 0) {
        Nothing();
        return;
    }
    const QFont body = PrintFont(kBody);
    const double line = m_ink.LineHeight(body);
    const double bars = m_ink.mm(45);
    Add({line + bars + line + m_ink.pt(6),
         [this, hours, most, body, line, bars](QPainter& p, double y) {
             p.setFont(body);
             const double axis = m_ink.Width(body, CentsText(most)) + m_ink.pt(8);
             const double top = y + line / 2, bottom = top + bars;
             const double slot = (m_width - axis) / 24.0;
             // Scale: nothing, half and the most, in yuan.
             for (const int step : {0, 1, 2}) {
                 const double at = bottom - bars * step / 2.0;
                 m_ink.Text(p, QRectF(0, at - line / 2, axis - m_ink.pt(4), line),
                            CentsText(most * step / 2), Qt::AlignRight);
                 m_ink.Rule(p, axis, m_width, at, step == 0 ? 0.8 : 0.25, QColor(160, 160, 160));
             }
             for (int h = 0; h < 24; ++h) {
                 const double x = axis + h * slot;
                 // An hour below zero (a correction larger than its takings) shows as none:
                 // a bar down from the axis would run over the tables under the chart.
                 const double height = bars * double(std::max<qint64>(0, hours[h])) / double(most);
                 p.fillRect(QRectF(x + slot * 0.15, bottom - height, slot * 0.7, height),
                            QColor(58, 110, 165));
                 m_ink.Text(p, QRectF(x, bottom + m_ink.pt(2), slot, line), QString::number(h),
                            Qt::AlignHCenter);
             }
             m_ink.Text(p, QRectF(axis, bottom + m_ink.pt(2) + line, m_width - axis, line),
                        QStringLiteral("钟点（0–23 时），金额单位：元"), Qt::AlignHCenter);
         }});
}

void Flow::Build() {
    const Report& r = m_report;
    Title();

    qint64 fee = 0, other = 0;
    for (const ReportBill& b : r.bills) {
        if (!b.summable) continue;
        fee += b.feeCents;
        other += b.otherCents;
    }
    Section(QStringLiteral("合计"));
    QList<QStringList> totals{{QStringLiteral("结账笔数"), QString::number(r.bills.size())},
                              {QStringLiteral("上网费用"), CentsText(fee)},
                              {QStringLiteral("附加费"), CentsText(other)}};
    if (r.unsummable)
        totals << QStringList{
            QStringLiteral("其中 %1 笔金额无法计算，未计入合计（见需要注意的记录）").arg(r.unsummable),
            QString()};
    Table({{QStringLiteral("项目")}, {QStringLiteral("金额（元）"), true}}, totals,
          {QStringLiteral("营业额合计"), CentsText(r.totalCents)});
    if (!r.packages.empty()) {
        // Time sold up front, each kind on its own line; with the bills, the cash taken.
        Section(QStringLiteral("包时"));
        QList<QStringList> packages;
        for (const ReportPackageLine& line : r.packages)
            packages << QStringList{line.kind, QString::number(line.count), CentsText(line.cents),
                                    line.shift};
        Table({{QStringLiteral("包时")},
               {QStringLiteral("笔数"), true},
               {QStringLiteral("金额（元）"), true},
               {QStringLiteral("值班员/班次"), false, true}},
              packages, {QStringLiteral("包时合计"), QString(), CentsText(r.packageCents), QString()});
        Table({{QStringLiteral("项目")}, {QStringLiteral("金额（元）"), true}},
              {{QStringLiteral("营业额合计"), CentsText(r.totalCents)},
               {QStringLiteral("包时合计"), CentsText(r.packageCents)}},
              {QStringLiteral("现金合计"), CentsText(r.totalCents + r.packageCents)});
    }

    const auto sums = [&](const QString& title, const QString& head,
                          const QList<QStringList>& rows) {
        Section(title);
        Table({{head, false, true}, {QStringLiteral("金额（元）"), true}}, rows);
    };
    sums(QStringLiteral("按日合计"), QStringLiteral("日期"), SumRows(r.perDay));
    sums(QStringLiteral("按值班员/班次合计"), QStringLiteral("值班员/班次"), SumRows(r.perShift));
    sums(QStringLiteral("按机器合计"), QStringLiteral("机器号"), SumRows(r.perMachine));

    Section(QStringLiteral("按钟点的营业额"));
    Chart();

    Section(QStringLiteral("需要注意的记录"));
    QList<QStringList> flagged;
    for (const JournalRow& row : r.flagged)
        flagged << QStringList{row.at,          row.entry.kind, row.entry.machine,
                               row.entry.total, row.entry.note, row.operatorName};
    Table({{QStringLiteral("时间")},
           {QStringLiteral("事项")},
           {QStringLiteral("机器号")},
           {QStringLiteral("金额"), true},
           {QStringLiteral("说明"), false, true},
           {QStringLiteral("值班员"), false, true}},
          flagged);

    Section(QStringLiteral("结账明细"));
    QSet<QString> desks;
    for (const ReportBill& b : r.bills) desks.insert(b.desk);
    const bool deskColumn = desks.size() > 1;
    QList<QStringList> bills;
    for (const ReportBill& b : r.bills) {
        QStringList cells = BillCells(b);
        if (deskColumn) cells << b.desk;
        bills << cells;
    }
    std::vector<Column> columns{{QStringLiteral("结账时间")},
                                {QStringLiteral("机器号"), false, true},
                                {QStringLiteral("上机")},
                                {QStringLiteral("下机")},
                                {QStringLiteral("共用时间")},
                                {QStringLiteral("上网费用"), true},
                                {QStringLiteral("附加费"), true},
                                {QStringLiteral("共需费用"), true},
                                {QStringLiteral("值班员"), false, true}};
    if (deskColumn) columns.push_back({QStringLiteral("前台"), false, true});
    Table(columns, bills);
}

std::vector<std::vector<std::pair<const Piece*, double>>> Flow::Pages() const {
    std::vector<std::vector<std::pair<const Piece*, double>>> pages(1);
    double y = 0;
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        const Piece& piece = m_pieces[i];
        // A title or a table's head goes to the next page with the line it belongs to.
        double needed = piece.height;
        for (size_t j = i; j + 1 < m_pieces.size() && m_pieces[j].keepWithNext; ++j)
            needed += m_pieces[j + 1].height;
        if (y > 0 && y + needed > m_bottom) {
            pages.emplace_back();
            y = 0;
            // A table that goes on shows its head again.
            if (piece.table >= 0 && !piece.keepWithNext) {
                pages.back().emplace_back(&m_heads[size_t(piece.table)], y);
                y += m_heads[size_t(piece.table)].height;
            }
        }
        pages.back().emplace_back(&piece, y);
        y += piece.height;
    }
    return pages;
}

void Flow::Footer(QPainter& p, int page, int pages) {
    const QFont body = PrintFont(kBody);
    p.setFont(body);
    const double line = m_ink.LineHeight(body);
    const double y = m_device.height() - line;
    m_ink.Rule(p, 0, m_width, y - m_ink.pt(4), 0.5);
    m_ink.Text(p, QRectF(0, y, m_width * 0.7, line),
               QStringLiteral("%1 营业报表 %2").arg(m_print.cafeName, Period(m_report)),
               Qt::AlignLeft);
    m_ink.Text(p, QRectF(0, y, m_width, line),
               QStringLiteral("第 %1 页 / 共 %2 页").arg(page).arg(pages), Qt::AlignRight);
}

int Flow::Paint() {
    const auto pages = Pages();
    QPainter p(&m_device);
    if (!p.isActive()) return -1;
    for (size_t n = 0; n < pages.size(); ++n) {
        if (n > 0) m_device.newPage();
        for (const auto& [piece, y] : pages[n]) piece->paint(p, y);
        Footer(p, int(n + 1), int(pages.size()));
    }
    return p.end() ? int(pages.size()) : -1;
}

}  // namespace

void UseA4(QPagedPaintDevice& device) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 15, 15, 15), QPageLayout::Millimeter));
}

int PaintReport(QPagedPaintDevice& device, const Report& report, const ReportPrint& print) {
    Flow flow(device, report, print);
    flow.Build();
    return flow.Paint();
}

bool WriteReportPdf(const QString& path, const Report& report, const ReportPrint& print,
                    QString* error, int* pages) {
    int painted = -1;
    const bool written = WritePdf(
        path, QStringLiteral("%1 营业报表 %2").arg(print.cafeName, Period(report)),
        [&](QPdfWriter& writer) {
            UseA4(writer);
            painted = PaintReport(writer, report, print);
            return painted >= 0;
        },
        error);
    if (written && pages) *pages = painted;
    return written;
}

#include "console/TReport.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTabWidget>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "accounts/Accounts.h"
#include "console/TSettings.h"
#include "desk/Desk.h"
#include "ledger/CafeName.h"
#include "ledger/Shifts.h"
#include "printing/Receipt.h"
#include "widgets/Themed.h"

namespace {

const QString kAllDesks = QStringLiteral("全部前台");

// amounts: the columns of money, right-aligned; stretch: the one column that takes what width
// is left (a name that may be long), or -1 for the last.
QTableWidget* MakeTable(const QStringList& head, QWidget* parent, const QList<int>& amounts = {},
                        int stretch = -1) {
    auto* table = new QTableWidget(0, int(head.size()), parent);
    table->setHorizontalHeaderLabels(head);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->verticalHeader()->hide();
    // One line of text a row, not the style's double height.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    QHeaderView* header = table->horizontalHeader();
    if (stretch >= 0) {
        // The amount always shows whole; the long name gives way, shortened in the middle.
        for (int c = 0; c < head.size(); ++c)
            header->setSectionResizeMode(
                c, c == stretch ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    } else {
        header->setStretchLastSection(true);
    }
    QVariantList money;
    for (const int c : amounts) money << c;
    table->setProperty("amounts", money);
    return table;
}

// The rows from row from on (the rows before it stay).
void Fill(QTableWidget* table, const QList<QStringList>& rows, int from = 0) {
    const QVariantList amounts = table->property("amounts").toList();
    table->setRowCount(from + int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c) {
            auto* item = new QTableWidgetItem(rows[r][c]);
            if (amounts.contains(c)) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            item->setToolTip(rows[r][c]);
            table->setItem(from + r, c, item);
        }
    if (table->horizontalHeader()->stretchLastSection()) {
        // Each column as wide as its widest text and a little air, not a pixel less.
        table->resizeColumnsToContents();
        for (int c = 0; c < table->columnCount(); ++c)
            table->setColumnWidth(c, table->columnWidth(c) + 12);
    }
}

// The system's print dialog, then the pages painted for the chosen printer.
template <class Paint>
void Print(QWidget* parent, Paint paint) {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("打印"));
    if (dialog.exec() == QDialog::Accepted) paint(printer);
}

}  // namespace

HourChart::HourChart(QWidget* parent) : QWidget(parent) { setMinimumSize(300, 160); }

void HourChart::SetTakings(const std::array<qint64, 24>& cents) {
    m_cents = cents;
    update();
}

void HourChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const qint64 most = std::max<qint64>(1, *std::max_element(m_cents.begin(), m_cents.end()));
    const int bottom = height() - 20, top = 16;
    const double slot = (width() - 20) / 24.0;
    p.setPen(Qt::black);
    p.drawLine(10, bottom, width() - 10, bottom);
    for (int h = 0; h < 24; ++h) {
        const int x = 10 + int(h * slot);
        // Below zero shows as none, as in the printed chart.
        const int bar = int((bottom - top) * double(std::max<qint64>(0, m_cents[h])) / double(most));
        p.fillRect(x + 2, bottom - bar, int(slot) - 4, bar, QColor(58, 110, 165));
        if (h % 3 == 0) p.drawText(x, height() - 4, QString::number(h));
    }
    p.drawText(10, 12, QStringLiteral("按钟点的营业额（最高 %1 元）").arg(CentsText(most)));
}

TReport::TReport(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("report"));
    setWindowTitle(QStringLiteral("营业报表"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    resize(760, 520);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    const QDate today = desk.clock.nowDateTime().date();
    FromEdit = new QDateEdit(today, this);
    ToEdit = new QDateEdit(today, this);
    for (QDateEdit* edit : {FromEdit, ToEdit}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    DeskCombo = new QComboBox(this);
    DeskCombo->addItem(kAllDesks);
    QueryButton = new FlatButton(QStringLiteral("查  询"), this);
    auto* fromLabel = new QLabel(QStringLiteral("从(&F)"), this);
    fromLabel->setBuddy(FromEdit);
    auto* toLabel = new QLabel(QStringLiteral("到(&T)"), this);
    toLabel->setBuddy(ToEdit);
    auto* deskLabel = new QLabel(QStringLiteral("前台(&D)"), this);
    deskLabel->setBuddy(DeskCombo);
    for (QWidget* w : std::initializer_list<QWidget*>{fromLabel, FromEdit, toLabel, ToEdit,
                                                      deskLabel, DeskCombo, QueryButton})
        top->addWidget(w);
    top->addStretch();
    layout->addLayout(top);
    ChainLabel = new QLabel(this);
    ChainLabel->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    ChainLabel->setWordWrap(true);
    ChainLabel->hide();
    layout->addWidget(ChainLabel);
    TotalLabel = new QLabel(this);
    layout->addWidget(TotalLabel);

    Tabs = new QTabWidget(this);
    BillsTable = MakeTable(
        {QStringLiteral("时间"), QStringLiteral("机器号"), QStringLiteral("上机时间"),
         QStringLiteral("下机时间"), QStringLiteral("共用时间"), QStringLiteral("上网费用"),
         QStringLiteral("附加费"), QStringLiteral("共需费用"), QStringLiteral("值班员")},
        Tabs, {5, 6, 7});
    Tabs->addTab(BillsTable, QStringLiteral("结账明细"));
    // A month's bills are read a page at a time, as the list is scrolled to its end.
    connect(BillsTable->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value < BillsTable->verticalScrollBar()->maximum()) return;
        desk.Guard([this] { ShowMoreBills(false); });
    });
    auto* sums = new QWidget(Tabs);
    auto* sumsLayout = new QHBoxLayout(sums);
    DayTable = MakeTable({QStringLiteral("日期"), QStringLiteral("金额（元）")}, sums, {1}, 0);
    ShiftTable =
        MakeTable({QStringLiteral("值班员/班次"), QStringLiteral("金额（元）")}, sums, {1}, 0);
    MachineTable =
        MakeTable({QStringLiteral("机器号"), QStringLiteral("金额（元）")}, sums, {1}, 0);
    for (QTableWidget* t : {DayTable, ShiftTable, MachineTable}) sumsLayout->addWidget(t);
    Tabs->addTab(sums, QStringLiteral("合计"));
    FlaggedTable =
        MakeTable({QStringLiteral("时间"), QStringLiteral("事项"), QStringLiteral("机器号"),
                   QStringLiteral("金额"), QStringLiteral("说明"), QStringLiteral("值班员")},
                  Tabs, {3});
    Tabs->addTab(FlaggedTable, QStringLiteral("需要注意"));
    PackageTable = MakeTable({QStringLiteral("包时"), QStringLiteral("笔数"),
                              QStringLiteral("金额（元）"), QStringLiteral("值班员/班次")},
                             Tabs, {2});
    Tabs->addTab(PackageTable, QStringLiteral("包时"));
    Tabs->setTabVisible(Tabs->indexOf(PackageTable), false);
    Chart = new HourChart(Tabs);
    Tabs->addTab(Chart, QStringLiteral("按钟点"));
    layout->addWidget(Tabs, 1);

    auto* buttons = new QHBoxLayout;
    CsvButton = new FlatButton(QStringLiteral("导出CSV"), this);
    PdfButton = new FlatButton(QStringLiteral("存为PDF"), this);
    PrintButton = new FlatButton(QStringLiteral("打  印"), this);
    ReceiptButton = new FlatButton(QStringLiteral("补打小票"), this);
    VerifyButton = new FlatButton(QStringLiteral("核对全部记录"), this);
    VerifyButton->setToolTip(
        QStringLiteral("从第一条起核对全部营业记录有没有被改动、删除或插入（在后台进行）"));
    buttons->addWidget(VerifyButton);
    buttons->addStretch();
    for (QPushButton* b : {CsvButton, PdfButton, PrintButton, ReceiptButton}) {
        b->setMinimumWidth(80);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(QueryButton, &QPushButton::clicked, this, desk.Guarded([this] { QueryClick(); }));
    connect(CsvButton, &QPushButton::clicked, this, desk.Guarded([this] { CsvClick(); }));
    connect(PdfButton, &QPushButton::clicked, this, desk.Guarded([this] { PdfClick(); }));
    connect(PrintButton, &QPushButton::clicked, this, desk.Guarded([this] { PrintClick(); }));
    connect(ReceiptButton, &QPushButton::clicked, this, desk.Guarded([this] { ReceiptClick(); }));
    connect(VerifyButton, &QPushButton::clicked, this, desk.Guarded([this] { VerifyClick(); }));
    DialogKeys(this);
    desk.Guard([this] {
        for (const QString& name : JournalDesks(desk)) DeskCombo->addItem(name);
        QueryClick();
    });
}

void TReport::VerifyClick() {
    // The whole chain, beside the window; the answer comes as a box when it is done, even if
    // this window has closed meanwhile.
    VerifyButton->setEnabled(false);
    QPointer<QPushButton> button = VerifyButton;
    Desk& d = desk;
    CheckJournalBeside(d, JournalCheck::Full, [&d, button](const ChainCheck& check) {
        if (button) button->setEnabled(true);
        if (check.result != ChainCheck::Intact) {
            d.prompts.message(ChainAlteredText(check));
            return;
        }
        // Seals that all hold prove nothing if they were all made again with another key.
        if (const QString alarm = SealKeyAlarm(d, check); !alarm.isEmpty()) {
            d.prompts.message(alarm);
            return;
        }
        d.prompts.message(QStringLiteral("全部营业记录核对完毕，没有发现改动") + SealsHeldText(check) +
                          QStringLiteral("。"));
    });
}

void TReport::QueryClick() {
    if (FromEdit->date() > ToEdit->date()) {
        desk.prompts.message(QStringLiteral("开始日期不能晚于结束日期。"));
        return;
    }
    const QString deskFilter =
        DeskCombo->currentIndex() <= 0 ? QString() : DeskCombo->currentText();
    m_report = LoadReport(desk, FromEdit->date(), ToEdit->date(), deskFilter);
    if (!m_report) {
        desk.prompts.message(QStringLiteral("营业记录无法读取，报表不能生成。"));
        return;
    }
    const Report& r = *m_report;
    ChainLabel->setVisible(r.check.result != ChainCheck::Intact);
    ChainLabel->setText(ChainAlteredText(r.check));
    TotalLabel->setText(
        QStringLiteral("合计：%1 元，共 %2 笔结账").arg(CentsText(r.totalCents)).arg(r.billCount) +
        (r.unsummable ? QStringLiteral("（其中 %1 笔金额无法计算，未计入合计，见“需要注意”）")
                            .arg(r.unsummable)
                      : QString()) +
        (r.packages.empty() ? QString()
                            : QStringLiteral("；包时 %1 元，现金合计 %2 元")
                                  .arg(CentsText(r.packageCents), CentsText(r.totalCents + r.packageCents))));
    QList<QStringList> packages;
    for (const ReportPackageLine& line : r.packages)
        packages << QStringList{line.kind, QString::number(line.count), CentsText(line.cents), line.shift};
    Fill(PackageTable, packages);
    Tabs->setTabVisible(Tabs->indexOf(PackageTable), !r.packages.empty());
    BillsTable->setRowCount(0);
    ShowMoreBills(false);
    Fill(DayTable, SumRows(r.perDay));
    Fill(ShiftTable, SumRows(r.perShift));
    Fill(MachineTable, SumRows(r.perMachine));
    QList<QStringList> flagged;
    for (const JournalRow& row : r.flagged)
        flagged << QStringList{row.at,          row.entry.kind, row.entry.machine,
                               row.entry.total, row.entry.note, row.operatorName};
    Fill(FlaggedTable, flagged);
    Chart->SetTakings(r.perHour);
    // As at start: a box the operator must read, and the mark stays above the tables.
    if (r.check.result != ChainCheck::Intact) desk.prompts.message(ChainAlteredText(r.check));
}

bool TReport::ShowMoreBills(bool all) {
    if (!m_report) return false;
    Report& r = *m_report;
    const int shown = BillsTable->rowCount();
    const bool unread = qsizetype(r.bills.size()) < r.billCount;
    if (unread && (all || size_t(shown) >= r.bills.size()) &&
        !(all ? ReadAllBills(desk, r) : ReadMoreBills(desk, r))) {
        desk.prompts.message(QStringLiteral("营业记录无法读取，报表不能生成。"));
        return false;
    }
    QList<QStringList> rows;
    for (size_t i = size_t(shown); i < r.bills.size(); ++i) rows << BillCells(r.bills[i]);
    if (!rows.isEmpty()) Fill(BillsTable, rows, shown);
    return true;
}

void TReport::CsvClick() {
    if (!m_report) return;
    // The file first: an export cancelled at the file dialog asks nobody and journals nothing.
    const auto path = desk.chooser.chooseSaveFile(
        QStringLiteral("营业报表-%1.csv").arg(m_report->from.toString(QStringLiteral("yyyyMMdd"))),
        QStringLiteral("CSV 文件 (*.csv)"));
    if (!path) return;
    const OwnerApproval approval(desk, QStringLiteral("导出报表"));
    if (!approval || !ShowMoreBills(true)) return;
    if (!WriteReportCsv(*path, *m_report, nullptr)) {
        desk.prompts.message(QStringLiteral("无法写入文件“%1”。").arg(*path));
        return;
    }
    desk.prompts.message(QStringLiteral("报表已导出到“%1”。").arg(*path));
}

ReportPrint TReport::PrintInfo() { return {CafeName(desk), desk.clock.nowDateTime()}; }

void TReport::PdfClick() {
    if (!m_report) return;
    // The file first: an export cancelled at the file dialog asks nobody and journals nothing.
    const auto path = desk.chooser.chooseSaveFile(
        QStringLiteral("营业报表-%1.pdf").arg(m_report->from.toString(QStringLiteral("yyyyMMdd"))),
        QStringLiteral("PDF 文件 (*.pdf)"));
    if (!path) return;
    const OwnerApproval approval(desk, QStringLiteral("导出报表"));
    if (!approval || !ShowMoreBills(true)) return;
    QString why;
    if (!WriteReportPdf(*path, *m_report, PrintInfo(), &why)) {
        desk.prompts.message(QStringLiteral("无法写入文件“%1”：%2").arg(*path, why));
        return;
    }
    desk.prompts.message(QStringLiteral("报表已存为“%1”。").arg(*path));
}

void TReport::PrintClick() {
    if (!m_report) return;
    const OwnerApproval approval(desk, QStringLiteral("打印报表"));
    if (!approval || !ShowMoreBills(true)) return;
    Print(this, [this](QPrinter& printer) {
        UseA4(printer);
        PaintReport(printer, *m_report, PrintInfo());
    });
}

void TReport::ReceiptClick() {
    const int row = BillsTable->currentRow();
    if (!m_report || row < 0 || row >= int(m_report->bills.size())) {
        desk.prompts.message(QStringLiteral("请先在结账明细中选中一笔账。"));
        return;
    }
    const OwnerApproval approval(desk, QStringLiteral("补打小票"));
    if (!approval) return;
    const ReportBill bill = m_report->bills[size_t(row)];
    const ReportPrint info = PrintInfo();
    const ReceiptPrint receipt{info.cafeName, info.printedAt, true, TSettings::Paper(desk)};
    Print(this, [&](QPrinter& printer) { PaintReceipt(printer, bill, receipt); });
}

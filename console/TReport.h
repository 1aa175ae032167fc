#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <optional>

#include "ledger/Report.h"
#include "printing/ReportDocument.h"

class Desk;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;
class QTabWidget;

// Takings by hour of the day, as bars.
class HourChart : public QWidget {
    Q_OBJECT
  public:
    explicit HourChart(QWidget* parent = nullptr);
    void SetTakings(const std::array<qint64, 24>& cents);
    QSize sizeHint() const override { return {480, 220}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<qint64, 24> m_cents{};
};

// "营业报表": the settled bills of a day or range from the journal, totals per day, shift and
// machine, the flagged events, takings by hour; CSV, print or PDF, and a receipt reprinted.
class TReport : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TReport> report;  // the newest instance

    TReport(Desk& desk, QWidget* owner);

    QDateEdit* FromEdit;
    QDateEdit* ToEdit;
    QComboBox* DeskCombo;  // "全部前台" or one desk
    QPushButton* QueryButton;
    QLabel* ChainLabel;  // says so when the journal does not verify
    QLabel* TotalLabel;
    QTabWidget* Tabs;
    QTableWidget* BillsTable;
    QTableWidget* DayTable;
    QTableWidget* ShiftTable;
    QTableWidget* MachineTable;
    QTableWidget* FlaggedTable;
    QTableWidget* PackageTable;  // its tab only while the days hold package money
    HourChart* Chart;
    QPushButton* CsvButton;
    QPushButton* PdfButton;
    QPushButton* PrintButton;
    QPushButton* ReceiptButton;
    QPushButton* VerifyButton;

    const std::optional<Report>& Shown() const { return m_report; }

    void QueryClick();
    void CsvClick();
    void PdfClick();
    void PrintClick();
    void ReceiptClick();
    void VerifyClick();
    // The bills read but not yet in the list, after reading the next page (or all of them);
    // false, after its box, when the journal cannot be read.
    bool ShowMoreBills(bool all);

    // The café's name as set now, and the desk's clock.
    ReportPrint PrintInfo();

  private:
    Desk& desk;
    std::optional<Report> m_report;
};

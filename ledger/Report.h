#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "ledger/BillDetail.h"
#include "ledger/Journal.h"

class Desk;

// One settled bill of the journal (a 结账下机 row), amounts in fen.
struct ReportBill {
    qint64 id = 0;
    QString at, desk, operatorName, machine, start, end, used, fee, other, total, state;
    QString shift;  // the operator and the opening of the shift it fell in
    qint64 feeCents = 0, otherCents = 0, totalCents = 0;
    // False when an amount is not one (written by another tool, or before amounts were
    // bounded): the bill is listed with its texts and flagged, and counted in no total.
    bool summable = true;
    BillDetail detail;  // under a price plan: the zone and the runs of hour slots
};

// Money of packages (time sold up front) moved in or out of the drawer: one line per kind
// (售出, 续时, 作废, 退款) and shift, as the bills' totals are grouped.
struct ReportPackageLine {
    QString kind;   // the journal's kind: 包时售出 …
    QString shift;  // as perShift names it
    int count = 0;
    qint64 cents = 0;  // a void and a refund are negative
};

// 营业报表 for the days from..to (a bill belongs to the day it was settled), of one desk or all.
struct Report {
    QDate from, to;
    QString desk;  // empty: every desk
    // The bills read so far, in journal order: a page at first (ReadMoreBills, ReadAllBills);
    // billCount: all of them.
    std::vector<ReportBill> bills;
    qsizetype billCount = 0;
    std::vector<JournalRow> flagged;  // deleted while in session, midnight switches, short cash
    std::vector<std::pair<QDate, qint64>> perDay;
    std::vector<std::pair<QString, qint64>> perShift;
    std::vector<std::pair<QString, qint64>> perMachine;
    std::array<qint64, 24> perHour{};
    qint64 totalCents = 0;
    // The packages' lines, by kind then shift; their sum. The cash taken is both totals.
    std::vector<ReportPackageLine> packages;
    qint64 packageCents = 0;
    int unsummable = 0;  // bills listed but in no total (they are among the flagged)
    ChainCheck check;  // of the rows shown, and of the journal's completeness
};

// The bills a report reads at first, and at each ReadMoreBills.
inline constexpr int kReportPage = 500;

// nullopt when the journal cannot be read. The totals come from the kept sums and the rows
// after them; the bills only as the first page.
std::optional<Report> LoadReport(Desk& desk, const QDate& from, const QDate& to,
                                 const QString& deskFilter = {});
// The next page of the report's bills (up to count); false when the journal cannot be read.
bool ReadMoreBills(Desk& desk, Report& report, int count = kReportPage);
// Every bill, before a report is written out or printed whole.
bool ReadAllBills(Desk& desk, Report& report);

// Sums the settled bills written since the last fold into the kept sums, on the named
// connection; journalLock: the engine's (no row is numbered meanwhile). Another desk folding
// at the same moment leaves it to that one. False (nothing changed) with error on a failure:
// the reports stay right, summing the rows after the kept sums from the journal.
bool FoldReportSums(const QString& connectionName, const QString& journalLock, QString* error);
// Said after a whole check that found the kept sums changed and made them again.
inline const QString kSumsRedoneText = QStringLiteral(
    "报表的合计记录与营业记录不符（数据库被其他程序改动过），已按营业记录重新计算。"
    "营业记录本身核对无误。");
// Whether the kept sums are exactly the journal's bills up to their mark (another tool may have
// changed them: they are outside the chain); nullopt, with error, when they cannot be read.
std::optional<bool> ReportSumsHold(const QString& connectionName, QString* error);
// Sums them again from the journal.
bool RebuildReportSums(const QString& connectionName, const QString& journalLock, QString* error);
// After a whole check that held: what to say when the kept sums were not the journal's (made
// again, or why they could not be); empty when they hold or cannot be read.
QString RedoReportSumsIfChanged(const QString& connectionName, const QString& journalLock);

// The desks that appear in the journal, for choosing one.
QStringList JournalDesks(Desk& desk);

// UTF-8 with a byte-order mark and CR LF, so Excel and WPS open it as Chinese text. A text cell
// that a spreadsheet would run as a formula (= + - @ first) is kept as text with an apostrophe;
// amounts are numbers and stay as they are.
QByteArray ReportCsv(const Report& report);
// Those bytes into path, whole or not at all; why: what failed.
bool WriteReportCsv(const QString& path, const Report& report, QString* why);

// A list of sums as the report's tables show it: the day (yyyy-MM-dd) or the name, then the
// amount.
QList<QStringList> SumRows(const std::vector<std::pair<QDate, qint64>>& sums);
QList<QStringList> SumRows(const std::vector<std::pair<QString, qint64>>& sums);

// A bill as the report's tables show it: time, machine, start, end, used, fee, extra charges,
// total, operator.
QStringList BillCells(const ReportBill& bill);

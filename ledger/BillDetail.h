#pragma once

#include <QString>
#include <vector>

// Under a price plan, a bill explained as 明细 shows it: the machine's zone and each run of hour
// slots with its times, how it was counted and its amount. It rides in the checkout's journal
// row, so a receipt printed later lists the same runs; a bill without a plan has none.
struct BillRun {
    QString label;   // 00:50–02:50, or what the amount is (通宵前的上网费)
    QString detail;  // 2小时 × 7元/小时; may be empty
    QString amount;  // yuan, as the bill writes money: 14, 4.7
};

struct BillDetail {
    QString zone;
    std::vector<BillRun> runs;
    bool empty() const { return zone.isEmpty() && runs.empty(); }
};

// The journal note with the detail after it (the note unchanged when the detail is empty), and
// back: the detail a note carries.
QString NoteWithDetail(const QString& note, const BillDetail& detail);
BillDetail DetailOfNote(const QString& note);

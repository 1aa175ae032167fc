#include "ledger/BillDetail.h"

#include <QStringList>

namespace {

// The detail starts at this line of the note; each run is one line of three tab-separated
// fields.
const QString kMark = QStringLiteral("明细：");

QString Field(QString text) {
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

qsizetype MarkAt(const QString& note) {
    if (note.startsWith(kMark)) return 0;
    const qsizetype at = note.indexOf(QLatin1Char('\n') + kMark);
    return at < 0 ? -1 : at + 1;
}

}  // namespace

QString NoteWithDetail(const QString& note, const BillDetail& detail) {
    if (detail.empty()) return note;
    QStringList lines{kMark + Field(detail.zone)};
    for (const BillRun& run : detail.runs)
        lines << Field(run.label) + QLatin1Char('\t') + Field(run.detail) + QLatin1Char('\t') +
                     Field(run.amount);
    return (note.isEmpty() ? QString() : note + QLatin1Char('\n')) + lines.join(QLatin1Char('\n'));
}

BillDetail DetailOfNote(const QString& note) {
    BillDetail detail;
    const qsizetype at = MarkAt(note);
    if (at < 0) return detail;
    const QStringList lines = note.mid(at + kMark.size()).split(QLatin1Char('\n'));
    detail.zone = lines.value(0);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char('\t'));
        if (f.size() == 3) detail.runs.push_back({f[0], f[1], f[2]});
    }
    return detail;
}

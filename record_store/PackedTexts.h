#pragma once

#include <QString>
#include <QStringView>
#include <vector>

// Many short texts in one buffer: thousands of names without a string (and an allocation) each.
// Text i is text[ends[i-1] .. ends[i]).
struct PackedTexts {
    QString text;
    std::vector<qsizetype> ends;

    qsizetype size() const { return qsizetype(ends.size()); }
    QStringView at(qsizetype i) const {
        const qsizetype from = i == 0 ? 0 : ends[size_t(i - 1)];
        return QStringView(text).mid(from, ends[size_t(i)] - from);
    }
    // Empty again, the buffers kept for the next read.
    void clear() {
        text.resize(0);
        ends.clear();
    }
    void append(QStringView piece) {
        text.append(piece);
        ends.push_back(text.size());
    }
    bool operator==(const PackedTexts& other) const {
        return ends == other.ends && text == other.text;
    }
};

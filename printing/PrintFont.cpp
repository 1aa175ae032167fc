#include "printing/PrintFont.h"

#include <QFontDatabase>
#include <QRawFont>

namespace {

// A font that has no glyph for any radical cannot be mistaken for one.
bool DrawsNoRadicals(const QString& family) {
    const QRawFont raw = QRawFont::fromFont(QFont(family), QFontDatabase::SimplifiedChinese);
    if (!raw.isValid() || !raw.supportsCharacter(QChar(0x7F51))) return false;  // 网
    for (char32_t radical = 0x2E80; radical <= 0x2FDF; ++radical)
        if (raw.supportsCharacter(radical)) return false;
    return true;
}

}  // namespace

QString PrintFamily() {
    static const QString chosen = [] {
        const QStringList installed = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        for (const char* family : {"WenQuanYi Micro Hei", "WenQuanYi Zen Hei", "AR PL UMing CN",
                                   "AR PL UKai CN", "Noto Sans CJK SC", "Noto Serif CJK SC"}) {
            const QString name = QString::fromLatin1(family);
            if (installed.contains(name) && DrawsNoRadicals(name)) return name;
        }
        for (const QString& name : installed)
            if (DrawsNoRadicals(name)) return name;
        return QString();
    }();
    return chosen;
}

QFont PrintFont(qreal points, bool bold) {
    QFont font;
    if (!PrintFamily().isEmpty()) font.setFamilies({PrintFamily()});
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setKerning(false);
    return font;
}

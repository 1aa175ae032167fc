#pragma once

#include <QFont>
#include <QString>

// The CJK font printed documents use. Qt's PDF writer names each glyph by the lowest code point
// that draws it; a font that draws the Kangxi radicals with the same glyphs as the ideographs
// (Noto CJK does) gives a text layer where "青岚网吧" reads "⻘岚⽹吧", so search and copy fail.
// The first installed family without radical glyphs is taken; empty when there is none.
QString PrintFamily();

// That family at a size in points.
QFont PrintFont(qreal points, bool bold = false);

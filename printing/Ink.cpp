#include "printing/Ink.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

Ink::Ink(const QPaintDevice& device) : m_device(device), m_perPoint(device.logicalDpiY() / 72.0) {}

void Ink::Rule(QPainter& p, double x1, double x2, double y, double weight,
               const QColor& colour) const {
    p.save();
    p.setPen(QPen(colour, pt(weight)));
    p.drawLine(QPointF(x1, y), QPointF(x2, y));
    p.restore();
}

void Ink::Text(QPainter& p, const QRectF& box, const QString& text, Qt::Alignment align) const {
    const QFontMetricsF metrics(p.font(), &m_device);
    p.drawText(box, int(align | Qt::AlignVCenter) | Qt::TextSingleLine,
               metrics.elidedText(text, Qt::ElideMiddle, box.width()));
}

double Ink::LineHeight(const QFont& font) const { return QFontMetricsF(font, &m_device).height(); }

double Ink::Width(const QFont& font, const QString& text) const {
    return QFontMetricsF(font, &m_device).horizontalAdvance(text);
}

QString DateAndTime(const QDateTime& at) {
    return at.isValid() ? at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

bool WritePdf(const QString& path, const QString& title,
              const std::function<bool(QPdfWriter& writer)>& paint, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("青岚网吧综合管理系统"));
        writer.setResolution(300);
        painted = paint(writer);
    }
    if (!painted) {
        file.cancelWriting();
        if (error) *error = QStringLiteral("PDF 无法生成");
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

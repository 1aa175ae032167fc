#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QString>
#include <functional>

class QPainter;
class QPaintDevice;
class QPagedPaintDevice;
class QPdfWriter;

// Lengths on a page are written in points (1/72 inch) and drawn in the device's own units.
class Ink {
  public:
    explicit Ink(const QPaintDevice& device);
    double pt(double points) const { return points * m_perPoint; }
    double mm(double millimetres) const { return pt(millimetres * 72.0 / 25.4); }

    // A horizontal rule of the given weight in points.
    void Rule(QPainter& p, double x1, double x2, double y, double weight,
              const QColor& colour = Qt::black) const;
    // Text in a box, shortened with "…" where it does not fit.
    void Text(QPainter& p, const QRectF& box, const QString& text, Qt::Alignment align) const;
    // Line height of a font on this device.
    double LineHeight(const QFont& font) const;
    double Width(const QFont& font, const QString& text) const;

  private:
    const QPaintDevice& m_device;
    double m_perPoint;
};

// Writes a PDF whose pages paint fills (false when it could not), whole or not at all: a file
// that fails half-way is not left behind. False with the reason.
bool WritePdf(const QString& path, const QString& title,
              const std::function<bool(QPdfWriter& writer)>& paint, QString* error);

// The document's own text for a time of day as the journal holds it ("9:5:7" or "09:05:07"),
// with its date; invalid when it is not a time.
QString DateAndTime(const QDateTime& at);

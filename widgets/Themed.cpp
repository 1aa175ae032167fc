#include "widgets/Themed.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QStyledItemDelegate>

QFont ThemedFont(const QString& windowsFamily, int pixelSize) {
    QFont font;
    font.setFamilies({windowsFamily, QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK")});
    font.setPixelSize(pixelSize);
    return font;
}

GradientPanel::GradientPanel(QWidget* parent) : QWidget(parent) {}

void GradientPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = rect();
    // A circular gradient stretched to the panel's shape is an ellipse.
    p.translate(r.center());
    p.scale(r.width() / 2.0, r.height() / 2.0);
    QRadialGradient g(QPointF(0, 0), 1.0);
    g.setColorAt(0.0, Qt::white);
    g.setColorAt(1.0, QColor(166, 202, 240));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRect(QRectF(-1, -1, 2, 2));
}

FlatButton::FlatButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    setStyleSheet(QStringLiteral(
        "QPushButton { background-color: rgb(166, 202, 240); border: 1px solid rgb(0, 128, 0); }"
        "QPushButton:pressed { background-color: rgb(136, 178, 224); }"
        "QPushButton:default { border: 2px solid rgb(0, 128, 0); }"
        "QPushButton:disabled { color: rgb(128, 128, 128); border-color: rgb(150, 170, 150); }"));
}

FlatButton::FlatButton(const QString& text, const char* objectName, const QRect& place,
                       QWidget* parent)
    : FlatButton(text, parent) {
    setObjectName(QString::fromLatin1(objectName));
    setGeometry(place);
}

QIcon ToolBarIcon(int index) {
    struct Look {
        QColor colour;
        const char* glyph;
    };
    static const Look looks[] = {
        {QColor(46, 139, 87), "上"},  {QColor(178, 34, 34), "下"},  {QColor(218, 165, 32), "附"},
        {QColor(70, 130, 180), "信"}, {QColor(106, 90, 205), "转"}, {QColor(0, 128, 128), "?"},
        {QColor(128, 128, 128), "·"}, {QColor(139, 0, 0), "关"},    {QColor(205, 92, 92), "全"},
        {QColor(72, 61, 139), "屏"},
    };
    const Look& look = looks[index >= 0 && index < 10 ? index : 6];
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
    p.fillPath(path, look.colour);
    p.setPen(look.colour.darker(140));
    p.drawPath(path);
    p.setPen(Qt::white);
    p.setFont(ThemedFont(QStringLiteral("SimHei"), 18));
    p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QString::fromUtf8(look.glyph));
    return QIcon(pixmap);
}

namespace {
class FocusHighlightDelegate : public QStyledItemDelegate {
  public:
    explicit FocusHighlightDelegate(SessionGridView* view)
        : QStyledItemDelegate(view), m_view(view) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!m_view->hasFocus()) option->state &= ~QStyle::State_Selected;
        if (m_view->Marked(index)) {
            option->backgroundBrush = QColor(220, 30, 30);
            option->palette.setColor(QPalette::Text, Qt::white);
        }
    }

  private:
    SessionGridView* m_view;
};
}  // namespace

SessionGridView::SessionGridView(QWidget* parent) : QTableView(parent) {
    setItemDelegate(new FocusHighlightDelegate(this));
}

void SessionGridView::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    viewport()->update();
}

void SessionGridView::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void FitOuterSize(QWidget* window, const QSize& outer, bool fixed) {
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    const QSize inner = outer - frame;
    if (fixed)
        window->setFixedSize(inner);
    else
        window->resize(inner);
}

QPoint SessionGridView::ScrollPosition() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void SessionGridView::RestoreScroll(const QPoint& position) {
    updateGeometries();  // the scroll ranges of the new rows
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        QRadialGradient sky(QPointF(32, 25), 42);
        sky.setColorAt(0, Qt::white);
        sky.setColorAt(1, QColor(166, 202, 240));
        const QColor blue(58, 110, 165);
        p.setPen(QPen(blue, 3));
        p.setBrush(sky);
        p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawRoundedRect(QRectF(14, 16, 36, 24), 2, 2);
        p.fillRect(QRectF(17, 19, 30, 18), QColor(232, 242, 252));
        p.fillRect(QRectF(28, 40, 8, 6), blue);
        p.drawRoundedRect(QRectF(20, 46, 24, 4), 2, 2);
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(46, 139, 87));
        p.drawEllipse(QPointF(46, 44), 9, 9);
        QFont font = p.font();
        font.setPixelSize(12);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRectF(37, 35, 18, 18), Qt::AlignCenter, QStringLiteral("¥"));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void DialogKeys(QWidget* window, QAbstractButton* returnButton) {
    if (!returnButton) {
        DialogKeys(window, std::function<QAbstractButton*()>());
        return;
    }
    if (auto* push = qobject_cast<QPushButton*>(returnButton)) push->setDefault(true);
    DialogKeys(window, [returnButton] { return returnButton; });
}

void DialogKeys(QWidget* window, std::function<QAbstractButton*()> returnButton) {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
    if (!returnButton) return;
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* press = new QShortcut(QKeySequence(key), window);
        press->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(press, &QShortcut::activated, window, [window, returnButton] {
            // As in a dialog: the push button with the focus is the one Return means; a check
            // box or a choice with the focus is not toggled by it, the default is pressed.
            QAbstractButton* button = qobject_cast<QPushButton*>(window->focusWidget());
            if (!button) button = returnButton();
            if (button && button->isEnabled() && button->isVisible()) button->click();
        });
    }
}

QString KeepParenthesesTogether(const QString& text) {
    QString html;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype open = text.indexOf(u'（', at);
        const qsizetype close = open < 0 ? -1 : text.indexOf(u'）', open);
        if (close < 0) {
            html += text.mid(at).toHtmlEscaped();
            break;
        }
        html += text.mid(at, open - at).toHtmlEscaped() +
                QStringLiteral("<span style=\"white-space:nowrap\">") +
                text.mid(open, close - open + 1).toHtmlEscaped() + QStringLiteral("</span>");
        at = close + 1;
    }
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return html;
}

void NameField(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    QString name = label->text();
    name.remove(QLatin1Char('&'));
    name.remove(QRegularExpression(QStringLiteral("[：:\\s]+$")));
    field->setAccessibleName(name.trimmed());
}

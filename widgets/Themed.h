#pragma once

#include <QFont>
#include <QIcon>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <QWidget>

class QAbstractButton;
class QLabel;
#include <functional>

// A font by its Windows name, falling back to an installed CJK font so Chinese text renders.
QFont ThemedFont(const QString& windowsFamily, int pixelSize);

// Gives a window its outer size, frame included, once it is shown and its frame is known; with
// no frame drawn the whole size is the client area.
void FitOuterSize(QWidget* window, const QSize& outer, bool fixed);

// The left panel's fill: an elliptic gradient from sky blue (166, 202, 240) to white.
class GradientPanel : public QWidget {
    Q_OBJECT
  public:
    explicit GradientPanel(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// Flat button: sky-blue face, green border.
class FlatButton : public QPushButton {
    Q_OBJECT
  public:
    FlatButton(const QString& text, QWidget* parent);
    FlatButton(const QString& text, const char* objectName, const QRect& place, QWidget* parent);
};

// The program's icon (the same picture as the installed scalable one).
QIcon AppIcon();

// Escape closes the window (closing hides it). Return, when a default is given, presses the
// push button that has the focus, or else the default (shown as such); a default that changes
// with the window's step is given as a function.
void DialogKeys(QWidget* window, QAbstractButton* returnButton = nullptr);
void DialogKeys(QWidget* window, std::function<QAbstractButton*()> returnButton);

// Plain text as rich text for a label that wraps, each "（…）" kept on one line: Chinese text
// may break between any two characters, and "（本机文件）" must not.
QString KeepParenthesesTogether(const QString& text);

// A label names its field: the buddy for its access key and the field's accessible name.
void NameField(QLabel* label, QWidget* field);

// The 32 x 32 tool-bar images, drawn here so the console needs no icon theme.
QIcon ToolBarIcon(int index);

// The session grid's look: the highlighted row shows only while the grid has the focus.
class SessionGridView : public QTableView {
    Q_OBJECT
  public:
    explicit SessionGridView(QWidget* parent = nullptr);
    // Cells drawn in red (a reminder that has fallen due).
    void SetMarker(std::function<bool(const QModelIndex&)> marker) { m_marker = std::move(marker); }
    bool Marked(const QModelIndex& index) const { return m_marker && m_marker(index); }

    // Puts the view back where it stood before its rows were replaced.
    void RestoreScroll(const QPoint& position);
    QPoint ScrollPosition() const;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    std::function<bool(const QModelIndex&)> m_marker;
};

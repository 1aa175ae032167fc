#pragma once

#include <QFont>
#include <QIcon>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <QWidget>

// A font by its Windows name, falling back to an installed CJK font so Chinese text renders.
QFont ThemedFont(const QString& windowsFamily, int pixelSize);

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

// The 32 x 32 tool-bar images, drawn here so the console needs no icon theme.
QIcon ToolBarIcon(int index);

// The session grid's look: the highlighted row shows only while the grid has the focus.
class SessionGridView : public QTableView {
    Q_OBJECT
  public:
    explicit SessionGridView(QWidget* parent = nullptr);

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

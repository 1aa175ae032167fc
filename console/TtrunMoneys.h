#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class Desk;
class QComboBox;
class FlatButton;

// "转账": moves a running session to an idle machine.
class TtrunMoneys : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TtrunMoneys> trunMoneys;  // the newest instance

    TtrunMoneys(Desk& desk, QWidget* owner);

    QComboBox* FlatComboBox1;  // from: machines in session
    QComboBox* FlatComboBox2;  // to: idle machines
    FlatButton* XP_Button1;    // 转  账

    void XP_Button1Click();

  private:
    Desk& desk;
};

#pragma once

#include <QWidget>

class Desk;
class QLabel;
class QLineEdit;
class FlatButton;

// "下机": the bill of one machine, and the checkout itself. One instance for the program's life.
class Tinformation : public QWidget {
    Q_OBJECT
  public:
    Tinformation(Desk& desk, QWidget* owner);

    QLineEdit* la_computername;
    QLineEdit* la_startime;
    QLineEdit* la_nowtime;
    QLineEdit* la_totaltime;
    QLineEdit* la_timemoney;
    QLineEdit* la_othermoney;
    QLineEdit* la_allmoney;
    QLineEdit* la_tishitime;
    QLineEdit* la_onStatus;
    FlatButton* XP_Button1;  // 结账下机
    FlatButton* XP_Button2;  // 转  账
    FlatButton* XP_Button3;  // 返  回
    FlatButton* DetailButton;  // 明细: the bill explained
    QLabel* PackageLine;       // a package session's prepaid part, what is due and the refund

    // Fills the fields from the grid query's row (-1: all empty) and shows the dialog.
    void ShowRow(int gridRow);
    QString ShownMachine() const;

    void XP_Button1Click();
    void XP_Button3Click();
    void DetailClick();
    void ShowPackage();

  private:
    Desk& desk;
};

// 下机 / double-click: the bill of the highlighted machine, or a session start when it is idle.
void OpenCheckout(Desk& desk, Tinformation& dialog);

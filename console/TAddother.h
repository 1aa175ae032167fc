#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class Desk;
class QComboBox;
class QLineEdit;
class FlatButton;

// "添加附加费": adds an amount to the extra charges and the total of a machine in session.
class TAddother : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TAddother> Addother;  // the newest instance

    TAddother(Desk& desk, QWidget* owner);

    QComboBox* FlatComboBox1;  // the machine (editable)
    QLineEdit* FlatEdit1;      // 原附加费, as read at the selection
    QLineEdit* FlatEdit2;      // the amount to add
    FlatButton* XP_Button1;    // 添   加
    FlatButton* XP_Button2;    // 返   回
    QString OldTotalText;      // Tsum as read at the selection

    void LoadChargeMachines();
    void FlatComboBox1Change();  // the selection check
    void XP_Button1Click();
    void XP_Button2Click();

  private:
    Desk& desk;
    bool m_checked = false;  // the text in the box has been checked since it was last edited
};

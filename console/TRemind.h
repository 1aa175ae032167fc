#pragma once

#include <QPointer>
#include <QWidget>

class Desk;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

// "定时提醒": a reminder for the machine of the highlighted row, at a time of day or in some
// minutes, with an optional message to the client.
class TRemind : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TRemind> remind;  // the newest instance

    TRemind(Desk& desk, const QString& machine, QWidget* owner);

    const QString Machine;
    QLabel* MachineLabel;
    QRadioButton* AtButton;
    QTimeEdit* AtEdit;
    QRadioButton* InButton;
    QSpinBox* MinutesEdit;
    QCheckBox* MessageBox;  // 同时给客户机发消息
    QPushButton* SetButton;
    QPushButton* BackButton;

    void SetClick();

  private:
    Desk& desk;
};

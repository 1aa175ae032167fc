#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

#include "ledger/Shifts.h"

class Desk;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "交班": opens a shift with the operator's name and the opening float; closes it with a blind
// count: the cash counted is typed first, and only then the expected cash and the difference
// are shown, the count recorded as it stands; a difference needs a note.
class TShift : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TShift> shift;  // the newest instance

    TShift(Desk& desk, QWidget* owner);

  signals:
    void closed();  // the shift was handed over

  public:

    QLabel* CurrentLabel;
    QGroupBox* OpenBox;
    QLineEdit* OperatorEdit;
    QLineEdit* FloatEdit;
    QPushButton* OpenButton;  // 开  班
    QGroupBox* CloseBox;
    QLineEdit* CountedEdit;
    QPushButton* CountButton;  // 清点完毕; 复  点 once the first count is recorded
    QLabel* ExpectedLabel;     // shown only after the count
    QLabel* DifferenceLabel;
    QLineEdit* NoteEdit;
    QPushButton* CloseButton;  // 确认交班

    void Refresh();  // the state of this desk's shift
    void OpenClick();
    void CountClick();
    void CloseClick();

  private:
    void ShowCount(const std::optional<ShiftCount>& count);
    Desk& desk;
};

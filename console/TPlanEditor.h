#pragma once

#include <QPointer>
#include <QWidget>

class Desk;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// "价格方案" (from 设置): the plan as its JSON text (zones, bands per day type, holidays,
// overnight, machines), checked before it is saved; the date-time it takes effect; turning it
// off; and 试算, the bill of a zone from a start to an end.
class TPlanEditor : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TPlanEditor> planEditor;  // the newest instance

    TPlanEditor(Desk& desk, QWidget* owner);

    // The owner's approval 设置 was opened with: saving or turning off a plan names the owner.
    QString approverId;

    QLabel* StateLabel;
    QPlainTextEdit* PlanText;
    QLineEdit* FromEdit;
    QPushButton* CheckButton;
    QPushButton* SaveButton;
    QPushButton* OffButton;
    QComboBox* PreviewZone;
    QLineEdit* PreviewStart;
    QLineEdit* PreviewEnd;
    QPushButton* PreviewButton;
    QPlainTextEdit* PreviewResult;

    void LoadPlan();
    void CheckClick();
    void SaveClick();
    void OffClick();
    void PreviewClick();

  private:
    Desk& desk;
};

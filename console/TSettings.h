#pragma once

#include <QPointer>
#include <QWidget>

#include "printing/Receipt.h"

class Desk;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "设置": the prices, the café's name and the receipt paper, the database in use and the
// backups.
class TSettings : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TSettings> settings;  // the newest instance

    TSettings(Desk& desk, QWidget* owner);

    QLineEdit* HourlyEdit;      // 上网单价 (OneTime)
    QLineEdit* OvernightEdit;   // 通宵价 (Tnight)
    QPushButton* SaveButton;    // 保存价格
    QLineEdit* CafeNameEdit;    // 网吧名称: the same on every desk (in the database)
    QComboBox* PaperCombo;      // 小票纸: this desk's receipt printer
    QPushButton* CafeButton;    // 保存名称和小票纸
    QLabel* DatabaseLabel;      // the database in use
    QPushButton* ChooseButton;  // 选择数据库…
    QPushButton* BackupButton;  // 立即备份
    QPushButton* RestoreButton;  // 从备份恢复…

    void LoadPrices();
    void SaveClick();
    void CafeClick();
    void ChooseClick();
    void BackupClick();
    void RestoreClick();

    // The paper this desk's receipts are printed on.
    static ReceiptPaper Paper(Desk& desk);

  private:
    void ShowDatabase(const QString& next = {});
    Desk& desk;
};

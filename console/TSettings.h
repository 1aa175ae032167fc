#pragma once

#include <QPointer>
#include <QWidget>

class Desk;
class QLabel;
class QLineEdit;
class QPushButton;

// "设置": the prices, the database in use and the backups.
class TSettings : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TSettings> settings;  // the newest instance

    TSettings(Desk& desk, QWidget* owner);

    QLineEdit* HourlyEdit;      // 上网单价 (OneTime)
    QLineEdit* OvernightEdit;   // 通宵价 (Tnight)
    QPushButton* SaveButton;    // 保存价格
    QLabel* DatabaseLabel;      // the database in use
    QPushButton* ChooseButton;  // 选择数据库…
    QPushButton* BackupButton;  // 立即备份
    QPushButton* RestoreButton;  // 从备份恢复…

    void LoadPrices();
    void SaveClick();
    void ChooseClick();
    void BackupClick();
    void RestoreClick();

  private:
    Desk& desk;
};

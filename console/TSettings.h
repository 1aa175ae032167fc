#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

#include "printing/Receipt.h"

class Desk;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

// command as a dialog's handler that runs with the owner's approval the dialog was opened with
// (approverId, read when it runs): the rows it writes name the owner as approver.
std::function<void()> WithApprover(Desk& desk, const QString& approverId,
                                   std::function<void()> command);

// "设置": the prices, the café's name and the receipt paper, the database in use and the
// backups, the operators and the owner's seal.
class TSettings : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TSettings> settings;  // the newest instance

    TSettings(Desk& desk, QWidget* owner);

    // The owner whose password opened the window for a cashier: the rows its commands write
    // name them as approver. Empty: nobody approved (the owner signed in, or sign-in off).
    QString approverId;

    QLineEdit* HourlyEdit;      // 上网单价 (OneTime)
    QLineEdit* OvernightEdit;   // 通宵价 (Tnight)
    QPushButton* SaveButton;    // 保存价格
    QLineEdit* CafeNameEdit;    // 网吧名称: the same on every desk (in the database)
    QComboBox* PaperCombo;      // 小票纸: this desk's receipt printer
    QPushButton* CafeButton;    // 保存名称和小票纸
    QPushButton* PlanButton;    // 价格方案与试算…
    QPushButton* PackagesButton;  // 包时套餐…
    QLabel* DatabaseLabel;      // the database in use
    QPushButton* ChooseButton;  // 选择数据库…
    QPushButton* BackupButton;  // 立即备份
    QPushButton* RestoreButton;  // 从备份恢复…

    // 操作员
    QLabel* SignInLabel;         // whether sign-in is on
    QListWidget* AccountList;    // name（role）, 停用
    QLineEdit* AccountNameEdit;
    QComboBox* RoleBox;          // 收银员, 店主
    QLineEdit* PinEdit;          // never echoes
    QLineEdit* PinAgainEdit;
    QPushButton* EnableButton;   // 打开操作员登录
    QPushButton* DisableButton;  // 关闭操作员登录
    QPushButton* AddAccountButton;
    QPushButton* ToggleButton;   // 停用/启用
    QPushButton* ResetPinButton;
    QPushButton* SealButton;     // 店主封账
    QSpinBox* IdleMinutesBox;
    QPushButton* IdleSaveButton;

    void LoadPrices();
    void LoadAccounts();
    void EnableClick();
    void DisableClick();
    void AddAccountClick();
    void ToggleClick();
    void ResetPinClick();
    void SealClick();
    void IdleSaveClick();
    void SaveClick();
    void CafeClick();
    void ChooseClick();
    void BackupClick();
    void RestoreClick();

    // The paper this desk's receipts are printed on.
    static ReceiptPaper Paper(Desk& desk);

  private:
    std::function<void()> Owned(std::function<void()> command);
    QString SelectedAccount() const;
    // The two fields' text when they agree (cleared either way); nullopt after a box.
    std::optional<QString> TypedTwice();
    void ShowDatabase(const QString& next = {});
    Desk& desk;
};

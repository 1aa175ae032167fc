#pragma once

#include <QJsonObject>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

#include "packages/Package.h"

class Desk;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;

// "包时套餐" (from 设置): the catalogue of packages, one package in the form below the list.
// 添加, 修改 and 删除 each save the whole catalogue at once, checked as `cafe-admin packages
// import` checks a file, with a journal row; on any problem nothing changes and the box names
// the package and the field. Packages already sold keep what they were sold as.
class TPackageEditor : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<TPackageEditor> packageEditor;  // the newest instance

    // Opens a new editor for 设置, going on with its owner's approval; null after a box when
    // no price plan is in force or the catalogue cannot be read.
    static TPackageEditor* Open(Desk& desk, QWidget* owner, const QString& approverId);

    TPackageEditor(Desk& desk, QWidget* owner);

    // The owner's approval 设置 was opened with: every save names the owner.
    QString approverId;

    QTableWidget* PackageTable;  // 名称, 种类, 时长/时段, 价格, 区域
    QLineEdit* NameEdit;
    QListWidget* ZoneList;       // the plan's zones, checkable
    QComboBox* KindBox;          // 时长, 时段, 到点结束
    QStackedWidget* KindPages;
    QSpinBox* HoursBox;
    QSpinBox* MinutesBox;
    QLineEdit* WindowFromEdit;
    QLineEdit* WindowToEdit;
    QLineEdit* UntilEdit;
    QLineEdit* PriceEdit;
    std::array<QCheckBox*, kSellDayTypes> DayBoxes{};  // 周一 … 周日, 节假日
    QLineEdit* SellFromEdit;
    QLineEdit* SellToEdit;
    QRadioButton* ContinueButton;  // 继续按时计费 (default)
    QRadioButton* LockButton;      // 锁定客户机
    QRadioButton* NoRefundButton;  // 不退 (default)
    QRadioButton* ProRataButton;   // 按分钟退
    QPushButton* NewButton;
    QPushButton* AddButton;
    QPushButton* ModifyButton;
    QPushButton* DeleteButton;

    // The stored catalogue into the list, the package named select current (none: a new form).
    void LoadCatalogue(const QString& select = {});
    void NewClick();
    void AddClick();
    void ModifyClick();
    void DeleteClick();

    // The form as the catalogue's JSON writes one package.
    QJsonObject FormObject() const;

  private:
    void ShowPackage(const Package& package);
    void FillZones(const QStringList& checked);
    void KindChosen(int kind);
    // 修改 and 删除 while a package is chosen; the button Return presses shown as such.
    void ShowDefault(bool chosen);
    QString SelectedName() const;
    // Applies change to the catalogue as stored now and saves it; after its box either way.
    bool Save(const std::function<bool(Catalogue&, QString*)>& change, const QString& done,
              const QString& select);
    Desk& desk;
    Catalogue m_shown;
};

#pragma once

#include <QListWidget>
#include <QPointer>
#include <QWidget>

class Desk;
class QComboBox;
class QLineEdit;
class FlatButton;

// The machine list: entries kept sorted without regard to case, identical entries dropped, the
// header line always first. Only a click selects; keys scroll.
class MachineListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit MachineListBox(QWidget* parent);
    // The header, then the entries in that order, identical ones once: the whole list at once.
    void Fill(const QString& header, const QStringList& entries);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// "添加/删除机器": adds and deletes machines' rows in Tcount.
class Tadduser : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<Tadduser> adduser;  // the newest instance
    static constexpr const char* Header = " 已有的计算机名:";
    static constexpr QSize OuterSize{369, 282};

    Tadduser(Desk& desk, QWidget* owner);

    MachineListBox* FlatListBox1;
    QLineEdit* Edit1;
    FlatButton* FlatButton1;  // 添 加
    FlatButton* FlatButton2;  // 删 除
    FlatButton* FlatButton3;  // 退 出
    QComboBox* ZoneCombo;     // the chosen machine's zone, shown only under a price plan

    void LoadMachineList();
    void FlatButton1Click();  // 添 加: AddMachine with the typed name, then the list again
    void FlatButton2Click();
    void FlatButton3Click();
    void ShowSelectedZone();
    void ZoneChosen();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QString SelectedEntry() const;
    Desk& desk;
    QWidget* m_box = nullptr;
    bool m_sized = false;
};

#pragma once

#include <QAbstractScrollArea>
#include <QStyleOptionViewItem>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "record_store/PackedTexts.h"

class Desk;
class QComboBox;
class QLineEdit;
class FlatButton;

// What the list shows: the header, then the names in the list's order, identical ones once.
struct MachineListRows {
    QString header;
    PackedTexts names;       // as the table gave them
    std::vector<int> order;  // the shown names, as indexes into names
};

// The machine list: entries kept sorted without regard to case, identical entries dropped, the
// header line always first and never selected. Only a click selects; keys scroll. It draws only
// the rows in sight, as an item view would: at thousands of machines an item view spends its
// time laying out every row, and the operator waits for it.
class MachineListBox : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit MachineListBox(QWidget* parent);
    // The header, then the entries in the list's order: the whole list at once. source: the
    // database the entries were read from.
    void Fill(const QString& source, const QString& header, const PackedTexts& entries);
    int count() const;
    QString text(int row) const;
    bool isSelected(int row) const;
    void setSelected(int row, bool selected);
    QStringList selectedTexts() const;
    // The row brought into sight, and where it is then drawn (in the viewport).
    void scrollToRow(int row);
    QRect rowRect(int row) const;

  signals:
    void entrySelectionChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    QStyleOptionViewItem ItemOption() const;
    int RowHeight() const;
    int RowAt(const QPoint& point) const;
    void UpdateScrollRange();
    void Choose(int row, bool toggle);
    std::shared_ptr<const MachineListRows> m_rows;
    int m_selected = -1;  // the chosen row, -1 when none
    int m_current = -1;   // the row last clicked: the focus frame's
    mutable int m_rowHeight = 0;
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

#pragma once

#include <QPointer>
#include <QWidget>

class AddressSearch;
class Desk;
class QListWidgetItem;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QLabel;
class QStatusBar;

// "搜索": looks for client machines over a range of addresses and adds those found to the
// machine list.
class Tsearch : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<Tsearch> search;  // the newest instance

    static constexpr QSize OuterSize{367, 325};

    Tsearch(Desk& desk, QWidget* owner);

    Desk& desk;

    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLineEdit* Edit5;
    QListWidget* ListBox1;
    QProgressBar* ProgressBar1;
    QLabel* PercentLabel;
    QLabel* StatusPanel1;
    QLabel* StatusPanel2;
    QPushButton* Button1;  // 开始搜索
    QPushButton* Button2;  // 关闭
    QPushButton* Button3;  // 添加全部
    AddressSearch* Search;

    void Button1Click();                    // 开始搜索, or 停止搜索 while one runs
    void AddFound(QListWidgetItem* entry);  // a double-click on a result
    void AddAllClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QListWidgetItem* Entry(const QString& address) const;
    void MarkAdded(QListWidgetItem* entry);
    void Searching(bool running);
    bool m_added = false;  // the grid is refreshed on closing only when the list changed
    QWidget* m_status = nullptr;
    bool m_sized = false;
};

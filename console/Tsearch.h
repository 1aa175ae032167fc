#pragma once

#include <QPointer>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QLabel;
class QStatusBar;

// "搜索": the fields of an address-range search, shown with their defaults.
class Tsearch : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<Tsearch> search;  // the newest instance

    static constexpr QSize OuterSize{367, 325};

    explicit Tsearch(QWidget* owner);

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

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QWidget* m_status = nullptr;
    bool m_sized = false;
};

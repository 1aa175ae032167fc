#pragma once

#include <QWidget>

class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QLabel;

// "搜索": the fields of an address-range search, shown with their defaults.
class Tsearch : public QWidget {
    Q_OBJECT
  public:
    static inline Tsearch* search = nullptr;  // the newest instance

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
};

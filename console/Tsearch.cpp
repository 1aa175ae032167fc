#include "console/Tsearch.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "widgets/Themed.h"

Tsearch::Tsearch(QWidget* owner) : QWidget(owner, Qt::Window | Qt::Dialog) {
    setObjectName(QStringLiteral("search"));
    setWindowTitle(QStringLiteral("搜索"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 11));
    move(225, 124);
    setFixedSize(OuterSize);  // the client area until the frame is known
    const QFont big = ThemedFont(QStringLiteral("MS Sans Serif"), 13);

    auto* range = new QGroupBox(QStringLiteral("搜索范围"), this);
    range->setObjectName(QStringLiteral("GroupBox1"));
    range->setFont(big);
    range->setGeometry(0, 8, 193, 193);
    struct Field {
        QLineEdit** edit;
        const char* name;
        const char* label;
        int width;
        const char* text;
    };
    const Field fields[] = {
        {&Edit1, "Edit1", "临听端口：", 97, "7626"},
        {&Edit2, "Edit2", " 延迟时间：", 49, "2000"},
        {&Edit3, "Edit3", "起始域：", 97, "192.168.0"},
        {&Edit4, "Edit4", "起始地址：", 33, "1"},
        {&Edit5, "Edit5", "终止地址：", 33, "255"},
    };
    const int tops[] = {24, 64, 96, 128, 160};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QString::fromUtf8(fields[i].label), range);
        label->setGeometry(8, tops[i] + 3, 72, 16);
        auto* edit = new QLineEdit(QString::fromUtf8(fields[i].text), range);
        edit->setObjectName(QString::fromLatin1(fields[i].name));
        edit->setFont(font());
        edit->setGeometry(80, tops[i], fields[i].width, 21);
        *fields[i].edit = edit;
        NameField(label, edit);
    }
    auto* ms = new QLabel(QStringLiteral("毫秒"), range);
    ms->setGeometry(80 + 49 + 4, 64 + 3, 40, 16);

    auto* results = new QLabel(QStringLiteral("搜索结果："), this);
    results->setFont(big);
    results->move(208, 8);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(200, 24, 153, 201);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(0, 216, 177, 18);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    PercentLabel = new QLabel(QStringLiteral("0%"), this);
    PercentLabel->move(184, 224);

    Button1 = new QPushButton(QStringLiteral("开始搜索"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFont(big);
    Button1->setGeometry(48, 248, 75, 25);
    Button2 = new QPushButton(QStringLiteral("关闭"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setFont(big);
    Button2->setGeometry(256, 248, 75, 25);
    connect(Button2, &QPushButton::clicked, this, &QWidget::close);
    NameField(results, ListBox1);
    DialogKeys(this);

    auto* status = new QStatusBar(this);
    m_status = status;
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    status->setGeometry(0, height() - 19, width(), 19);
    StatusPanel1 = new QLabel(QStringLiteral("准备搜索"), status);
    StatusPanel1->setFixedWidth(100);
    StatusPanel2 = new QLabel(status);
    StatusPanel2->setFixedWidth(50);
    status->addWidget(StatusPanel1);
    status->addWidget(StatusPanel2);
}

void Tsearch::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_sized) return;
    m_sized = true;
    FitOuterSize(this, OuterSize, true);
}

void Tsearch::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_status->setGeometry(0, height() - 19, width(), 19);  // along the bottom edge
}

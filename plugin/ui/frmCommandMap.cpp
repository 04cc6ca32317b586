#include "ui/frmCommandMap.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmCommandMap::frmCommandMap(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmCommandMap"));
    setWindowTitle(QStringLiteral("Command Map"));
    struct Row {
        int unit;
        const char* on;
        const char* off;
    };
    static constexpr Row kRows[] = {
        {9, "Up", "Right"},          {10, "Left", "Down"},           {11, "P1", "P1 Set"},
        {12, "P2", "P2 Set"},        {13, "P3", "P3 Set"},           {14, "P4", "P4 Set"},
        {15, "Center", "Clear All"}, {16, "Sweep", "Sweep Program"},
    };
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Unit")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("On")), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Off")), 0, 2);
    int r = 1;
    for (const Row& row : kRows) {
        grid->addWidget(new QLabel(QString::number(row.unit)), r, 0);
        grid->addWidget(new QLabel(QString::fromLatin1(row.on)), r, 1);
        grid->addWidget(new QLabel(QString::fromLatin1(row.off)), r, 2);
        ++r;
    }
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("cmdOk"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

void frmCommandMap::mousePressEvent(QMouseEvent* /*event*/) {
    accept();
}

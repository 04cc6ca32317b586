#include "ui/frmHelp.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ModalUi.h"
#include "ui/frmCommandMap.h"

frmHelp::frmHelp(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Help"));
    struct Line {
        const char* column;
        const char* text;
    };
    static constexpr Line kLines[] = {
        {"Remap", "This remaps the received house code to the specified house code."},
        {"Enabled",
         "This enables/disables the receiving of a house code.  Disabled house codes are "
         "completely ignored by homeseer."},
        {"Retransmit X10",
         "This retransmits all X-10 commands on your primary X10 Interface.  It also retransmits "
         "Ninja commands through the CM19A."},
        {"Unit Offset",
         "This offsets the received Unit number by the specified positive or negative integer."},
        {"Ignore Lts Off", "This ignores the All Lights Off command for this house code."},
        {"Ignore Lts On", "This ignores the All Lights On command for this house code."},
        {"Ignore All Off", "This ignores the All Units Off command for this house code."},
        {"X10 9-16 To Ninja",
         "Enabling this option will cause received X10 commands 9 to 16 to be remapped to a "
         "Ninja Command and retransmitted. This will allow you to use a HR12A remote as a CR14A "
         "remote."},
    };
    auto* form = new QFormLayout;
    for (const Line& line : kLines) {
        auto* text = new QLabel(QString::fromLatin1(line.text));
        text->setWordWrap(true);
        form->addRow(new QLabel(QString::fromLatin1(line.column) + QLatin1Char(':')), text);
    }
    auto* map = new QPushButton(QStringLiteral("Command Map"));
    map->setObjectName(QStringLiteral("cmdCommandMap"));
    connect(map, &QPushButton::clicked, this, &frmHelp::cmdCommandMap_Click);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("cmdOk"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(map);
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(560, 0);
}

void frmHelp::cmdCommandMap_Click() {
    frmCommandMap map(this);
    ModalUi::exec(map);
}

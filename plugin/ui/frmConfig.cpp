#include "ui/frmConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <exception>

#include "base/ProcessState.h"
#include "hspi/HostLink.h"
#include "hspi/hspi.h"
#include "settings/cSettings.h"
#include "ui/HostDevices.h"
#include "ui/ModalUi.h"
#include "ui/frmHelp.h"

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 0;
constexpr int kPositionRole = Qt::UserRole;
const char* const kLearnCaption = "Learn";
const char* const kCancelCaption = "Cancel";

QString latin(const std::string& text) {
    return QString::fromLatin1(text.c_str());
}

QString houseLetter(int index) {
    return QString(QChar('A' + index));
}

QLabel* wrapped(const char* text) {
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setWordWrap(true);
    return label;
}

// The window open now, if any.
frmConfig* s_open = nullptr;
const bool kOpenReset = ProcessState::registerReset("frmConfig", [] { s_open = nullptr; });

}  // namespace

frmConfig::frmConfig(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConfig"));
    m_tabs = new QTabWidget;
    m_tabs->addTab(buildGeneral(), QStringLiteral("General"));
    m_tabs->addTab(buildHouse(), QStringLiteral("House"));
    m_tabs->addTab(buildDevices(), QStringLiteral("Devices"));
    m_tabs->addTab(buildCustom(), QStringLiteral("Custom"));
    connect(m_tabs, &QTabWidget::currentChanged, this, &frmConfig::tabClick);

    m_cmdOk = new QPushButton(QStringLiteral("OK"));
    m_cmdOk->setObjectName(QStringLiteral("cmdOk"));
    m_cmdCancel = new QPushButton(QStringLiteral("Cancel"));
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(m_cmdOk, &QPushButton::clicked, this, &frmConfig::cmdOk_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmConfig::cmdCancel_Click);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdOk);
    buttons->addWidget(m_cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);
}

frmConfig::~frmConfig() {
    // The plug-in's own handler gets the transceiver's frames back.
    if (m_transceiver) m_transceiver->events.ReceivedUnknown = m_pluginUnknown;
}

void frmConfig::open(const std::shared_ptr<cSettings>& settings,
                     const std::shared_ptr<cFirecrackerUSB>& transceiver) {
    // Widgets cannot even be made without a widget application.
    if (!ModalUi::widgetsAvailable()) return;
    // The tray menu stays live under a modal window; a second window would
    // edit the same settings behind the first one's back.
    if (s_open != nullptr) {
        s_open->raise();
        s_open->activateWindow();
        return;
    }
    frmConfig window;
    s_open = &window;
    struct Clear {
        ~Clear() { s_open = nullptr; }
    } clear;
    window.setSettings(settings);
    window.setTransceiver(transceiver);
    window.Form_Load();
    ModalUi::exec(window);
}

void frmConfig::setSettings(std::shared_ptr<cSettings> settings) {
    m_settings = std::move(settings);
}

void frmConfig::setTransceiver(std::shared_ptr<cFirecrackerUSB> transceiver) {
    if (m_transceiver) m_transceiver->events.ReceivedUnknown = m_pluginUnknown;
    m_transceiver = std::move(transceiver);
    m_pluginUnknown = nullptr;
    if (!m_transceiver) return;
    m_pluginUnknown = m_transceiver->events.ReceivedUnknown;
    m_transceiver->events.ReceivedUnknown = [this](const cFirecrackerUSB::Bytes& Bin) {
        if (m_pluginUnknown) m_pluginUnknown(Bin);
        FC_ReceivedUnknown(Bin);
    };
}

cSettings& frmConfig::workingSettings() {
    if (!m_working) {
        if (m_settings)
            m_working = std::make_unique<cSettings>(m_settings->registry());
        else
            m_working = std::make_unique<cSettings>();
    }
    return *m_working;
}

bool frmConfig::learning() const {
    return m_cmdAdd->text() == QLatin1String(kCancelCaption);
}

QWidget* frmConfig::buildGeneral() {
    auto* page = new QWidget;
    auto* logging = new QGroupBox(QStringLiteral("Logging"));
    m_cmbLogging = new QComboBox;
    m_cmbLogging->setObjectName(QStringLiteral("cmbLogging"));
    m_cmbLogging->addItems(
        {QStringLiteral("Normal"), QStringLiteral("Minimal"), QStringLiteral("Debug")});
    auto* level = new QHBoxLayout;
    level->addWidget(new QLabel(QStringLiteral("Level:")));
    level->addWidget(m_cmbLogging);
    level->addStretch();
    auto* logLayout = new QVBoxLayout(logging);
    logLayout->addLayout(level);
    logLayout->addWidget(wrapped("Default: Default level of message logging."));
    logLayout->addWidget(
        wrapped("Minimal:  Only valid X10/Ninja commands will be logged.  You will not be alerted "
                "when a command was ignored.  For this reason it can be difficult to debug your "
                "system due to a improper setting."));

    auto* debounce = new QGroupBox(QStringLiteral("Debounce"));
    m_sldDebounceTime = new QSlider(Qt::Horizontal);
    m_sldDebounceTime->setObjectName(QStringLiteral("sldDebounceTime"));
    m_sldDebounceTime->setRange(0, 3000);
    m_sldDebounceTime->setSingleStep(50);
    m_sldDebounceTime->setPageStep(250);
    m_sldDebounceTime->setTickInterval(250);
    m_sldDebounceTime->setTickPosition(QSlider::TicksBelow);
    m_debounceValue = new QLabel;
    connect(m_sldDebounceTime, &QSlider::valueChanged, this,
            [this](int ms) { m_debounceValue->setText(QString::number(ms) + " ms"); });
    auto* slider = new QHBoxLayout;
    slider->addWidget(m_sldDebounceTime);
    slider->addWidget(m_debounceValue);
    auto* debounceLayout = new QVBoxLayout(debounce);
    debounceLayout->addLayout(slider);
    debounceLayout->addWidget(
        wrapped("This determins how long to ignore an individual command in milliseconds after it "
                "has occured. Default is 750ms."));

    m_lblMode = new QLabel;
    m_lblMode->setObjectName(QStringLiteral("lblMode"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(logging);
    layout->addWidget(debounce);
    layout->addWidget(m_lblMode);
    layout->addStretch();
    return page;
}

QWidget* frmConfig::buildHouse() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout;
    const char* const headings[] = {"",
                                    "Remap",
                                    "Enabled",
                                    "Retransmit X10",
                                    "Unit Offset",
                                    "Ignore\nLts On",
                                    "Ignore\nLts Off",
                                    "Ignore\nAll Off",
                                    "X10 9-16\nTo Ninja"};
    for (int c = 0; c < 9; ++c) {
        auto* heading = new QLabel(QString::fromLatin1(headings[c]));
        heading->setAlignment(Qt::AlignCenter);
        grid->addWidget(heading, 0, c);
    }
    // Sixteen rows built alike; each row's widgets carry its index.
    for (int i = 0; i < kHouses; ++i) {
        HouseRow& row = m_rows[static_cast<size_t>(i)];
        const QString suffix = QStringLiteral("_") + QString::number(i);
        row.lblHouseCode = new QLabel(houseLetter(i));
        row.txtNewHouseCode = new QLineEdit;
        row.txtNewHouseCode->setObjectName("txtNewHouseCode" + suffix);
        row.txtNewHouseCode->setMaximumWidth(32);
        row.txtNewHouseCode->installEventFilter(this);
        row.chkEnabled = new QCheckBox;
        row.chkEnabled->setObjectName("chkEnabled" + suffix);
        row.chkRetransmit = new QCheckBox;
        row.txtUnitOffset = new QLineEdit;
        row.txtUnitOffset->setObjectName("txtUnitOffset" + suffix);
        row.txtUnitOffset->setMaximumWidth(48);
        row.txtUnitOffset->installEventFilter(this);
        row.chkALN = new QCheckBox;
        row.chkALF = new QCheckBox;
        row.chkAUF = new QCheckBox;
        row.chkNinjaEmu = new QCheckBox;
        QWidget* cells[] = {row.lblHouseCode,  row.txtNewHouseCode, row.chkEnabled,
                            row.chkRetransmit, row.txtUnitOffset,   row.chkALN,
                            row.chkALF,        row.chkAUF,          row.chkNinjaEmu};
        for (int c = 0; c < 9; ++c) grid->addWidget(cells[c], i + 1, c, Qt::AlignCenter);
        connect(row.chkEnabled, &QCheckBox::toggled, this, [this, i] { chkEnabled_Click(i); });
        connect(row.txtNewHouseCode, &QLineEdit::textChanged, this,
                [this, i] { txtNewHouseCode_Change(i); });
        connect(row.txtUnitOffset, &QLineEdit::returnPressed, this,
                [this, i] { txtUnitOffset_Validate(i); });
    }
    m_cmdHelp = new QPushButton(QStringLiteral("Help"));
    m_cmdHelp->setObjectName(QStringLiteral("cmdHelp"));
    connect(m_cmdHelp, &QPushButton::clicked, this, &frmConfig::cmdHelp_Click);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(grid);
    layout->addWidget(m_cmdHelp, 0, Qt::AlignRight);
    return page;
}

QWidget* frmConfig::buildDevices() {
    auto* page = new QWidget;
    auto combo = [](const char* name, bool houses) {
        auto* box = new QComboBox;
        box->setObjectName(QString::fromLatin1(name));
        for (int i = 0; i < kHouses; ++i)
            box->addItem(houses ? houseLetter(i) : QString::number(i + 1));
        box->setCurrentIndex(-1);
        return box;
    };
    auto* ninja = new QGroupBox(QStringLiteral("Ninja Pan && Tilt"));
    m_cmbHC = combo("cmbHC", true);
    m_cmbDC = combo("cmbDC", false);
    m_cmdCreateNinjaDevice = new QPushButton(QStringLiteral("Create Ninja Device"));
    connect(m_cmdCreateNinjaDevice, &QPushButton::clicked, this,
            &frmConfig::cmdCreateNinjaDevice_Click);
    auto* ninjaLayout = new QGridLayout(ninja);
    ninjaLayout->addWidget(new QLabel(QStringLiteral("HouseCode:")), 0, 0);
    ninjaLayout->addWidget(m_cmbHC, 0, 1);
    ninjaLayout->addWidget(new QLabel(QStringLiteral("Camera Code:")), 1, 0);
    ninjaLayout->addWidget(m_cmbDC, 1, 1);
    ninjaLayout->addWidget(m_cmdCreateNinjaDevice, 2, 1);

    auto* x10 = new QGroupBox(QStringLiteral("X10 Device"));
    m_cmbHCX10 = combo("cmbHCX10", true);
    m_cmbDCX10 = combo("cmbDCX10", false);
    m_chkX10Dimmable = new QCheckBox(QStringLiteral("Dimmable"));
    m_cmdCreateX10Device = new QPushButton(QStringLiteral("Create X10 Device"));
    connect(m_cmdCreateX10Device, &QPushButton::clicked, this,
            &frmConfig::cmdCreateX10Device_Click);
    auto* x10Layout = new QGridLayout(x10);
    x10Layout->addWidget(new QLabel(QStringLiteral("HouseCode:")), 0, 0);
    x10Layout->addWidget(m_cmbHCX10, 0, 1);
    x10Layout->addWidget(new QLabel(QStringLiteral("Device Code:")), 1, 0);
    x10Layout->addWidget(m_cmbDCX10, 1, 1);
    x10Layout->addWidget(m_chkX10Dimmable, 2, 1);
    x10Layout->addWidget(m_cmdCreateX10Device, 3, 1);
    x10Layout->addWidget(wrapped("This will create a standard device that will send its X10 "
                                 "signals through the CM19A instead of your default X10 "
                                 "Interface."),
                         4, 0, 1, 2);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(ninja);
    layout->addWidget(x10);
    layout->addStretch();
    return page;
}

QWidget* frmConfig::buildCustom() {
    auto* page = new QWidget;
    m_lstCustom = new QListWidget;
    m_lstCustom->setObjectName(QStringLiteral("lstCustom"));
    connect(m_lstCustom, &QListWidget::itemSelectionChanged, this, &frmConfig::lstCustom_Click);
    m_txtRaw = new QLineEdit;
    m_txtRaw->setObjectName(QStringLiteral("txtRaw"));
    m_txtRaw->setReadOnly(true);
    m_txtRaw->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_cmdAdd = new QPushButton(QString::fromLatin1(kLearnCaption));
    m_cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    m_cmdRemove = new QPushButton(QStringLiteral("Remove"));
    m_cmdRemove->setObjectName(QStringLiteral("cmdRemove"));
    m_cmdSend = new QPushButton(QStringLiteral("Test Send"));
    m_cmdSend->setObjectName(QStringLiteral("cmdSend"));
    connect(m_cmdAdd, &QPushButton::clicked, this, &frmConfig::cmdAdd_Click);
    connect(m_cmdRemove, &QPushButton::clicked, this, &frmConfig::cmdRemove_Click);
    connect(m_cmdSend, &QPushButton::clicked, this, &frmConfig::cmdSend_Click);

    auto* raw = new QHBoxLayout;
    raw->addWidget(new QLabel(QStringLiteral("Raw RF:")));
    raw->addWidget(m_txtRaw);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdAdd);
    buttons->addWidget(m_cmdRemove);
    buttons->addWidget(m_cmdSend);
    buttons->addStretch();
    auto* key = new QLabel(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\Custom"));
    key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        wrapped("This tab allows learning unhandled RF commands for Triggers and Actions.  Known "
                "X10 and Ninja commands cannot be learned.  Advanced editing of these values is "
                "not provided in this UI.  It can be manually edited in the following registry "
                "key:"));
    layout->addWidget(key);
    layout->addWidget(m_lstCustom);
    layout->addLayout(raw);
    layout->addLayout(buttons);
    layout->addWidget(
        wrapped("These custom RF signals can be used by setting up Events.  Each signal can be "
                "used as a trigger for the event or an action of the event."));
    return page;
}

void frmConfig::Form_Load() {
    setWindowTitle(QStringLiteral("X10 CM19A FireCracker USB v%1.%2.%3")
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionRevision));
    QString mode = QStringLiteral("Mode: ");
    if (HostLink::mode() & hspi::kModeX10) mode += QStringLiteral("[X10] ");
    if (HostLink::mode() & hspi::kModeIO) mode += QStringLiteral("[IO]");
    m_lblMode->setText(mode);

    if (!m_settings) m_settings = std::make_shared<cSettings>();
    const cSettings& s = *m_settings;
    for (int i = 0; i < kHouses; ++i) {
        HouseRow& row = m_rows[static_cast<size_t>(i)];
        const auto h = static_cast<int16_t>(i);
        row.remapLetter = houseLetter(i);  // a stored letter beyond P shows no remap
        row.txtNewHouseCode->setText(latin(s.Remap(h)));
        row.chkEnabled->setChecked(s.Enabled(h));
        row.chkRetransmit->setChecked(s.Retransmit(h));
        row.txtUnitOffset->setText(QString::number(s.UnitOffset(h)));
        row.chkALN->setChecked(s.IgnoreALN(h));
        row.chkALF->setChecked(s.IgnoreALF(h));
        row.chkAUF->setChecked(s.IgnoreAUF(h));
        row.chkNinjaEmu->setChecked(s.NinjaEmu(h));
        chkEnabled_Click(i);
    }
    if (s.DebounceTime() > m_sldDebounceTime->maximum())
        m_sldDebounceTime->setMaximum(s.DebounceTime());
    m_sldDebounceTime->setValue(s.DebounceTime());
    m_debounceValue->setText(QString::number(m_sldDebounceTime->value()) + " ms");
    m_cmbLogging->setCurrentIndex(static_cast<int>(s.Logging()));

    // Nothing to learn from or send through without the transceiver.
    const bool radio = m_transceiver != nullptr;
    m_cmdAdd->setEnabled(radio);
    m_cmdSend->setEnabled(radio);
    if (!radio) {
        const QString why = QStringLiteral(
            "Open the configuration from the interface set-up to use the transceiver.");
        m_cmdAdd->setToolTip(why);
        m_cmdSend->setToolTip(why);
    }
    RefreshCustomList();
}

void frmConfig::RefreshCustomList() {
    m_txtRaw->clear();
    m_lstCustom->setUpdatesEnabled(false);
    {
        const QSignalBlocker quiet(m_lstCustom);
        m_lstCustom->clear();
        cSettings& w = workingSettings();
        for (int32_t i = 1; i <= w.CustomCount(); ++i) {
            auto* item = new QListWidgetItem(latin(w.CustomName(i)));
            item->setData(kPositionRole, i);
            m_lstCustom->addItem(item);
        }
    }
    m_lstCustom->setUpdatesEnabled(true);
}

void frmConfig::tabClick(int index) {
    if (index != kDevices || (HostLink::mode() & hspi::kModeIO)) return;
    ModalUi::message(this,
                     QStringLiteral("This plugin must be installed as a IO Interface for Device "
                                    "Support."),
                     ModalUi::Icon::Critical);
    m_tabs->setCurrentIndex(kGeneral);
}

void frmConfig::chkEnabled_Click(int r) {
    const HouseRow& row = m_rows[static_cast<size_t>(r)];
    const bool on = row.chkEnabled->isChecked();
    for (QWidget* w :
         {static_cast<QWidget*>(row.txtNewHouseCode), static_cast<QWidget*>(row.chkRetransmit),
          static_cast<QWidget*>(row.txtUnitOffset), static_cast<QWidget*>(row.chkALN),
          static_cast<QWidget*>(row.chkALF), static_cast<QWidget*>(row.chkAUF),
          static_cast<QWidget*>(row.chkNinjaEmu)})
        w->setEnabled(on);
}

void frmConfig::txtNewHouseCode_Change(int r) {
    HouseRow& row = m_rows[static_cast<size_t>(r)];
    QLineEdit* box = row.txtNewHouseCode;
    QString text = box->text().left(1).toUpper();
    // Emptied by the key press that is about to type, or by the user: the
    // letter comes back when the box is left.
    if (text.isEmpty()) return;
    // Only the sixteen house codes exist; anything else leaves the letter as it was.
    if (text[0] < QLatin1Char('A') || text[0] > QLatin1Char('P')) text = row.remapLetter;
    row.remapLetter = text;
    if (text != box->text()) {
        const QSignalBlocker quiet(box);
        box->setText(text);
    }
}

bool frmConfig::txtUnitOffset_Validate(int r) {
    QLineEdit* box = m_rows[static_cast<size_t>(r)].txtUnitOffset;
    bool numeric = false;
    const double value = box->text().trimmed().toDouble(&numeric);
    // An offset that does not fit the stored 16-bit field is no integer it can hold.
    if (numeric && value == std::floor(value) && std::fabs(value) <= 32767) return true;
    if (m_validating) return false;
    m_validating = true;
    ModalUi::message(this, QStringLiteral("Value must be an Integer."), ModalUi::Icon::Critical);
    m_tabs->setCurrentIndex(kHouse);
    box->setFocus();
    box->selectAll();
    m_validating = false;
    return false;
}

bool frmConfig::eventFilter(QObject* watched, QEvent* event) {
    for (int i = 0; i < kHouses; ++i) {
        const HouseRow& row = m_rows[static_cast<size_t>(i)];
        if (watched == row.txtNewHouseCode && event->type() == QEvent::KeyPress) {
            // A typed character replaces the letter instead of adding to it.
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!key->text().isEmpty() && key->text()[0].isPrint()) row.txtNewHouseCode->clear();
        } else if (watched == row.txtNewHouseCode && event->type() == QEvent::FocusOut) {
            if (row.txtNewHouseCode->text().isEmpty())
                row.txtNewHouseCode->setText(row.remapLetter);
        } else if (watched == row.txtUnitOffset && event->type() == QEvent::FocusOut) {
            txtUnitOffset_Validate(i);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmConfig::cmdOk_Click() {
    // A person can reach OK with a bad offset still typed; nothing is written then.
    for (int i = 0; i < kHouses; ++i)
        if (!txtUnitOffset_Validate(i)) return;
    if (!m_settings) m_settings = std::make_shared<cSettings>();
    cSettings& s = *m_settings;
    cSettings& w = workingSettings();
    try {
        s.CustomClear();
        for (int32_t i = 1; i <= w.CustomCount(); ++i)
            s.CustomAdd(w.CustomName(i), w.CustomRaw(Variant(i)));
        for (int i = 0; i < kHouses; ++i) {
            const HouseRow& row = m_rows[static_cast<size_t>(i)];
            const auto h = static_cast<int16_t>(i);
            s.Enabled(h, row.chkEnabled->isChecked());
            s.Remap(h, row.remapLetter.toStdString());
            s.Retransmit(h, row.chkRetransmit->isChecked());
            s.UnitOffset(h, static_cast<int16_t>(row.txtUnitOffset->text().trimmed().toDouble()));
            s.IgnoreALF(h, row.chkALF->isChecked());
            s.IgnoreALN(h, row.chkALN->isChecked());
            s.IgnoreAUF(h, row.chkAUF->isChecked());
            s.NinjaEmu(h, row.chkNinjaEmu->isChecked());
        }
        s.DebounceTime(m_sldDebounceTime->value());
        s.Logging(static_cast<ELogLevel>(m_cmbLogging->currentIndex()));
        s.Save();
    } catch (const std::exception& e) {
        // Closing as if saved would lose the edits silently; the window stays open.
        ModalUi::message(this, QStringLiteral("The settings could not be saved: ") + e.what(),
                         ModalUi::Icon::Critical);
        return;
    }
    accept();
}

void frmConfig::cmdCancel_Click() {
    reject();
}

void frmConfig::cmdHelp_Click() {
    frmHelp help(this);
    ModalUi::exec(help);
}

void frmConfig::cmdAdd_Click() {
    if (learning()) {
        stopLearning();
        return;
    }
    m_cmdAdd->setText(QString::fromLatin1(kCancelCaption));
    m_txtRaw->setText(QStringLiteral("Waiting on wireless command..."));
    m_cmdRemove->setEnabled(false);
    m_lstCustom->setEnabled(false);
}

void frmConfig::stopLearning() {
    m_cmdAdd->setText(QString::fromLatin1(kLearnCaption));
    m_cmdRemove->setEnabled(true);
    m_lstCustom->setEnabled(true);
    m_txtRaw->clear();
    lstCustom_Click();
}

void frmConfig::FC_ReceivedUnknown(const cFirecrackerUSB::Bytes& Bin) {
    if (!learning()) return;
    const QString name =
        ModalUi::input(this, QStringLiteral("Enter a description for this command:"),
                       QStringLiteral("Custom Command"));
    stopLearning();
    if (name.isEmpty()) return;
    const std::string key = name.toStdString();
    cSettings& w = workingSettings();
    for (int32_t i = 1; i <= w.CustomCount(); ++i) {
        if (w.CustomName(i) == key) {
            w.CustomRemove(i);
            break;
        }
    }
    int32_t position = 0;
    try {
        position = w.CustomAdd(key, Bin);
    } catch (const std::exception& e) {
        // Names are unique ignoring case: "Door" is refused while "door" exists.
        RefreshCustomList();
        ModalUi::message(this, QString::fromLatin1(e.what()), ModalUi::Icon::Critical);
        return;
    }
    RefreshCustomList();
    selectCustom(position);
}

void frmConfig::selectCustom(int position) {
    for (int i = 0; i < m_lstCustom->count(); ++i)
        if (m_lstCustom->item(i)->data(kPositionRole).toInt() == position)
            m_lstCustom->setCurrentRow(i);
}

int frmConfig::selectedPosition() const {
    const QListWidgetItem* item = m_lstCustom->currentItem();
    if (item == nullptr || !item->isSelected()) return 0;
    return item->data(kPositionRole).toInt();
}

void frmConfig::lstCustom_Click() {
    const int position = selectedPosition();
    if (position == 0) return;
    QString text;
    for (uint8_t b : workingSettings().CustomRaw(Variant(int32_t{position})))
        text += QString::number(b, 16).toUpper() + QLatin1Char(' ');
    m_txtRaw->setText(text);
}

void frmConfig::cmdRemove_Click() {
    const int position = selectedPosition();
    if (position == 0) return;
    if (!ModalUi::askYesNo(this,
                           QStringLiteral("Are you sure you would like to delete this item?")))
        return;
    workingSettings().CustomRemove(position);
    RefreshCustomList();
}

void frmConfig::cmdSend_Click() {
    const int position = selectedPosition();
    if (position == 0 || !m_transceiver) return;
    m_transceiver->SendRaw(workingSettings().CustomRaw(Variant(int32_t{position})));
}

void frmConfig::cmdCreateNinjaDevice_Click() {
    if (m_cmbHC->currentIndex() < 0 || m_cmbDC->currentIndex() < 0) {
        ModalUi::message(this, QStringLiteral("Please select a house and camera code!"),
                         ModalUi::Icon::Critical);
        return;
    }
    deviceCreated(HostDevices::createCamera(m_cmbHC->currentText().toStdString(),
                                            m_cmbDC->currentText().toStdString()));
}

void frmConfig::cmdCreateX10Device_Click() {
    if (m_cmbHCX10->currentIndex() < 0 || m_cmbDCX10->currentIndex() < 0) {
        ModalUi::message(this, QStringLiteral("Please select a house and device code!"),
                         ModalUi::Icon::Critical);
        return;
    }
    deviceCreated(HostDevices::createTransmitter(m_cmbHCX10->currentText().toStdString(),
                                                 m_cmbDCX10->currentText().toStdString()));
}

void frmConfig::deviceCreated(bool created) {
    // Saying "Device Created!" when the host made none would be a lie.
    if (created)
        ModalUi::message(this, QStringLiteral("Device Created!"), ModalUi::Icon::Information);
    else
        ModalUi::message(this, QStringLiteral("The host could not create the device."),
                         ModalUi::Icon::Critical);
}

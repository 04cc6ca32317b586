// The configuration window driven as a person would, with the questions and
// message boxes answered by the test and no modal loop running.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "hspi/HostLink.h"
#include "support/FileText.h"
#include "support/PluginUnderTest.h"
#include "ui/ModalUi.h"
#include "ui/frmConfig.h"
#include "ui/frmHelp.h"

namespace {

class ConfigWindow : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ModalUi::hooks().message = [this](QWidget*, const QString& text, ModalUi::Icon) {
            messages.push_back(text.toStdString());
        };
        ModalUi::hooks().askYesNo = [this](QWidget*, const QString&) { return yes; };
        ModalUi::hooks().input = [this](QWidget*, const QString&, const QString&) { return name; };
        ModalUi::hooks().exec = [](QDialog&) { return int(QDialog::Rejected); };
        HostLink::setMode(hspi::kModeX10 | hspi::kModeIO);
    }
    void TearDown() override {
        window.reset();
        ModalUi::reset();
        hspi::configWindow() = nullptr;
        HostLink::setMode(0);
        PluginTest::TearDown();
    }

    void open(bool withTransceiver = true) {
        window = std::make_unique<frmConfig>();
        window->setSettings(settings);
        if (withTransceiver) window->setTransceiver(fc);
        window->Form_Load();
        window->show();
    }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    void clickTab(int index) {
        QTabBar* bar = window->tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    void retype(QLineEdit* box, const QString& text) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, text);
    }
    std::string registryFile() const {
        return readAll((dir.path() + "/registry.reg").toStdString());
    }
    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        for (int i = 0; i < window->lstCustom()->count(); ++i)
            names.push_back(window->lstCustom()->item(i)->text().toStdString());
        return names;
    }
    void select(const std::string& name) {
        const auto found =
            window->lstCustom()->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QListWidget* list = window->lstCustom();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(found.front()).center());
    }

    std::unique_ptr<frmConfig> window;
    std::vector<std::string> messages;
    bool yes = true;
    QString name;
};

TEST_F(ConfigWindow, OpensWithCaptionModeAndEveryTabRendered) {
    HostLink::setMode(hspi::kModeX10);
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("X10 CM19A FireCracker USB v1.0.0"));
    EXPECT_EQ(window->lblMode()->text(), QStringLiteral("Mode: [X10] "));
    for (int i = 0; i < frmConfig::kHouses; ++i)
        EXPECT_EQ(window->row(i).lblHouseCode->text(), QString(QChar('A' + i)));

    // One picture per tab, kept next to the test's build output.
    HostLink::setMode(hspi::kModeX10 | hspi::kModeIO);
    QDir().mkpath(QStringLiteral("artifacts"));
    for (int t = 0; t < window->tabs()->count(); ++t) {
        window->tabs()->setCurrentIndex(t);
        const QString file = "artifacts/frmConfig-" + window->tabs()->tabText(t) + ".png";
        EXPECT_TRUE(window->grab().save(file)) << file.toStdString();
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConfigWindow, RemapBoxTakesOneHouseLetterAndKeepsItsLetterOtherwise) {
    open();
    clickTab(frmConfig::kHouse);
    QLineEdit* box = window->row(2).txtNewHouseCode;
    ASSERT_EQ(box->text(), QStringLiteral("C"));
    QTest::keyClicks(box, QStringLiteral("d"));
    EXPECT_EQ(box->text(), QStringLiteral("D"));
    // Q to Z name no house code.
    for (const char* refused : {"q", "Z", "5"}) {
        QTest::keyClicks(box, QString::fromLatin1(refused));
        EXPECT_EQ(box->text(), QStringLiteral("D")) << refused;
    }
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_TRUE(box->text().isEmpty());
    click(window->cmdOk());  // left empty: the letter it held is kept, never ""
    EXPECT_EQ(cSettings(registry).Remap(2), "D");
}

// Help opens from the House tab and Command Map from Help, each rendered into
// a picture beside the tabs' ones.
TEST_F(ConfigWindow, HelpAndCommandMapOpenAndAreRendered) {
    std::vector<std::string> shown;
    ModalUi::hooks().exec = [&](QDialog& dialog) {
        dialog.show();
        shown.push_back(dialog.windowTitle().toStdString());
        const QString file = dynamic_cast<frmHelp*>(&dialog) != nullptr
                                 ? QStringLiteral("artifacts/frmHelp.png")
                                 : QStringLiteral("artifacts/frmCommandMap.png");
        QDir().mkpath(QStringLiteral("artifacts"));
        EXPECT_TRUE(dialog.grab().save(file)) << file.toStdString();
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Command Map")) click(button);
        return int(QDialog::Rejected);
    };
    open();
    clickTab(frmConfig::kHouse);
    click(window->cmdHelp());
    EXPECT_EQ(shown, (std::vector<std::string>{"Help", "Command Map"}));
}

TEST_F(ConfigWindow, DisabledHouseGreysItsRowAndUnitOffsetMustBeAnInteger) {
    open();
    clickTab(frmConfig::kHouse);
    const frmConfig::HouseRow& row = window->row(0);
    ASSERT_TRUE(row.chkEnabled->isChecked());
    click(row.chkEnabled);
    EXPECT_FALSE(row.txtUnitOffset->isEnabled());
    EXPECT_FALSE(row.chkNinjaEmu->isEnabled());
    EXPECT_TRUE(row.chkEnabled->isEnabled());
    click(row.chkEnabled);

    const std::string before = registryFile();
    retype(row.txtUnitOffset, QStringLiteral("2.5"));
    click(window->cmdOk());
    EXPECT_EQ(messages, std::vector<std::string>{"Value must be an Integer."});
    EXPECT_NE(window->result(), QDialog::Accepted);
    EXPECT_EQ(registryFile(), before);

    messages.clear();
    retype(row.txtUnitOffset, QStringLiteral("-3"));
    click(window->cmdOk());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(cSettings(registry).UnitOffset(0), -3);
}

TEST_F(ConfigWindow, OkWritesEveryHouseRowDebounceAndLogLevel) {
    open();
    clickTab(frmConfig::kHouse);
    for (int i = 0; i < frmConfig::kHouses; ++i) {
        const frmConfig::HouseRow& row = window->row(i);
        QTest::keyClicks(row.txtNewHouseCode, QString(QChar('P' - i)));
        retype(row.txtUnitOffset, QString::number(i - 8));
        if (i % 2) click(row.chkRetransmit);
        if (i % 3 == 0) click(row.chkALN);
        if (i % 3 == 1) click(row.chkALF);
        if (i % 3 == 2) click(row.chkAUF);
        if (i % 4 == 0) click(row.chkNinjaEmu);
        if (i == 15) click(row.chkEnabled);
    }
    window->sldDebounceTime()->setValue(1200);
    window->cmbLogging()->setCurrentIndex(LogDebug);
    click(window->cmdOk());
    ASSERT_EQ(window->result(), QDialog::Accepted);

    const cSettings saved(registry);
    for (int16_t i = 0; i < frmConfig::kHouses; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(saved.Remap(i), std::string(1, static_cast<char>('P' - i)));
        EXPECT_EQ(saved.UnitOffset(i), i - 8);
        EXPECT_EQ(saved.Retransmit(i), i % 2 == 1);
        EXPECT_EQ(saved.IgnoreALN(i), i % 3 == 0);
        EXPECT_EQ(saved.IgnoreALF(i), i % 3 == 1);
        EXPECT_EQ(saved.IgnoreAUF(i), i % 3 == 2);
        EXPECT_EQ(saved.NinjaEmu(i), i % 4 == 0);
        EXPECT_EQ(saved.Enabled(i), i != 15);
    }
    EXPECT_EQ(saved.DebounceTime(), 1200);
    EXPECT_EQ(saved.Logging(), LogDebug);
}

TEST_F(ConfigWindow, DevicesTabNeedsTheIoInterface) {
    HostLink::setMode(hspi::kModeX10);
    open();
    clickTab(frmConfig::kCustom);
    clickTab(frmConfig::kDevices);
    EXPECT_EQ(messages, std::vector<std::string>{
                            "This plugin must be installed as a IO Interface for Device Support."});
    EXPECT_EQ(window->tabs()->currentIndex(), frmConfig::kGeneral);

    messages.clear();
    HostLink::setMode(hspi::kModeX10 | hspi::kModeIO);
    clickTab(frmConfig::kDevices);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->tabs()->currentIndex(), frmConfig::kDevices);
}

TEST_F(ConfigWindow, LearningUnderAnExistingNameReplacesItAndCancelWritesNothing) {
    settings->CustomAdd("Door", {0x01});
    settings->CustomAdd("Gate", {0x02, 0x03});
    settings->CustomAdd("Shed", {0x04});
    settings->Save();
    const std::string before = registryFile();
    open();
    clickTab(frmConfig::kCustom);

    click(window->cmdAdd());
    EXPECT_EQ(window->cmdAdd()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(window->txtRaw()->text(), QStringLiteral("Waiting on wireless command..."));
    EXPECT_FALSE(window->lstCustom()->isEnabled());
    EXPECT_FALSE(window->cmdRemove()->isEnabled());
    name = QStringLiteral("Door");
    fc->events.ReceivedUnknown(Bytes{0x20, 0x0A, 0xFF});
    EXPECT_EQ(window->cmdAdd()->text(), QStringLiteral("Learn"));
    EXPECT_TRUE(window->lstCustom()->isEnabled());
    EXPECT_EQ(listed(), (std::vector<std::string>{"Gate", "Shed", "Door"}));

    // Every item still leads to its own bytes after the positions moved.
    select("Gate");
    EXPECT_EQ(window->txtRaw()->text(), QStringLiteral("2 3 "));
    select("Shed");
    EXPECT_EQ(window->txtRaw()->text(), QStringLiteral("4 "));
    select("Door");
    EXPECT_EQ(window->txtRaw()->text(), QStringLiteral("20 A FF "));

    // A frame while not learning, or an empty name, adds nothing.
    fc->events.ReceivedUnknown(Bytes{0x55});
    click(window->cmdAdd());
    name.clear();
    fc->events.ReceivedUnknown(Bytes{0x56});
    EXPECT_EQ(listed().size(), 3u);

    click(window->cmdCancel());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(registryFile(), before);
    EXPECT_EQ(settings->CustomRaw(Variant(std::string("Door"))), Bytes{0x01});
}

TEST_F(ConfigWindow, RemoveAsksFirstAndTestSendSendsTheSelectedCode) {
    settings->CustomAdd("Door", {0x01});
    settings->CustomAdd("Gate", {0x02, 0x03});
    settings->Save();
    open();
    clickTab(frmConfig::kCustom);
    select("Gate");
    click(window->cmdSend());
    EXPECT_EQ(fc->raws, std::vector<Bytes>{Bytes({0x02, 0x03})});

    yes = false;
    click(window->cmdRemove());
    EXPECT_EQ(listed(), (std::vector<std::string>{"Door", "Gate"}));
    yes = true;
    click(window->cmdRemove());
    EXPECT_EQ(listed(), std::vector<std::string>{"Door"});
    EXPECT_TRUE(window->txtRaw()->text().isEmpty());

    click(window->cmdOk());
    EXPECT_EQ(cSettings(registry).CustomCount(), 1);
}

TEST_F(ConfigWindow, CreatesNinjaAndX10DevicesOnTheHost) {
    std::vector<std::string> made;
    hs->handlers["NewDeviceEx"] = [&](Args& a) {
        made.push_back(a[0].toString());
        devices.push_back(std::make_shared<DeviceClass>());
        devices.back()->name = a[0].toString();
        return Variant(devices.back());
    };
    hs->handlers["DeviceValuesAdd"] = [](Args&) { return Variant(); };
    open();
    clickTab(frmConfig::kDevices);
    click(window->cmdCreateNinjaDevice());
    EXPECT_EQ(messages, std::vector<std::string>{"Please select a house and camera code!"});
    EXPECT_TRUE(made.empty());

    messages.clear();
    window->cmbHC()->setCurrentIndex(0);
    window->cmbDC()->setCurrentIndex(0);
    click(window->cmdCreateNinjaDevice());
    ASSERT_EQ(made, std::vector<std::string>{"Ninja A1"});
    const DeviceClass& ninja = *devices.back();
    EXPECT_EQ(ninja.hc + ninja.dc, "A1");
    EXPECT_EQ(ninja.iotype, 3);
    EXPECT_EQ(ninja.interface, "X10 CM19A FireCracker USB");
    EXPECT_EQ(ninja.Status, 19);
    EXPECT_EQ(ninja.iomisc, "100");
    EXPECT_EQ(ninja.misc, 0);
    EXPECT_EQ(ninja.dev_type_string, "Ninja Pan & Tilt Camera");
    const Lines values = hs->callsTo("DeviceValuesAdd");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].rfind("A1|On\x02"
                              "1\x01P1\x02"
                              "9\x01",
                              0),
              0u);
    EXPECT_EQ(messages, std::vector<std::string>{"Device Created!"});

    window->cmbHCX10()->setCurrentIndex(15);
    window->cmbDCX10()->setCurrentIndex(15);
    click(window->cmdCreateX10Device());
    ASSERT_EQ(made.back(), "CM19A P16");
    const DeviceClass& x10 = *devices.back();
    EXPECT_EQ(x10.hc + x10.dc, "P16");
    EXPECT_EQ(x10.iotype, 1);
    EXPECT_EQ(x10.iomisc, "1");
    EXPECT_EQ(x10.dev_type_string, "CM19A X10 Device");
}

TEST_F(ConfigWindow, PluginOpensItModallyWithTheTransceiverOnlyFromItsInterfaceSetUp) {
    hspi::configWindow() = &frmConfig::open;
    std::vector<bool> learnable;
    ModalUi::hooks().exec = [&](QDialog& dialog) {
        auto& config = static_cast<frmConfig&>(dialog);
        learnable.push_back(config.cmdAdd()->isEnabled() && config.cmdSend()->isEnabled());
        return int(QDialog::Rejected);
    };
    plugin->SelectMenu("Configure...");
    plugin->ConfigIO();
    EXPECT_EQ(learnable, (std::vector<bool>{false, true}));
    // The window gave the transceiver's frames back to the plug-in when it closed.
    hs->handlers["WriteLog"] = [](Args&) { return Variant(); };
    settings->Logging(LogDebug);
    fc->events.ReceivedUnknown(Bytes{0x7E});
    EXPECT_EQ(logs().back(), "Quillon|Unknown wireless command: 7E ");

    // Without a screen to show it on, the defaults open nothing and return.
    ModalUi::reset();
    EXPECT_FALSE(ModalUi::canShow());
    plugin->ConfigX10();
}

}  // namespace

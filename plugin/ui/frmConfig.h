#pragma once
// The plug-in's configuration window: per-house rules, debounce time and log
// level, learnt custom radio codes, and host devices for the camera and for
// sending X10 through the transceiver.
//
// The opener hands it the plug-in's settings (setSettings) and, when opened
// for an initialised interface, the transceiver (setTransceiver). Edits stay
// in the window and in a second, working settings object loaded from the same
// registry until OK, which copies everything into the plug-in's settings and
// saves them; Cancel writes nothing. While the window lives it also hears the
// transceiver's unknown frames (for learning), after the plug-in's own handler.
//
// Without a transceiver nothing can be learnt or sent, so Learn and Test Send
// are disabled. The custom list is rebuilt after every change, so each item's
// position always matches the working settings.

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "radio/cFirecrackerUSB.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QTabWidget;
class cSettings;

class frmConfig : public QDialog {
public:
    static constexpr int kHouses = 16;
    enum Tab { kGeneral = 0, kHouse, kDevices, kCustom };

    struct HouseRow {
        QLabel* lblHouseCode = nullptr;
        QLineEdit* txtNewHouseCode = nullptr;
        QCheckBox* chkEnabled = nullptr;
        QCheckBox* chkRetransmit = nullptr;
        QLineEdit* txtUnitOffset = nullptr;
        QCheckBox* chkALN = nullptr;
        QCheckBox* chkALF = nullptr;
        QCheckBox* chkAUF = nullptr;
        QCheckBox* chkNinjaEmu = nullptr;
        // The letter the remap box last held, put back when the box is left
        // empty or given anything but A to P.
        QString remapLetter;
    };

    explicit frmConfig(QWidget* parent = nullptr);
    ~frmConfig() override;

    // Opens the window modally for the plug-in (transceiver may be null) and
    // returns when it closes. Where no window can appear it returns at once.
    static void open(const std::shared_ptr<cSettings>& settings,
                     const std::shared_ptr<cFirecrackerUSB>& transceiver);

    void setSettings(std::shared_ptr<cSettings> settings);
    void setTransceiver(std::shared_ptr<cFirecrackerUSB> transceiver);

    void Form_Load();
    void RefreshCustomList();
    void tabClick(int index);
    void chkEnabled_Click(int row);
    void txtNewHouseCode_Change(int row);
    // False (after telling the user) when the row's offset is no integer.
    bool txtUnitOffset_Validate(int row);
    void cmdOk_Click();
    void cmdCancel_Click();
    void cmdHelp_Click();
    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdSend_Click();
    void lstCustom_Click();
    void cmdCreateNinjaDevice_Click();
    void cmdCreateX10Device_Click();
    void FC_ReceivedUnknown(const cFirecrackerUSB::Bytes& Bin);

    // The controls, for the tests that drive the window.
    QTabWidget* tabs() const { return m_tabs; }
    const HouseRow& row(int i) const { return m_rows[static_cast<size_t>(i)]; }
    QComboBox* cmbLogging() const { return m_cmbLogging; }
    QSlider* sldDebounceTime() const { return m_sldDebounceTime; }
    QLabel* lblMode() const { return m_lblMode; }
    QListWidget* lstCustom() const { return m_lstCustom; }
    QLineEdit* txtRaw() const { return m_txtRaw; }
    QPushButton* cmdAdd() const { return m_cmdAdd; }
    QPushButton* cmdRemove() const { return m_cmdRemove; }
    QPushButton* cmdSend() const { return m_cmdSend; }
    QPushButton* cmdOk() const { return m_cmdOk; }
    QPushButton* cmdCancel() const { return m_cmdCancel; }
    QPushButton* cmdHelp() const { return m_cmdHelp; }
    QComboBox* cmbHC() const { return m_cmbHC; }
    QComboBox* cmbDC() const { return m_cmbDC; }
    QComboBox* cmbHCX10() const { return m_cmbHCX10; }
    QComboBox* cmbDCX10() const { return m_cmbDCX10; }
    QPushButton* cmdCreateNinjaDevice() const { return m_cmdCreateNinjaDevice; }
    QPushButton* cmdCreateX10Device() const { return m_cmdCreateX10Device; }
    cSettings& workingSettings();
    bool learning() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildGeneral();
    QWidget* buildHouse();
    QWidget* buildDevices();
    QWidget* buildCustom();
    void stopLearning();
    void deviceCreated(bool created);
    void selectCustom(int position);
    int selectedPosition() const;  // 0 when nothing is selected

    std::shared_ptr<cSettings> m_settings;
    std::shared_ptr<cFirecrackerUSB> m_transceiver;
    std::function<void(const cFirecrackerUSB::Bytes&)> m_pluginUnknown;
    std::unique_ptr<cSettings> m_working;
    bool m_validating = false;

    QTabWidget* m_tabs = nullptr;
    std::array<HouseRow, kHouses> m_rows;
    QComboBox* m_cmbLogging = nullptr;
    QSlider* m_sldDebounceTime = nullptr;
    QLabel* m_debounceValue = nullptr;
    QLabel* m_lblMode = nullptr;
    QListWidget* m_lstCustom = nullptr;
    QLineEdit* m_txtRaw = nullptr;
    QPushButton* m_cmdAdd = nullptr;
    QPushButton* m_cmdRemove = nullptr;
    QPushButton* m_cmdSend = nullptr;
    QPushButton* m_cmdOk = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QPushButton* m_cmdHelp = nullptr;
    QComboBox* m_cmbHC = nullptr;
    QComboBox* m_cmbDC = nullptr;
    QComboBox* m_cmbHCX10 = nullptr;
    QComboBox* m_cmbDCX10 = nullptr;
    QCheckBox* m_chkX10Dimmable = nullptr;
    QPushButton* m_cmdCreateNinjaDevice = nullptr;
    QPushButton* m_cmdCreateX10Device = nullptr;
};

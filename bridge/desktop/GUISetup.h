#pragma once
// The web settings window: the server port, the page background and the style
// sheet. Shows the running values when loaded; when it closes, each field is
// stored back into the running value and saved in "qixBrindle.ini", section
// "General" (reaching the disk when the INI cache is flushed).

#include <QDialog>

class QLineEdit;

class GUISetup : public QDialog {
public:
    explicit GUISetup(QWidget* parent = nullptr);

    QLineEdit* aServerPort;
    QLineEdit* aBackground;
    QLineEdit* aStyleSheet;

    // Stores the fields; runs once, whether the window is closed or unloaded.
    void Form_Unload();

protected:
    void done(int r) override;
    void closeEvent(QCloseEvent* e) override;

private:
    bool m_unloaded = false;
};

#pragma once
// Explains each column of the House tab; "Command Map" shows the camera
// emulation table over it.

#include <QDialog>

class frmHelp : public QDialog {
public:
    explicit frmHelp(QWidget* parent = nullptr);
    void cmdCommandMap_Click();
};

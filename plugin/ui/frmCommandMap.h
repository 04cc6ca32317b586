#pragma once
// "Command Map": which camera command each received X10 unit 9 to 16 becomes
// when a house emulates the camera remote. Closes on its button or on a click
// anywhere in the window.

#include <QDialog>

class frmCommandMap : public QDialog {
public:
    explicit frmCommandMap(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

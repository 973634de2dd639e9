#pragma once

#include <QComboBox>

// The drive list: tells its dialog just before it drops down, so that the
// list is rebuilt every time the user opens it.
class CDriveCombo : public QComboBox {
    Q_OBJECT
public:
    explicit CDriveCombo(QWidget* parent = nullptr);
    void showPopup() override;

signals:
    void aboutToDropDown();
};

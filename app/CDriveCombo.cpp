#include "app/CDriveCombo.h"

CDriveCombo::CDriveCombo(QWidget* parent) : QComboBox(parent) {}

void CDriveCombo::showPopup() {
    emit aboutToDropDown();
    QComboBox::showPopup();
}

#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CAboutDlg;
}

// The About box: icon, name and version, a notice line and "确定".
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> ui;
};

#pragma once
// The device-information page (page 2): device id, software version, the
// network addresses and, once the FPGAs are managed, their versions.
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

class machinestate : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRows = 8;

    explicit machinestate(QWidget* parent = nullptr);
    ~machinestate() override;

    void language_changed();
    void syncUpdate(int code);

public slots:
    void on_Button_back_clicked();

private:
    void updateValues();

    QPushButton* m_back;
    QLabel* m_title;
    QLabel* m_name[kRows];
    QLabel* m_value[kRows];
};

extern QPointer<machinestate> g_machinestate;

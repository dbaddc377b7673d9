#pragma once
// The settings menu (page 5): opens the output, image layout, image quality,
// crop, communication, advanced, test pattern and smart set-up pages. Pages it opened return to
// it through language_changed, which re-labels it for g_language.
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;
class QToolButton;

class Option : public QDialog {
    Q_OBJECT
public:
    explicit Option(QWidget* parent = nullptr);
    ~Option() override;

    void language_changed();
    void syncUpdate(int code);
    // Set by language_changed; the smart set-up opens only while it is set.
    bool wizardFlag() const { return m_wizard_flag; }

public slots:
    void on_Button_back_clicked();
    void on_output_set_clicked();
    void on_Button_layout_clicked();
    void on_Button_quality_clicked();
    void on_input_cut_clicked();
    void on_link_set_clicked();
    void on_AdvanceButton_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();

private:
    QToolButton* makeTile(const char* name, int index, const char* icon);

    QPushButton* m_back;
    QLabel* m_title;
    QToolButton* m_tiles[8];
    bool m_wizard_flag = false;
};

extern QPointer<Option> g_option;

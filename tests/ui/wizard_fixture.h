#pragma once
// The smart set-up wizard opened from the settings menu, with or without an
// FPGA manager on the two simulated FPGAs (no thread of its own: a test
// turns it in virtual time), scan files under the root.
#include "service_fixture.h"

#include "fpga/fpga_jobs.h"
#include "fpga/fpga_manage.h"
#include "sim/sim_fpga.h"
#include "ui/service/smartmapping.h"
#include "video_io/source_handover.h"

#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <memory>

class WizardTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        g_send_para.finish();
        g_usb_grade.store(0);
        FpgaPanel::setScanFile(QString());
        for (int k = 0; k < 2; ++k)
            fpga[k] = std::dynamic_pointer_cast<SimFpga>(board().spiModel(fpgareg::kSpiDevices[k]));
    }
    void TearDown() override {
        delete g_smartmapping.data();
        delete g_qround_bar.data();
        fpga_manage::p_fpga_manage = nullptr;
        manager.reset();
        for (auto& s : source_handover::g_output_clock_state) s.store(0);
        g_fpga_c331_start.store(0);
        g_send_para.finish();
        FpgaPanel::setScanFile(QString());
        ServiceTest::TearDown();
    }

    // An FPGA manager on the simulated FPGAs, its thread not started.
    void startManager() {
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        ASSERT_EQ(manager->initialize(false), 0);
    }

    bool logHas(const std::string& text) {
        return readHostFile(hostPath("/data/vimraqd/log/mwrEnglneLog")).find(text) != std::string::npos;
    }

    SmartMapping* openWizard() {
        g_page_focus = PageRegistry::Settings;
        if (!g_option) g_option = new Option();
        g_option->on_smart_mapping_clicked();
        return g_smartmapping.data();
    }
    QStackedWidget* stack(SmartMapping* w) { return child<QStackedWidget>(w, "stackedWidget"); }
    int index(SmartMapping* w) { return stack(w)->currentIndex(); }
    QString text(QWidget* page, const char* name) {
        if (auto* l = page->findChild<QLabel*>(QString::fromLatin1(name))) return l->text();
        if (auto* b = page->findChild<QAbstractButton*>(QString::fromLatin1(name))) return b->text();
        if (auto* e = page->findChild<QLineEdit*>(QString::fromLatin1(name))) return e->text();
        ADD_FAILURE() << name;
        return {};
    }
    void click(QWidget* page, const char* name) {
        auto* b = child<QAbstractButton>(page, name);
        if (b) b->click();
    }
    // The operator touches a field and answers the keypad.
    void enter(SmartMapping* w, const char* field, const QString& typed) {
        NumberKeyboard::setNextAnswer(typed);
        QTest::mouseClick(child<QLineEdit>(w, field), Qt::LeftButton);
    }
    // Tile `tile` of the port frame shown.
    QFrame* ports(SmartMapping* w) {
        return stack(w)->currentWidget()->findChild<QFrame*>(QStringLiteral("frame_ports"));
    }
    QPushButton* tile(SmartMapping* w, int k) {
        QFrame* frame = ports(w);
        return frame ? frame->findChild<QPushButton*>(QString::number(k)) : nullptr;
    }
    QString tileText(SmartMapping* w, int k) {
        QFrame* frame = ports(w);
        return frame ? frame->findChildren<QLabel*>(QStringLiteral("label_port")).value(k)->text() : QString();
    }
    // Labels of the file page's rows, and their styles.
    QStringList rows(SmartMapping* w) {
        QStringList out;
        if (auto* frame = w->findChild<QFrame*>(QStringLiteral("frame_file")))
            for (QLabel* l : frame->findChildren<QLabel*>(QStringLiteral("label_file"))) out << l->text();
        return out;
    }
    QStringList rowStyles(SmartMapping* w) {
        QStringList out;
        if (auto* frame = w->findChild<QFrame*>(QStringLiteral("frame_file")))
            for (QLabel* l : frame->findChildren<QLabel*>(QStringLiteral("label_file")))
                out << l->property("fitBaseStyle").toString();
        return out;
    }
    std::shared_ptr<SimFpga> fpga[2];
    std::unique_ptr<fpga_manage> manager;
};

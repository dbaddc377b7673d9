#pragma once
// The service pages on the shell fixture, opened from the settings menu:
// the settings store loaded from its defaults, the change signal connected
// to the dispatcher, a stick folder under the root.
#include "shell_fixture.h"

#include "core/config_engine.h"
#include "ui/service/linkoption.h"
#include "ui/service/test_chart.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/shell_start.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

class ServiceTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        delete ConfigEngine::p_config;  // the defaults again for each test
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        shell_connect_model();
        board().simShell().clear();
    }
    void TearDown() override {
        delete g_test_chart.data();
        delete g_linkoption.data();
        FpgaPanel::setUsbUpgradeRequest(nullptr);
        FpgaPanel::setUsbGradeTimeReader(nullptr);
        FpgaPanel::setUsbGradeFailedReader(nullptr);
        ShellTest::TearDown();
    }

    LinkOption* openLink() {
        g_page_focus = PageRegistry::Settings;
        PageRegistry::open(PageRegistry::Communication);
        return g_linkoption.data();
    }
    // Files in the stick's folder, in the order given.
    void stickFiles(const QString& folder, const QStringList& names, const std::string& stick = "/mnt/usb1/") {
        touchFiles(stick + folder.toStdString(), names);
    }

    test_chart* openPattern() {
        g_page_focus = PageRegistry::Settings;
        PageRegistry::open(PageRegistry::TestPattern);
        return g_test_chart.data();
    }
    u8 patternByte() const { return model->live_image.byte(RamOffset::TEST_PATTERN); }
    QString style(QWidget* page, int n) {
        return child<QLabel>(page, QStringLiteral("label_test%1").arg(n).toLatin1().constData())->styleSheet();
    }
};

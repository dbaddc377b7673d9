#pragma once
// The service pages on the shell fixture, opened from the settings menu.
#include "shell_fixture.h"

#include "ui/service/test_chart.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

class ServiceTest : public ShellTest {
protected:
    void TearDown() override {
        delete g_test_chart.data();
        ShellTest::TearDown();
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

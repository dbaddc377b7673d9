#pragma once
// A front panel on the simulated board in virtual time: a parameter model of
// its own, the main menu with keypad and tip, the home page, pages opened
// without nested event loops.
#include "support/test_env.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/service/service_pages.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"
#include "video_engine/c331_manage.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>

#include <memory>
#include <string>
#include <vector>

// Empty files of these names in a device folder under the run's root.
inline void touchFiles(const std::string& deviceDir, const QStringList& names) {
    const QString d = QString::fromStdString(Root::path(deviceDir));
    QDir().mkpath(d);
    for (const QString& n : names) {
        QFile f(d + "/" + n);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << n.toStdString();
    }
}

class ShellTest : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        clock = &useManualClock();
        clock->setMs(1000000);
        ShellText::installFont();
        PageRegistry::reset();
        SettingsPages::install();
        ServicePages::install();
        PageRegistry::setDialogsBlocking(false);
        NumberKeyboard::clearAnswers();
        g_page_focus = 1;
        g_language = 1;
        g_auto_lock_time = 30000;
        g_back_to_mainwindow_time = 18000;
        g_app_reset_flag = 0;
        pc_cmd_valid = 0;
        c331_manage::get()->apply_flag = 0;

        model = std::make_unique<ZrvRamPara>();
        model->load();
        model->live_image.setWord(RamOffset::LANGUAGE, 1);  // English unless a test says otherwise
        model->shadow_image.setWord(RamOffset::LANGUAGE, 1);
        g_language = 1;
        install = std::make_unique<ModelInstall>(model.get());

        g_mainwindow = new MainWindow();
        g_lockwindow = new LockWindow();
        g_mainwindow->show();
    }

    void TearDown() override {
        delete g_qround_bar.data();
        delete g_option.data();
        delete g_machinestate.data();
        delete g_lockwindow.data();
        delete g_mainwindow.data();
        for (auto& d : extra) delete d.data();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        PageRegistry::reset();
        PageRegistry::setDialogsBlocking(true);
        install.reset();
        model.reset();
        SimEnv::TearDown();
    }

    // A named widget of a page; a missing one fails the test.
    template <class T>
    T* child(QWidget* parent, const char* name) {
        T* w = parent->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(w) << name;
        return w;
    }

    // Moves virtual time on by ticks of 10 ms, then runs the main window's
    // 10 ms duties once.
    void advanceTicks(u32 ticks) { clock->advanceMs(10ull * ticks); }
    void tickAfter(u32 ticks) {
        advanceTicks(ticks);
        g_mainwindow->slot_update_timer_ticks();
    }

    // A stand-in for a page of another part of the panel: it registers like
    // the real one and records what the shell asked of it.
    struct FakePage {
        QPointer<QDialog> dialog;
        std::vector<std::string>* log = nullptr;
        int refreshes = 0;
        int backs = 0;
    };
    FakePage* openFake(int id, int parentFocus, std::vector<std::string>* log = nullptr) {
        auto page = std::make_unique<FakePage>();
        page->dialog = new QDialog();
        page->log = log;
        extra.push_back(page->dialog.data());
        FakePage* raw = page.get();
        PageOps ops;
        ops.refresh = [raw, id](int code) {
            ++raw->refreshes;
            if (raw->log) raw->log->push_back("refresh " + std::to_string(id) + " " + std::to_string(code));
        };
        ops.back = [raw, id, parentFocus] {
            ++raw->backs;
            if (raw->log) raw->log->push_back("back " + std::to_string(id));
            PageRegistry::leave(id, raw->dialog);
            g_page_focus = parentFocus;
            raw->dialog->close();
        };
        PageRegistry::enter(id, page->dialog, ops);
        g_page_focus = id;
        fakes.push_back(std::move(page));
        return raw;
    }

    ManualClock* clock = nullptr;
    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    std::vector<QPointer<QWidget>> extra;
    std::vector<std::unique_ptr<FakePage>> fakes;
};

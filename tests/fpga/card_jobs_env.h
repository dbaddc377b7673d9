#pragma once
// The FPGAs up on simulated card chains, the job notifier's progress
// collected, in virtual time.
#include "fpga_env.h"

#include "fpga/card_frame.h"

#include <algorithm>
#include <string>
#include <vector>

class CardJobs : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        auto& n = fpga_job_notifier::get();
        conns.push_back(QObject::connect(&n, &fpga_job_notifier::quick_progress, [this](int v) { progress.push_back(v); events.push_back("p" + std::to_string(v)); }));
        conns.push_back(QObject::connect(&n, &fpga_job_notifier::advanced_progress, [this](int v) { progress.push_back(v); events.push_back("p" + std::to_string(v)); }));
        conns.push_back(QObject::connect(&n, &fpga_job_notifier::recovery_entry_found,
                                         [this](const QString& t) { events.push_back("entry " + t.toStdString()); }));
        conns.push_back(QObject::connect(&n, &fpga_job_notifier::recovery_list_cleared,
                                         [this] { events.push_back("clear"); }));
        for (auto failed : {&fpga_job_notifier::quick_failed, &fpga_job_notifier::advanced_failed})
            conns.push_back(QObject::connect(&n, failed, [this](int job) { events.push_back("failed " + std::to_string(job)); }));
        conns.push_back(QObject::connect(model.get(), &ZrvRamPara::sig_update_para,
                                         [this](int code) { events.push_back("code " + std::to_string(code)); }));
        pc_cmd_valid.store(0);
        g_usb_grade.store(0);
    }
    void TearDown() override {
        for (auto& c : conns) QObject::disconnect(c);
        g_send_para.finish();
        g_usb_grade.store(0);
        pc_cmd_valid.store(0);
        FpgaEnv::TearDown();
    }
    // Cards per port, the FPGAs up and the counts found by the search.
    void start(const std::string& ports) {
        board().scenario().loadJson("{\"ports\": " + ports + "}");
        ASSERT_TRUE(bringUpBoth());
        ASSERT_TRUE(runUntil([this] { return m->total_cards == expectedCards(); }, 600));
        for (auto& f : fpga) f->clearLog();
        g_send_para.job_step.store(0);
    }
    u16 expectedCards() {
        u16 n = 0;
        for (u16 c : board().scenario().snapshot().cardsPerPort) n = u16(n + c);
        return n;
    }
    bool runJob(int maxTicks) { return runUntil([] { return g_send_para.job_step.load() == 0; }, maxTicks); }
    // Frames sent to the cards with command `cmd`, on FPGA k.
    int framesWith(int k, u8 cmd) {
        int n = 0;
        for (auto& f : fpga[k]->sentFrames()) n += f.second.size() > 9 && f.second[9] == cmd;
        return n;
    }
    static u32 ram32(const SimFpga::Card& c, u32 at) {
        u32 v = 0;
        for (int i = 0; i < 4; ++i) {
            auto it = c.ram.find(at + i);
            v |= u32(it == c.ram.end() ? 0 : it->second) << (8 * i);
        }
        return v;
    }
    static LINE_TYPE_PARA grid(u8 port, u8 rows, u8 cols, u8 routing) {
        LINE_TYPE_PARA l;
        l.cabinet_width = 64;
        l.cabinet_height = 32;
        l.x_offset = 10;
        l.y_offset = 20;
        l.port = port;
        l.rows = rows;
        l.columns = cols;
        l.routing = routing;
        return l;
    }

    std::vector<int> progress;
    std::vector<std::string> events;  // progress, entries, list clears, failures and change codes in order
    std::vector<QMetaObject::Connection> conns;
};


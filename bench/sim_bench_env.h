#pragma once
// The simulated board in virtual time with a parameter model installed, for
// as long as a benchmark runs; the scenario can be set before the devices
// are attached.
#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_devices.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

class SimBenchBoard {
public:
    explicit SimBenchBoard(const std::function<void(SimScenario&)>& scenario = {}) {
        Root::setRoot(m_dir.path().toStdString());
        auto board = std::make_unique<SimBoard>();
        board->setClock(std::make_unique<ManualClock>());
        if (scenario) scenario(board->scenario());
        simAttachDevices(*board);
        Board::install(std::move(board));
        m_saved = ZrvRamPara::p_zrvrampara_config;
        ZrvRamPara::p_zrvrampara_config = &m_model;
    }
    ~SimBenchBoard() { ZrvRamPara::p_zrvrampara_config = m_saved; }
    SimBenchBoard(const SimBenchBoard&) = delete;
    SimBenchBoard& operator=(const SimBenchBoard&) = delete;

private:
    QTemporaryDir m_dir;
    ZrvRamPara m_model;
    ZrvRamPara* m_saved = nullptr;
};

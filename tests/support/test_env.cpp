#include "support/test_env.h"

#include "core/zrvrampara.h"
#include "sim/sim_devices.h"

#include <QDir>
#include <QFileInfo>

#include <fstream>
#include <sstream>

void SimEnv::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    Root::setRoot(m_dir.path().toStdString());
    auto board = std::make_unique<SimBoard>();
    m_board = board.get();
    simAttachDevices(*m_board);
    Board::install(std::move(board));
}

void SimEnv::TearDown() {
    // The board stays installed until the next test replaces it: threads a
    // test started may still read the clock while the process ends.
}

ManualClock& SimEnv::useManualClock() {
    auto clock = std::make_unique<ManualClock>();
    m_manual = clock.get();
    m_board->setClock(std::move(clock));
    return *m_manual;
}

std::string readHostFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeHostFile(const std::string& hostPath, const std::string& data) {
    QDir().mkpath(QFileInfo(QString::fromStdString(hostPath)).absolutePath());
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out << data;
}

ModelInstall::ModelInstall(ZrvRamPara* model) : m_saved(ZrvRamPara::p_zrvrampara_config) {
    ZrvRamPara::p_zrvrampara_config = model;
}
ModelInstall::~ModelInstall() { ZrvRamPara::p_zrvrampara_config = m_saved; }

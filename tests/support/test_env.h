#pragma once
// A fresh simulated board and a temporary root folder for each test.
#include "platform/board.h"
#include "platform/root.h"
#include "sim/sim_board.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>
#include <vector>

class ZrvRamPara;

class SimEnv : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    SimBoard& board() { return *m_board; }
    // Host path of a device path under the test's root.
    std::string hostPath(const std::string& devicePath) const { return Root::path(devicePath); }
    // Switches the board to virtual time; returns the clock.
    ManualClock& useManualClock();

private:
    QTemporaryDir m_dir;
    SimBoard* m_board = nullptr;
    ManualClock* m_manual = nullptr;
};

// Several integer values checked in one assertion, evaluated left to
// right: EXPECT_EQ((Vals{a, b}), (Vals{1, 2})).
struct Vals : std::vector<long long> {
    template <class... T>
    Vals(T... v) : std::vector<long long>{static_cast<long long>(v)...} {}
};

// Makes a parameter model the process's one while it lives.
class ModelInstall {
public:
    explicit ModelInstall(ZrvRamPara* model);
    ~ModelInstall();

private:
    ZrvRamPara* m_saved;
};

// Reads a whole host file; empty when missing.
std::string readHostFile(const std::string& hostPath);
void writeHostFile(const std::string& hostPath, const std::string& data);

#pragma once
// What every fuzz target shares: a scratch root under which every device
// path lands, the simulated board (its shell records and runs nothing), and
// helpers to place a file there.
#include "platform/board.h"
#include "platform/root.h"
#include "sim/sim_board.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fuzzenv {

// Sets the scratch root and the board up once per process. Virtual time:
// the waits of the code under test pass at once; the root lies in memory
// where it can, so the durable writes under test cost no disk flush.
inline void init() {
    static QTemporaryDir* dir = nullptr;
    if (dir) return;
    dir = new QTemporaryDir(QStringLiteral("/dev/shm/zrv-fuzz-XXXXXX"));
    if (!dir->isValid()) {
        delete dir;
        dir = new QTemporaryDir();
    }
    Root::setRoot(dir->path().toStdString());
    auto board = std::make_unique<SimBoard>();
    board->setClock(std::make_unique<ManualClock>());
    Board::install(std::move(board));
}

// Replaces the file at a device path with the input bytes.
bool place(const std::string& devicePath, const uint8_t* data, size_t size);

}  // namespace fuzzenv

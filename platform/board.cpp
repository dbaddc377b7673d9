#include "platform/board.h"

#include "core/console.h"
#include "platform/root.h"

#include <cstdlib>
#include <memory>

// Factories of the two backends (platform/linux and sim).
std::unique_ptr<Board> makeLinuxBoard();
std::unique_ptr<Board> makeSimBoard(const std::string& scenarioFile);

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::atomic<Board*> g_board{nullptr};
// Replaced boards are kept: a thread started under one (the managers are
// never destroyed) may still hold a device it opened there.
std::vector<std::unique_ptr<Board>>& boards() {
    static std::vector<std::unique_ptr<Board>> all;
    return all;
}
}  // namespace

Board& Board::get() {
    Board* b = g_board.load();
    if (!b) {
        installFromEnvironment();
        b = g_board.load();
    }
    return *b;
}

Board* Board::installed() { return g_board.load(); }

void Board::install(std::unique_ptr<Board> board) {
    g_board.store(board.get());
    boards().push_back(std::move(board));
}

void Board::installFromEnvironment() {
    // Once: two threads that find no board make one between them. A board
    // being made that asks for the board would wait here for itself: it is
    // a fault of the program, told at once rather than hanging the start.
    static std::mutex installing;
    static thread_local bool inside = false;
    if (inside) {
        Console::printErr("zrvK57N: the board was asked for while it was being installed\n");
        Console::drain(Console::kLastLinesWait);
        std::abort();
    }
    std::lock_guard<std::mutex> lock(installing);
    if (g_board.load()) return;
    inside = true;
    Root::setFromEnvironment();
    const char* kind = std::getenv("ZRV_BOARD");
    if (kind && std::string(kind) == "sim") {
        const char* scenario = std::getenv("ZRV_BOARD_CONFIG");
        install(makeSimBoard(scenario ? scenario : ""));
    } else {
        install(makeLinuxBoard());
    }
    inside = false;
}

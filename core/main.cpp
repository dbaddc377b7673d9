#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    Board::installFromEnvironment();
    QApplication app(argc, argv);
    return app.exec();
}

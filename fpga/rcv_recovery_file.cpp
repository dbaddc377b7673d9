#include "fpga/rcv_recovery_file.h"

#include "core/logMsg.h"
#include "platform/fileops.h"

int rcvRecovery::check_file_dir(const QString& dir) {
    const std::string path = dir.toStdString();
    if (FileOps::exists(path)) return 0;
    if (!FileOps::makeDirs(path)) writeLogMsg(ERROR, "can't create " + path);
    return 1;
}

#pragma once
// Reader of the receiving-card recovery and scan files. Only its folders
// are set up so far.
#include <QString>

class rcvRecovery {
public:
    // Creates the folder (a device path) when it does not exist; 0 when it
    // existed, 1 when it was created (or could not be).
    int check_file_dir(const QString& dir);
};

#include "core/utils.h"
int Utils::getIPAddress() { return 0; }
int Utils::initIPAddress() { return 0; }

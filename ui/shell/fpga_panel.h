#pragma once
// What the front panel reads of the FPGA manager. Every call answers "no"
// while the manager does not exist, so the panel runs before the FPGAs are
// up and on a build without the FPGA part.
#include "core/global.h"

#include <QString>

#include <functional>

struct LINE_TYPE_PARA;

namespace FpgaPanel {

bool exists();
// Both FPGAs have finished their start sequence.
bool running();
// 24-bit link mask of the output ports (FPGA 0 in bits 0-11, FPGA 1 in 12-23).
bool portLinks(u32* mask);
// Reads registers 42, 40, 43 of FPGA 0, then of FPGA 1, for one ageing
// sample: out[0..2] FPGA 0, out[3..5] FPGA 1.
bool readAgeRegisters(u8 out[6]);
// A receiving-card job or a USB upgrade is posted to the FPGA thread.
bool jobRunning();
// Version text of one FPGA ("yy-mm-dd Fn").
bool version(int fpga, QString* text);

// Number of files in "/data/rcvrecovery" as the manager's recovery reader
// lists them; false, *count untouched, without the manager or the folder.
bool recoveryFileCount(int* count);
// The card word of the job mailbox: the card the last check found to need
// recovery, 0xFFFF or 0xFF when none.
bool cardToRecover(u16* card);
// Where an output port's picture lies on the wall, as its FPGA's parameter
// area holds it.
struct PortRegion {
    u16 x = 0, y = 0, w = 0, h = 0;
};
// Output port 0-23: 0-11 are FPGA 0's local ports, 12-23 FPGA 1's; any
// other number reads FPGA 0's port 0. Read under the lock the FPGA thread
// rewrites the area with, so a region is never half old, half new.
bool portRegion(int port, PortRegion* region);

// Asks the FPGA thread to re-initialise the LED outputs after the wall or
// the splice mode changed: raised only when both FPGAs are in run state 3,
// with g_set_led_para and g_set_led_setup written under
// Utils::_led_para_init_mutex. The caller holds the c331 manager's mutex
// (the lock order of the FPGA manager). True when raised.
bool requestLedReinit();

// What portRegion and requestLedReinit answer instead of the manager
// (tests); null returns to the manager.
class Backend {
public:
    virtual ~Backend() = default;
    virtual bool portRegion(int port, PortRegion* region) = 0;
    virtual bool requestLedReinit() = 0;
};
void setBackend(Backend* backend);

// Asks the FPGA thread for a USB upgrade run. One job at a time: refused
// (false, one log line) while a card job runs or an upgrade is already
// requested, without the manager, and while no upgrade run is installed.
bool postUsbUpgrade();
// The upgrade run's request operation (the step byte, then g_usb_grade),
// installed by the upgrade itself; null removes it.
void setUsbUpgradeRequest(std::function<bool()> request);
// Start and end times of the last upgrade run; empty while no run is
// installed.
QString usbGradeTime();
void setUsbGradeTimeReader(std::function<QString()> reader);
// The last upgrade run refused a package or did not write an entry; false
// while no run is installed.
bool usbGradeFailed();
void setUsbGradeFailedReader(std::function<bool()> reader);

// ---- the card jobs of the smart set-up wizard and the advanced page
// The receiving cards' mapping: on when bit 7 of register 0 reads back set
// from FPGA 0 and from FPGA 1 (read in that order).
bool mappingOn();
// Posts card job 1-3, 5 or 6, with the quick set-up record when line is set (jobs
// 1 and 2 take their port from it): refused (false, one log line) without
// the manager and while a job runs or an upgrade is requested.
bool postJob(u8 job, const LINE_TYPE_PARA* line);
// The mapping switch: off when it reads on, else on. Refused like postJob
// before anything is written; otherwise writes bit 7 of register 0 of FPGA
// 0 then FPGA 1 and posts job 4 with the cards' value (9 on, 0 off). Never
// called with the c331 manager's mutex held (a register 0 write takes it).
// *on: the state switched to.
bool switchMapping(bool* on);
// The plain files of "/data/smartmapping" as the load job's package reader
// lists them (any name; 0 for a missing folder); false without the manager.
bool deviceScanFiles(int* count);
// The scan file the load job opens (a device path); the job copies it when
// it starts.
void setScanFile(const QString& path);
QString scanFile();

}  // namespace FpgaPanel

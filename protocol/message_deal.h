#pragma once
// The command dispatcher of the PC protocol and its handlers. Every link
// hands its decoded frames to message_group_deal; one dispatcher mutex runs
// the handlers one at a time, because the file transfer in progress and the
// flashes exist once.
#include "core/global.h"
#include "core/line_limiter.h"
#include "protocol/pc_link.h"
#include "protocol/protocol_phy.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <array>
#include <memory>
#include <string>
#include <vector>

// Reply status byte (frame byte 10).
namespace ReplyStatus {
constexpr u8 Ok = 0;
constexpr u8 BadArgument = 1;   // bad argument or out of range
constexpr u8 Busy = 2;          // busy or not ready
constexpr u8 Unsupported = 0xFF;
}  // namespace ReplyStatus

// Command byte (frame byte 9).
namespace PcCmd {
constexpr u8 FlashErase = 0x70;
constexpr u8 FlashWrite = 0x71;
constexpr u8 FlashRead = 0x72;
constexpr u8 RamWrite = 0x60;
constexpr u8 RamRead = 0x61;
constexpr u8 FileStart = 0x80;
constexpr u8 FileData = 0x81;
constexpr u8 FileEnd = 0x82;
constexpr u8 DeleteCardFiles = 0x83;
constexpr u8 DeviceInfo = 0x90;
constexpr u8 SetClock = 0x91;
constexpr u8 TimeReport = 0x92;
constexpr u8 NetworkSetup = 0x93;
constexpr u8 RegWrite = 0xA0;
constexpr u8 RegRead = 0xA1;
}  // namespace PcCmd

// Protocol RAM addresses.
namespace PcRam {
constexpr u32 ImageBase = 0x000000;     // parameter image, 4096 bytes
constexpr u32 ImageEnd = 0x001000;
constexpr u32 SlotBase = 0x001000;      // user mode s (1 to 16) at s * 0x1000
constexpr u32 SlotEnd = 0x011000;
constexpr u32 SlotBytes = 4098;         // markers and snapshot
constexpr u32 FpgaBase = 0x100000;      // FPGA blocks:
constexpr u32 FpgaCmd = 0x100000;       //   MCU_RAM_CMD, 1024 bytes
constexpr u32 FpgaExtend = 0x100400;    //   MCU_RAM_EXTEND, 1024 bytes
constexpr u32 FpgaZoom = 0x100800;      //   MCU_RAM_ZOOM, 1024 bytes
constexpr u32 FpgaPara = 0x101000;      //   + 0x400 f: parameter area of FPGA f, 1024 bytes
constexpr u32 FpgaTx = 0x102000;        //   + 0x400 f: send area of FPGA f, 1024 bytes
constexpr u32 FpgaBack = 0x103000;      //   + 0x400 f: port back-up area of FPGA f, 136 bytes
constexpr u32 StatusBase = 0x200000;    // REG 37 to REG 1060, read only
constexpr u32 StatusFirstReg = 37;
constexpr u32 StatusBytes = 1024;
constexpr u32 MaxRead = 1024;
// Whether `length` bytes from `address` lie within one area the device
// serves, for a write or a read: the one description of the areas for the
// device's answers and for a client that checks before it sends. Computed
// in 64 bits: no sum wraps.
bool served(u64 address, u64 length, bool write);
}  // namespace PcRam

// Protocol register numbers with a meaning of their own.
namespace PcReg {
constexpr u32 LastWritable = 169;
constexpr u32 LastReadable = 1060;
constexpr u32 SdiControl = 17;        // masked store, then RegUpdate11
constexpr u32 SourceCommand = 32;     // carried out by the source thread
constexpr u32 DebugFirst = 33;        // c331 debug requests 33 to 36
constexpr u32 DebugLast = 36;
constexpr u32 SourceRequest = 160;    // value AND mask into REG 32
constexpr u32 McuFlag = 161;          // message_deal::REG_mcu_flag
constexpr u8 TargetController = 0;
constexpr u8 TargetFpga0 = 1;
constexpr u8 TargetFpga1 = 2;
}  // namespace PcReg

// Files the PC can send.
namespace PcFile {
constexpr u8 RecoveryFile = 9;
constexpr u8 ScanFile = 13;
constexpr u8 OsdMenu = 20;
constexpr u8 AliasFile = 21;
constexpr u8 KernelImage = 30;
constexpr u8 BootLogo = 31;
constexpr u32 MaxLength = 5 * 1024 * 1024;  // the transfer buffer
constexpr u32 MaxName = 64;
constexpr const char* RecoveryDir = "/data/rcvrecovery";
constexpr const char* RecoveryPath = "/data/rcvrecovery/QDFX";
constexpr const char* ScanDir = "/data/smartmapping";
constexpr const char* OsdMenuPath = "/data/configs/omenu.json";
constexpr const char* AliasPath = "/data/configs/alias.json";
constexpr const char* KernelMtd = "/dev/mtd10";
constexpr const char* LogoMtd = "/dev/mtd8";
constexpr int ChangeCode = 103;  // change signal after a stored file
// Scan and recovery files together: at most this many files and bytes, and
// a store never leaves less than kMinFreeBytes on the data file system.
constexpr u32 MaxCardFiles = 64;
constexpr u64 MaxCardBytes = 64ull * 1024 * 1024;
constexpr u64 MinFreeBytes = 8ull * 1024 * 1024;
}  // namespace PcFile

// The one file transfer in progress.
struct ZrvFileDeal {
    bool active = false;
    PcPeer owner;         // who started it: only its chunks and end count
    u8 type = 0;
    u32 total = 0;        // announced length
    u32 received = 0;     // bytes from offset 0 that arrived
    u8 md5[16] = {};
    std::string path;     // device path of the destination
    QByteArray data;      // the whole file until it is checked
};

class message_deal {
public:
    static message_deal* pInstance();
    message_deal();

    // Handles one decoded frame (check byte verified, at least 11 bytes)
    // from the peer `from`. Writes the reply frame, not yet stuffed, into
    // reply and returns its length; 0 when there is no reply or it would not
    // fit in replyCap.
    u32 message_group_deal(const u8* frame, u32 length, u8* reply, u32 replyCap, const PcPeer& from = PcPeer{});

    // Register 17 side effect: bit 0 of the mask asks for an SDI receiver
    // reset. Returns 0.
    static int RegUpdate11(u8 mask);
    // The device's flag register (161); always returns 0.
    //  bit 1: apply the parameters the PC wrote (user-mode recall, audio
    //         window, wall size, switching effect), apply flag 1;
    //  bit 2: user-mode slots written, apply flag 2;
    //  bit 3: reload the OSD menu when the OSD is on.
    static int REG_mcu_flag(u8 value, u8 mask);
    // Raises the c331 manager's apply flag to want without ever turning a
    // pending 2 (slots written) back into 1. Call with the manager's mutex held.
    static void raiseApplyFlag(u8 want);

    // Raises change code 103 for a stored file and posts the reaction of
    // the page in front: the advanced page (12) redraws after a recovery
    // file, the set-up wizard (24) closes after a scan file.
    static void write_file_end(int fileType);
    // Deletes every scan and recovery file and posts the reaction of the
    // page in front: the wizard closes, the settings menu (5) redraws, the
    // advanced page gets change code 103 when a recovery file went. True
    // when a recovery file was among them. kept, when given, gets the files
    // that could not be removed (their count, and the first one's path).
    struct Kept {
        int count = 0;
        std::string first;
    };
    static bool delete_file_name(Kept* kept = nullptr);

    // Reduces a file name from the PC to a safe base name: the part after
    // the last '/' or '\\', letters, digits, '.', '_' and '-' only, not "."
    // or "..", at most 64 characters. Empty when the name is refused.
    static std::string safeFileName(const std::string& name);
    // Device path where a file of this type and name is stored; empty when
    // the type is unknown or the name is refused for it.
    static std::string filePathFor(u8 type, const std::string& name);
    // Whether a scan or recovery file of `size` bytes may be stored at
    // device path `target` (replacing what is there) with `freeBytes` free
    // on the data file system: the files of both folders stay within
    // PcFile::MaxCardFiles and PcFile::MaxCardBytes and at least
    // PcFile::MinFreeBytes stay free. Empty when it may, else the reason.
    static std::string cardFileRoomFault(const std::string& target, u64 size, u64 freeBytes);

    // The checks that refuse a file transfer (0x80 to 0x82), in their order.
    enum Refusal : u8 { NameSize, Type, Name, Length, Arrived, Digest, AliasShape, OsdMenu, Room, Space, kRefusals };
    // The check that refuses the start of a transfer (0x80) of this type,
    // name (its NUL padding dropped) and announced length, with the reason
    // in `why`; kRefusals when none does. The client judges its arguments
    // with it before it sends anything.
    static Refusal startRefusal(u8 type, const std::string& name, u32 total, std::string& why);
    // The most a transfer of the type may announce: the transfer buffer, or
    // less for the files read on arrival.
    static u32 transferMost(u8 type);

    // Software version of this program, the same four bytes the FPGA
    // command block reports; the device-information page shows it too.
    static constexpr std::array<u8, 4> kSoftwareVersion{1, 17, 0, 0};

    // State of the transfer, for tests.
    const ZrvFileDeal& fileState() const { return m_file; }

private:
    using Handler = u32 (message_deal::*)(const Cmd_Frame& req, u8* out, u32 cap);
    // Each handler writes its reply from frame byte 10 (status first) into
    // out, at most cap bytes, and returns how many it wrote.
    u32 ram_write(const Cmd_Frame& req, u8* out, u32 cap);
    u32 ram_read(const Cmd_Frame& req, u8* out, u32 cap);
    // The FPGA manager's blocks from 0x100000, byte for byte.
    u32 fpga_ram_write(u32 addr, const u8* bytes, u32 len, u8* out, u32 cap);
    u32 fpga_ram_read(u32 addr, u32 len, u8* out, u32 cap);
    u32 write_register(const Cmd_Frame& req, u8* out, u32 cap);
    u32 read_register(const Cmd_Frame& req, u8* out, u32 cap);
    u32 file_start(const Cmd_Frame& req, u8* out, u32 cap);
    u32 file_data(const Cmd_Frame& req, u8* out, u32 cap);
    u32 file_end(const Cmd_Frame& req, u8* out, u32 cap);
    u32 delete_files(const Cmd_Frame& req, u8* out, u32 cap);
    u32 device_info(const Cmd_Frame& req, u8* out, u32 cap);
    u32 set_clock(const Cmd_Frame& req, u8* out, u32 cap);
    u32 Time_to_RAM(const Cmd_Frame& req, u8* out, u32 cap);
    u32 network_setup(const Cmd_Frame& req, u8* out, u32 cap);
    // The video processor's serial flash (fonts, OSD bitmap).
    u32 flash_erase(const Cmd_Frame& req, u8* out, u32 cap);
    u32 flash_write(const Cmd_Frame& req, u8* out, u32 cap);
    u32 flash_read(const Cmd_Frame& req, u8* out, u32 cap);

    static u32 status(u8* out, u32 cap, u8 code);
    // Stores the checked file; status code.
    u8 storeFile();
    // A transfer is in progress and the frame in hand comes from its starter.
    bool transferOfSender() const;

    // A PC may send its frames as fast as they are answered: every line a
    // frame causes is logged whole for the first of each second and then
    // counted (see LineLimiter), each check's refusals on their
    // own.
    // Logs "file transfer refused: <why>" or counts it; the line is the
    // caller's place in the log, each check's its own.
    void refuse(Refusal check, const std::string& why, LogPlace at = {});

    // Writes a PC asked for that did not take (the answer is a non-zero
    // status), each kind limited like the refusals: a PC may repeat them as
    // fast as they are answered.
    enum WriteFault : u8 { CardFilesKept, ClockNotSet, SettingsNotStored, kWriteFaults };
    void writeFailed(WriteFault kind, const std::string& line, LogPlace at = {});

    QMutex m_dispatch;
    std::array<Handler, 256> m_table{};
    PcPeer m_from;  // the sender of the frame in hand, under m_dispatch
    ZrvFileDeal m_file;
    std::vector<std::unique_ptr<LineLimiter>> m_refusals;
    std::vector<std::unique_ptr<LineLimiter>> m_writeFaults;
    // The other lines of the handlers, by what they tell; the flashes'
    // (kernel and logo) each flash's own.
    LineLimiterSet m_flashMissing, m_flashFailed, m_flashWritten;
    LineLimiter m_storeFailed, m_received, m_clockSet;
};

#pragma once
// Reader of the receiving-card recovery package ("/data/rcvrecovery/QDFX")
// and of scan files ("/data/smartmapping" or the stick's "/mnt/usb1/").
// Both come from a PC or a stick: every count, offset and length read from
// them is checked against the file before it is used, and a short read is a
// read error. Files are opened read-only under Utils::_file_deal_mutex.
//
// Every reader takes the file's device path and returns 0 when it read its
// record, 1 when the file is missing or unreadable, the index out of range
// or the record does not lie within the file; the fields it would have
// filled are then left as they were.
#include "core/global.h"

#include <QString>
#include <QStringList>

#include <mutex>
#include <string>

class rcvRecovery {
public:
    static constexpr u32 kMaxPacked = 6;     // packed files of a package
    static constexpr u32 kMaxIndex = 255;    // screens, nets, cards, operations
    static constexpr u32 kOperationSize = 18;
    static constexpr u32 kScanBlock = 16;    // a scan file's block offset

    struct PackedEntry {
        u8 type = 0;  // 10 screen, 11 coordinate, 12 parameter file
        u32 length = 0;
        u32 offset = 0;
    };
    struct ScreenHead {
        u8 type = 0;
        u32 para_length = 0, para_crc = 0, coord_length = 0, coord_crc = 0;
        u8 screen_count = 0;
    };
    struct ScreenRecord {
        u32 identity = 0, net_mask = 0;
        u32 para_offset = 0, para_length = 0, coord_offset = 0, coord_length = 0;
    };
    struct NetRecord {
        u16 port = 0, cards = 0;
        u32 para_offset = 0, para_length = 0;
    };
    struct Operation {
        u32 offset = 0, length = 0, address = 0, time_ms = 0;
        u8 type = 0, target = 0;
    };

    // Bounds of an operation's numbers, checked when its block's count and
    // when the operation itself is read, so that no file holds the card jobs
    // (and the USB upgrade, refused meanwhile). An operation's time is a
    // pause or the wait for a card's acknowledgement: a card answers a frame
    // at once and restarts after a firmware activation or a reconfiguration
    // in seconds, so 30 s is room enough, and a pause (which shows the
    // overlay no progress) ends well inside the overlay's 2 minutes.
    static constexpr u32 kMaxWaitMs = 30000;
    // A RAM write goes in packets of 1000 bytes, counted in one byte.
    static constexpr u32 kPacket = 1000;
    static constexpr u32 kMaxPackets = 255;
    // The replay of one block with no card answering (each frame sent four
    // times, each waiting its time) ends within an hour.
    static constexpr u64 kMaxBlockMs = 3600000;
    // Packets of a RAM write (1 for none).
    static u32 packets(const Operation& op);
    // The longest the replay of op takes on one card that never answers.
    static u64 worstCaseMs(const Operation& op);
    // Why the operation is refused; empty when its numbers are in bounds.
    static std::string operationProblem(const Operation& op);

    // Creates the folder (a device path) when it does not exist; 0 when it
    // existed, 1 when it was created (or could not be).
    int check_file_dir(const QString& dir);
    // Lists the plain files of "/data/rcvrecovery" into the recovery list,
    // of "/data/smartmapping" or "/mnt/usb1/" into the scan list; 1 when
    // the folder is missing (the list kept), any other folder changes
    // nothing.
    int get_dir_file(const QString& dir);
    // Copies of the lists (the pages rebuild them in the GUI thread while
    // the FPGA thread reads them).
    QStringList recovery_files() const;
    QStringList scan_files() const;
    // Empties both lists (the PC deleted the files).
    void clear_lists();

    int get_rcvPackedFileNum(const QString& path);
    int get_rcvPackedFileInfo(const QString& path, u32 k);
    int update_rcvScreenHead(const QString& path);
    int update_rcvScreenIDinfo(const QString& path, u32 i);
    int update_rcvXYscreenNetnum(const QString& path);
    int update_rcvXYscreenNetpara(const QString& path, u32 n);
    int update_rcvXYrcvOperateTimes(const QString& path, u32 j);
    int update_rcvXYrcvOperatepara(const QString& path, u32 r);
    int update_smartDebugingOperateTimes(const QString& path, bool scan);
    int update_smartDebugingOperatepara(const QString& path, u32 r, bool scan);
    int update_rcvOperatedata(const QString& path, u64 offset, u8* buffer, u32 length);
    // Clears the screen record's parameter and coordinate offsets and
    // lengths (before a scan file is used).
    void init_para();

    // The last entry of `type` among the head's entries; null when none.
    const PackedEntry* entry(u8 type) const;
    // Start of the screen's coordinate part and of its parameter block.
    u64 coord_base() const;
    u64 para_base() const;
    // Start of the current net's blocks.
    u64 net_base() const { return coord_base() + net.para_offset; }

    u8 head[4] = {};
    u8 packed_count = 0;
    PackedEntry packed[kMaxPacked];
    QString package_path;
    u64 data_offset = 0;  // of the current operation's data
    ScreenHead screen_head;
    ScreenRecord screen;
    NetRecord net;
    Operation operation;
    u16 net_count = 0;
    u32 card_block_offset = 0;  // of the current card's block, from net_base()
    u16 operation_count = 0;

private:
    // Reads length bytes at offset of the file; false, logging why, when
    // the file cannot be read or the range does not lie within it.
    bool readAt(const QString& path, u64 offset, u8* out, u32 length) const;
    // Reads the u16 count of the block at `block` and checks every operation
    // of it and their worst case together; 0 for none.
    bool readBlock(const QString& path, u64 block, u16& count) const;
    // Reads operation record r of the block at `block` into `operation`.
    bool readOperation(const QString& path, u64 block, u32 r);

    mutable std::mutex m_lists;
    QStringList m_recovery;
    QStringList m_scan;
};

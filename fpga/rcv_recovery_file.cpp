#include "fpga/rcv_recovery_file.h"

#include "core/file_checks.h"
#include "fpga/card_frame.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QDir>
#include <QMutexLocker>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* kRecoveryDir = "/data/rcvrecovery";
constexpr const char* kScanDir = "/data/smartmapping";
constexpr const char* kStickDir = "/mnt/usb1";

u16 le16(const u8* b) { return u16(b[0] | b[1] << 8); }
u32 le32(const u8* b) { return u32(b[0]) | u32(b[1]) << 8 | u32(b[2]) << 16 | u32(b[3]) << 24; }

// At the caller's place: each check's refusal has its own limit.
void refuse(const QString& path, const std::string& why, LogPlace at = {}) {
    writeLogMsg(WARNING, "card package " + path.toStdString() + ": " + why, at);
}

}  // namespace

int rcvRecovery::check_file_dir(const QString& dir) {
    const std::string path = dir.toStdString();
    if (FileOps::exists(path)) return 0;
    if (!FileOps::makeDirs(path)) writeLogMsg(ERROR, "can't create " + path);
    return 1;
}

int rcvRecovery::get_dir_file(const QString& dir) {
    QString d = dir;
    while (d.size() > 1 && d.endsWith('/')) d.chop(1);
    const bool recovery = d == kRecoveryDir;
    if (!recovery && d != kScanDir && d != kStickDir) return 0;
    const QDir folder(Root::qpath(d));
    if (!folder.exists()) return 1;
    // Without QDir::System: FIFOs, sockets and devices are no packages.
    QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    // A write cut off leaves a temporary beside its file: never a card file.
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const QString& n) { return !FileCheck::listable(d, n); }),
                names.end());
    std::lock_guard<std::mutex> lock(m_lists);
    (recovery ? m_recovery : m_scan) = std::move(names);
    return 0;
}

QStringList rcvRecovery::recovery_files() const {
    std::lock_guard<std::mutex> lock(m_lists);
    return m_recovery;
}

QStringList rcvRecovery::scan_files() const {
    std::lock_guard<std::mutex> lock(m_lists);
    return m_scan;
}

void rcvRecovery::clear_lists() {
    std::lock_guard<std::mutex> lock(m_lists);
    m_recovery.clear();
    m_scan.clear();
}

bool rcvRecovery::readAt(const QString& path, u64 offset, u8* out, u32 length) const {
    QMutexLocker lock(&Utils::_file_deal_mutex);
    // Read-only: a stick may be mounted read-only. A FIFO or a device in
    // the listed file's place is refused without waiting on it (with the
    // file mutex held, a FIFO would stall every file user).
    FileOps::FileRead found;
    const int fd = FileOps::openForRead(path.toStdString(), found, FileOps::Links::Refuse);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!f) {
        if (fd >= 0) ::close(fd);
        refuse(path, "cannot be opened (" + (fd >= 0 ? std::string("no stream") : found.why) + ")");
        return false;
    }
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    if (size < 0 || offset > u64(size) || length > u64(size) - offset) {
        refuse(path, std::to_string(length) + " bytes at " + std::to_string(offset) + " lie beyond its " +
                         std::to_string(size) + " bytes");
        ok = false;
    } else {
        ok = std::fseek(f, long(offset), SEEK_SET) == 0 && std::fread(out, 1, length, f) == length;
        if (!ok) refuse(path, "short read at " + std::to_string(offset));
    }
    std::fclose(f);
    return ok;
}

int rcvRecovery::get_rcvPackedFileNum(const QString& path) {
    u8 b[4];
    if (!readAt(path, 0, b, 4)) return 1;
    if (b[3] > kMaxPacked) {
        refuse(path, std::to_string(b[3]) + " packed files announced, at most 6 are read");
        return 1;
    }
    std::copy(b, b + 4, head);
    packed_count = b[3];
    package_path = path;
    return 0;
}

int rcvRecovery::get_rcvPackedFileInfo(const QString& path, u32 k) {
    if (k >= packed_count) return 1;
    u8 b[12];
    if (!readAt(path, 4 + 12u * k, b, 12)) return 1;
    packed[k] = {b[0], le32(b + 4), le32(b + 8)};
    return 0;
}

const rcvRecovery::PackedEntry* rcvRecovery::entry(u8 type) const {
    const PackedEntry* found = nullptr;
    for (u32 k = 0; k < packed_count; ++k)
        if (packed[k].type == type) found = &packed[k];
    return found;
}

int rcvRecovery::update_rcvScreenHead(const QString& path) {
    const PackedEntry* e = entry(10);
    u8 b[32];
    if (!e || !readAt(path, e->offset, b, 32)) return 1;
    screen_head = {b[2], le32(b + 4), le32(b + 8), le32(b + 12), le32(b + 16), b[20]};
    return 0;
}

int rcvRecovery::update_rcvScreenIDinfo(const QString& path, u32 i) {
    const PackedEntry* e = entry(10);
    if (!e || i >= screen_head.screen_count) return 1;
    u8 b[52];
    if (!readAt(path, u64(e->offset) + 32 + 52ull * i, b, 52)) return 1;
    screen = {le32(b), le32(b + 4), le32(b + 36), le32(b + 40), le32(b + 44), le32(b + 48)};
    return 0;
}

u64 rcvRecovery::coord_base() const {
    const PackedEntry* e = entry(11);
    return (e ? e->offset : 0) + u64(screen.coord_offset);
}

u64 rcvRecovery::para_base() const {
    const PackedEntry* e = entry(12);
    return (e ? e->offset : 0) + u64(screen.para_offset);
}

int rcvRecovery::update_rcvXYscreenNetnum(const QString& path) {
    u8 b[2];
    if (!entry(11) || !readAt(path, coord_base(), b, 2)) return 1;
    if (le16(b) > kMaxIndex) {
        refuse(path, std::to_string(le16(b)) + " nets on a screen");
        return 1;
    }
    net_count = le16(b);
    return 0;
}

int rcvRecovery::update_rcvXYscreenNetpara(const QString& path, u32 n) {
    if (n >= net_count) return 1;
    u8 b[12];
    if (!readAt(path, coord_base() + 4 + 12ull * n, b, 12)) return 1;
    const NetRecord r{le16(b), le16(b + 2), le32(b + 4), le32(b + 8)};
    if (r.port > 23 || r.cards > kMaxIndex) {
        refuse(path, "net on port " + std::to_string(r.port) + " with " + std::to_string(r.cards) + " cards");
        return 1;
    }
    net = r;
    return 0;
}

int rcvRecovery::update_rcvXYrcvOperateTimes(const QString& path, u32 j) {
    if (j > kMaxIndex) return 1;
    // Each card's block follows the one before: walk them from card 0.
    u64 offset = 0;
    for (u32 card = 0; card < j; ++card) {
        u8 b[2];
        if (!readAt(path, net_base() + offset, b, 2)) return 1;
        if (le16(b) > kMaxIndex) {
            refuse(path, std::to_string(le16(b)) + " operations for a card");
            return 1;
        }
        offset += 4 + u64(kOperationSize) * le16(b);
        if (offset > 0xFFFFFFFFull) return 1;
    }
    u16 count = 0;
    if (!readBlock(path, net_base() + offset, count)) return 1;
    card_block_offset = u32(offset);
    operation_count = count;
    return 0;
}

namespace {
rcvRecovery::Operation operationFrom(const u8* b) {
    return {le32(b), le32(b + 4), le32(b + 8), le32(b + 12), b[16], b[17]};
}
}  // namespace

u32 rcvRecovery::packets(const Operation& op) { return op.length == 0 ? 1 : (op.length - 1) / kPacket + 1; }

u64 rcvRecovery::worstCaseMs(const Operation& op) {
    // A pause waits its time once and a search is not sent again; any other
    // frame (each packet of a RAM write) goes up to four times.
    if (op.type == 6 || op.type == 7) return op.time_ms;
    return u64(op.time_ms) * 4 * (op.type == 1 && op.target == 1 ? packets(op) : 1);
}

std::string rcvRecovery::operationProblem(const Operation& op) {
    if (op.time_ms > kMaxWaitMs)
        return "waits " + std::to_string(op.time_ms) + " ms, more than " + std::to_string(kMaxWaitMs);
    // The data a frame carries after its command byte; a user-defined
    // operation brings the command byte itself.
    u64 limit = ~0ull;  // a pause or a save carries none
    if (op.type == 1 && op.target == 1)
        limit = u64(kPacket) * kMaxPackets;
    else if (op.type == 16)
        limit = card_frame::kMaxLength - card_frame::CMD - 1;
    else if (op.type == 1 || op.type == 3 || op.type == 5 || op.type == 7)
        limit = card_frame::kMaxLength - card_frame::kMinLength;
    if (op.length > limit || (op.type == 16 && op.length == 0))
        return "type " + std::to_string(op.type) + " carries " + std::to_string(op.length) + " bytes, 1 to " +
               std::to_string(limit) + " fit";
    return {};
}

namespace {
// False, with the file and the operation's number in the log, when an
// operation's numbers are out of bounds.
bool inBounds(const QString& path, const rcvRecovery::Operation& op, u32 r) {
    const std::string problem = rcvRecovery::operationProblem(op);
    if (!problem.empty()) refuse(path, "operation " + std::to_string(r + 1) + " " + problem);
    return problem.empty();
}
}  // namespace

bool rcvRecovery::readBlock(const QString& path, u64 block, u16& count) const {
    u8 b[2];
    if (!readAt(path, block, b, 2)) return false;
    const u16 n = le16(b);
    if (n > kMaxIndex) {
        refuse(path, std::to_string(n) + " operations");
        return false;
    }
    std::vector<u8> records(size_t(kOperationSize) * n);
    if (n != 0 && !readAt(path, block + 4, records.data(), u32(records.size()))) return false;
    u64 worst = 0;
    for (u32 r = 0; r < n; ++r) {
        const Operation op = operationFrom(records.data() + size_t(kOperationSize) * r);
        if (!inBounds(path, op, r)) return false;
        worst += worstCaseMs(op);
    }
    if (worst > kMaxBlockMs) {
        refuse(path, "its operations wait up to " + std::to_string(worst) + " ms when no card answers, more than " +
                         std::to_string(kMaxBlockMs));
        return false;
    }
    count = n;
    return true;
}

bool rcvRecovery::readOperation(const QString& path, u64 block, u32 r) {
    if (r >= operation_count) return false;
    u8 b[kOperationSize];
    if (!readAt(path, block + 4 + u64(kOperationSize) * r, b, kOperationSize)) return false;
    // Checked again: the file may have been replaced since its block was.
    const Operation op = operationFrom(b);
    if (!inBounds(path, op, r)) return false;
    operation = op;
    return true;
}

int rcvRecovery::update_rcvXYrcvOperatepara(const QString& path, u32 r) {
    return readOperation(path, net_base() + card_block_offset, r) ? 0 : 1;
}

int rcvRecovery::update_smartDebugingOperateTimes(const QString& path, bool scan) {
    if (!scan && !entry(12)) return 1;
    u16 count = 0;
    if (!readBlock(path, scan ? kScanBlock : para_base(), count)) return 1;
    operation_count = count;
    return 0;
}

int rcvRecovery::update_smartDebugingOperatepara(const QString& path, u32 r, bool scan) {
    return readOperation(path, scan ? kScanBlock : para_base(), r) ? 0 : 1;
}

int rcvRecovery::update_rcvOperatedata(const QString& path, u64 offset, u8* buffer, u32 length) {
    if (!buffer) return 1;
    return readAt(path, offset, buffer, length) ? 0 : 1;
}

void rcvRecovery::init_para() {
    screen.para_offset = screen.para_length = 0;
    screen.coord_offset = screen.coord_length = 0;
}

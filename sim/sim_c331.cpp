#include "sim/sim_c331.h"

#include "platform/board.h"

#include <algorithm>

namespace {
constexpr uint32_t kRegsPerBank = 128;

// Registers of the chip the model gives behaviour to.
constexpr uint8_t kIdBank = 0xB2, kIdReg = 0x08;
constexpr uint8_t kSyncBank = 0x05, kPivsReq = 0x08, kPovsReq = 0x09, kPivsStat = 0x22, kPovsStat = 0x23;
constexpr uint8_t kGeBank = 0x04;
constexpr uint8_t kGeStatus = 0x17;
constexpr uint8_t kSflCmdStart = 0x48, kSflEraseCmd = 0x4B, kSflAddr = 0x4E, kSflData = 0x52;
constexpr uint8_t kSflDtctl = 0x53, kSflStat = 0x54, kSflRdsr = 0x55, kSflDmaSize = 0x56;
constexpr uint8_t kSflDmaMode = 0x5A, kGeDst = 0x11, kSflCtrl = 0x47;
constexpr uint8_t kGeStart = 0x08, kGeSrc = 0x0D, kGeFill = 0x0B, kGeWidth = 0x1E, kGeHeight = 0x20;
constexpr uint8_t kGeDstStride = 0x1B, kGeSrcStride = 0x1C, kGeFormat = 0x22;
constexpr uint8_t kGeCharPtr = 0x27, kGeCharData = 0x29, kGeFontSize = 0x2A;
constexpr uint8_t kOsdBank = 0x09, kColourIndex = 0x1F, kColourData = 0x20;
constexpr uint32_t kFlashPage = 256;

uint32_t idx(uint8_t bank, uint8_t reg) { return uint32_t(bank) * kRegsPerBank + (reg & 0x7F); }
}  // namespace

SimC331::SimC331()
    : m_regs(256 * kRegsPerBank, 0), m_flash(kFlashSize / kBlockSize), m_colourTable(kColourTableBytes, 0) {
    m_regs[idx(kIdBank, kIdReg)] = 0x24;
    std::fill(m_pivsAsked, m_pivsAsked + 8, -1);
    std::fill(m_povsAsked, m_povsAsked + 8, -1);
}

namespace {
uint64_t framesAt(uint32_t rateHz) { return Board::get().clock().nowMs() * rateHz / 1000; }
}  // namespace

void SimC331::setChannelRate(ChannelRate rate) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_channelRate = std::move(rate);
}

uint64_t SimC331::outputFrame() const { return m_vsyncMissing ? 0 : framesAt(kOutputRateHz); }

uint64_t SimC331::inputFrame(int channel) const {
    ChannelRate rate;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        rate = m_channelRate;
    }
    if (m_vsyncMissing) return 0;
    return framesAt(rate ? rate(channel) : kOutputRateHz);
}

uint8_t SimC331::flashByte(uint32_t address) const {
    address %= kFlashSize;
    const auto& block = m_flash[address / kBlockSize];
    return block ? block[address % kBlockSize] : 0xFF;
}

uint8_t* SimC331::flashBlockFor(uint32_t address) {
    address %= kFlashSize;
    auto& block = m_flash[address / kBlockSize];
    if (!block) {
        block.reset(new uint8_t[kBlockSize]);
        std::fill(block.get(), block.get() + kBlockSize, 0xFF);
    }
    return block.get() + address % kBlockSize;
}

void SimC331::eraseFlash(uint32_t start, uint32_t size) {
    const uint32_t end = std::min<uint32_t>(start + size, kFlashSize);
    for (uint32_t a = start; a < end;) {
        auto& block = m_flash[a / kBlockSize];
        const uint32_t blockEnd = (a / kBlockSize + 1) * kBlockSize;
        const uint32_t stop = std::min(end, blockEnd);
        if (a % kBlockSize == 0 && stop == blockEnd)
            block.reset();  // erased whole: back to nothing
        else if (block)
            std::fill(block.get() + a % kBlockSize, block.get() + (stop - 1) % kBlockSize + 1, 0xFF);
        a = stop;
    }
}

bool SimC331::flashProtected(uint32_t start, uint32_t size) const {
    return m_protectedLength != 0 && start < m_protectedFrom + m_protectedLength && m_protectedFrom < start + size;
}

void SimC331::setFlashProtected(uint32_t address, uint32_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_protectedFrom = address;
    m_protectedLength = length;
}

size_t SimC331::flashResident() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const auto& b : m_flash) n += b ? kBlockSize : 0;
    return n;
}

void SimC331::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) {
    if (!tx || len < 2) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push(std::vector<uint8_t>(tx, tx + len));
    }
    if (m_dead) return;
    const uint8_t first = tx[0];
    if (first & 0x80) {
        const uint8_t reg = first & 0x7F;
        if (reg == 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bank = tx[1];
            m_log.push({true, m_bank, 0, tx[1]});
            return;
        }
        uint8_t bank;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bank = m_bank;
        }
        writeByte(bank, reg, tx[1]);
    } else {
        uint8_t bank;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bank = m_bank;
        }
        const uint8_t value = readByte(bank, first & 0x7F);
        if (rx) rx[1] = value;
    }
}

uint8_t SimC331::readByte(uint8_t bank, uint8_t reg) {
    // Frame counts first: the channel rate may read the register file.
    uint64_t frames[8] = {};
    const bool sync = bank == kSyncBank && (reg == kPivsStat || reg == kPovsStat);
    if (sync)
        for (int n = 0; n < 8; ++n) frames[n] = reg == kPovsStat ? outputFrame() : inputFrame(n);
    std::vector<ReadHook> hooks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hooks = m_readHooks;
    }
    uint8_t value = 0;
    bool supplied = false;
    for (auto& hook : hooks) {
        if (hook(bank, reg, value)) {
            supplied = true;
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!supplied) {
        value = m_regs[idx(bank, reg)];
        if (sync) {
            const int64_t* asked = reg == kPovsStat ? m_povsAsked : m_pivsAsked;
            value = 0;
            for (int n = 0; n < 8; ++n)
                if (asked[n] >= 0 && int64_t(frames[n]) > asked[n] && !m_vsyncMissing) value |= uint8_t(1u << n);
        } else if (bank == kGeBank) {
            const bool busy = m_flashBusy;
            switch (reg) {
            case kGeStatus: value = held(Hold::Graphics) ? 0x01 : 0x00; break;
            case kSflStat:
                value = uint8_t((busy || held(Hold::DmaBusy) ? 0x01 : 0) | (busy || held(Hold::WriteBusy) ? 0x02 : 0) |
                                (busy || held(Hold::EraseBusy) ? 0x08 : 0));
                break;
            case kSflRdsr:
                value = uint8_t((busy || held(Hold::Wip) ? 0x01 : 0) | (m_wel || held(Hold::Wel) ? 0x02 : 0));
                break;
            case kSflDtctl:
                value = uint8_t((m_regs[idx(bank, reg)] & 0x5F) | (busy || held(Hold::ReadBusy) ? 0x80 : 0) |
                                (busy || held(Hold::FifoNotEmpty) ? 0 : 0x20));
                break;
            case kSflData:
                value = flashByte(m_flashPtr);
                m_flashPtr = (m_flashPtr + 1) % kFlashSize;
                break;
            default: break;
            }
        }
    }
    m_log.push({false, bank, reg, value});
    return value;
}

void SimC331::writeByte(uint8_t bank, uint8_t reg, uint8_t value) {
    uint64_t frames[8] = {};
    const bool ask = bank == kSyncBank && (reg == kPivsReq || reg == kPovsReq);
    if (ask)
        for (int n = 0; n < 8; ++n)
            if (value & (1u << n)) frames[n] = reg == kPovsReq ? outputFrame() : inputFrame(n);
    std::vector<WriteHook> hooks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (ask) {
            int64_t* asked = reg == kPovsReq ? m_povsAsked : m_pivsAsked;
            for (int n = 0; n < 8; ++n) asked[n] = (value & (1u << n)) ? int64_t(frames[n]) : -1;
        }
        m_log.push({true, bank, reg, value});
        if (bank == kGeBank) {
            bankFourWrite(reg, value);
        } else {
            m_regs[idx(bank, reg)] = value;
            if (bank == kOsdBank && reg == kColourIndex) m_colourPos = value * 3u;
            if (bank == kOsdBank && reg == kColourData) m_colourTable[m_colourPos++ % kColourTableBytes] = value;
        }
        hooks = m_writeHooks;
    }
    for (auto& hook : hooks) hook(bank, reg, value);
}

uint32_t SimC331::regs32(uint8_t bank, uint8_t reg) const {
    uint32_t a = 0;
    for (int i = 0; i < 4; ++i) a |= uint32_t(m_regs[idx(bank, uint8_t(reg + i))]) << (8 * i);
    return a;
}

uint32_t SimC331::flashAddress() const { return regs32(kGeBank, kSflAddr) % kFlashSize; }

void SimC331::bankFourWrite(uint8_t reg, uint8_t value) {
    if (reg == kSflData) {
        // Programming only clears bits: two bytes on one place are both
        // programmed there.
        if (m_page.size() < kFlashPage)
            m_page.push_back(value);
        else
            m_page[m_pageFold++ % kFlashPage] &= value;
        return;
    }
    if (reg == kGeCharData && m_collectChars) {
        if (m_charBytes.size() < 5 * kCharsKeep) m_charBytes.push_back(value);
        return;
    }
    // The address register's first byte programs what the page buffer holds
    // at the address it had.
    if (reg == kSflAddr) programPage();
    m_regs[idx(kGeBank, reg)] = value;
    if (reg >= kSflAddr && reg < kSflAddr + 4) {
        m_flashPtr = flashAddress();
        m_pageAddr = m_flashPtr;
    }
    if (reg == kSflCtrl && value == 0x80) {
        m_page.clear();
        m_pageFold = 0;
    }
    if (reg == kSflCmdStart) flashCommand(value);
    if (reg == kGeStart) graphicsCommand(value);
    if (reg == kGeCharPtr || reg == kGeCharPtr + 1) {
        m_collectChars = m_regs[idx(kGeBank, kGeCharPtr)] == 0 && m_regs[idx(kGeBank, kGeCharPtr + 1)] == 0;
        if (m_collectChars) m_charBytes.clear();
    }
}

void SimC331::programPage() {
    if (m_page.empty()) return;
    const uint32_t pageBase = m_pageAddr / kFlashPage * kFlashPage;
    if (!flashProtected(pageBase, kFlashPage)) {
        for (size_t i = 0; i < m_page.size(); ++i) {
            // Programming only clears bits, as on the real part.
            *flashBlockFor(pageBase + (m_pageAddr + uint32_t(i)) % kFlashPage) &= m_page[i];
        }
    }
    m_page.clear();
    m_pageFold = 0;
    if (m_latchLeftSet) m_wel = true;
}

void SimC331::dmaToMemory(uint32_t src, uint32_t dst, uint32_t length) {
    // Erased flash copies as 0xFF, which is what memory never written reads:
    // a run of erased flash only touches memory pages that exist, so copying
    // the (mostly erased) fonts keeps the run small.
    uint32_t i = 0;
    while (i < length) {
        const uint32_t s = src + i;
        const uint32_t run = std::min(length - i, kBlockSize - s % kBlockSize);
        const bool erased = !m_flash[(s % kFlashSize) / kBlockSize];
        for (uint32_t k = 0; k < run; ++k) {
            const uint32_t a = dst + i + k;
            auto it = m_memory.find(a / kMemPage);
            if (it == m_memory.end()) {
                if (erased) {
                    // Skip to the next memory page.
                    k += kMemPage - a % kMemPage - 1;
                    continue;
                }
                it = m_memory.emplace(a / kMemPage, std::vector<uint8_t>(kMemPage, 0xFF)).first;
            }
            it->second[a % kMemPage] = erased ? 0xFF : flashByte(s + k);
        }
        i += run;
    }
}

void SimC331::flashCommand(uint8_t value) {
    if (value == 4) {
        // Sector / block erase at the address register.
        uint32_t size = 64 * 1024;
        switch (m_regs[idx(kGeBank, kSflEraseCmd)]) {
        case 0x20: size = 4 * 1024; break;
        case 0x52: size = 32 * 1024; break;
        default: break;
        }
        const uint32_t start = flashAddress() / size * size;
        if (!flashProtected(start, size)) eraseFlash(start, size);
        ++m_eraseCount;
        if (m_latchLeftSet) m_wel = true;
    } else if (value == 5) {
        m_wel = false;
        ++m_wrdiCount;
    } else if (value == 2) {
        const uint32_t size = regs32(kGeBank, kSflDmaSize) & 0x7FFFFFFF;
        const uint32_t dst = regs32(kGeBank, kGeDst);
        const uint8_t mode = m_regs[idx(kGeBank, kSflDmaMode)] & 15;
        const uint32_t src = flashAddress();
        const uint32_t n = std::min(size, kFlashSize - src);
        m_dmas.push({src, dst, size, mode});
        if (mode == 0) {
            dmaToMemory(src, dst, n);
        } else if (mode == 4) {
            const uint32_t start = m_regs[idx(kOsdBank, kColourIndex)] * 3u;
            for (uint32_t i = 0; i < n && i < kColourTableBytes; ++i)
                m_colourTable[(start + i) % kColourTableBytes] = flashByte(src + i);
        }
    }
}

void SimC331::graphicsCommand(uint8_t value) {
    if (value < 1 || value > 3) return;
    GraphicsOp op{};
    op.kind = value;
    op.src = regs32(kGeBank, kGeSrc);
    op.dst = regs32(kGeBank, kGeDst);
    op.width = uint16_t(m_regs[idx(kGeBank, kGeWidth)] | m_regs[idx(kGeBank, kGeWidth + 1)] << 8);
    op.height = uint16_t(m_regs[idx(kGeBank, kGeHeight)] | m_regs[idx(kGeBank, kGeHeight + 1)] << 8);
    op.srcStride = m_regs[idx(kGeBank, kGeSrcStride)];
    op.dstStride = m_regs[idx(kGeBank, kGeDstStride)];
    op.format = m_regs[idx(kGeBank, kGeFormat)];
    op.fill = uint16_t(m_regs[idx(kGeBank, kGeFill)] | m_regs[idx(kGeBank, kGeFill + 1)] << 8);
    op.fontSize = m_regs[idx(kGeBank, kGeFontSize)];
    if (value == 3) {
        for (size_t i = 0; i + 5 <= m_charBytes.size(); i += 5)
            op.chars.push_back({m_charBytes[i], m_charBytes[i + 1], m_charBytes[i + 2], m_charBytes[i + 3],
                                m_charBytes[i + 4]});
        m_charBytes.clear();
    }
    m_graphics.push(std::move(op));
}

uint8_t SimC331::reg(uint8_t bank, uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regs[idx(bank, r)];
}

uint16_t SimC331::reg16(uint8_t bank, uint8_t r) const {
    return uint16_t(reg(bank, r) | (reg(bank, uint8_t(r + 1)) << 8));
}

uint32_t SimC331::reg32(uint8_t bank, uint8_t r) const {
    return uint32_t(reg16(bank, r)) | uint32_t(reg16(bank, uint8_t(r + 2))) << 16;
}

void SimC331::setReg(uint8_t bank, uint8_t r, uint8_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[idx(bank, r)] = value;
}

uint8_t SimC331::selectedBank() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bank;
}

void SimC331::setChipId(uint8_t id) { setReg(kIdBank, kIdReg, id); }

void SimC331::addReadHook(ReadHook hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readHooks.push_back(std::move(hook));
}

void SimC331::addWriteHook(WriteHook hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeHooks.push_back(std::move(hook));
}

std::vector<SimC331::Access> SimC331::log() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log.items();
}

void SimC331::clearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
    m_frames.clear();
}

std::vector<std::vector<uint8_t>> SimC331::frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.items();
}

std::vector<uint8_t> SimC331::writesTo(uint8_t bank, uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out;
    for (const auto& a : m_log)
        if (a.write && a.bank == bank && a.reg == r) out.push_back(a.value);
    return out;
}

std::vector<uint8_t> SimC331::flash(uint32_t address, uint32_t length) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address >= kFlashSize) return {};
    length = std::min(length, kFlashSize - address);
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i) out[i] = flashByte(address + i);
    return out;
}

void SimC331::setFlash(uint32_t address, const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < data.size() && address + i < kFlashSize; ++i) *flashBlockFor(uint32_t(address + i)) = data[i];
}

uint32_t SimC331::flashEraseCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_eraseCount;
}

std::vector<SimC331::Dma> SimC331::dmas() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dmas.items();
}

void SimC331::setHeld(Hold bit, bool on) {
    if (bit < Hold::Count) m_held[int(bit)] = on;
}

bool SimC331::writeEnableLatch() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wel;
}

uint32_t SimC331::writeDisableCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wrdiCount;
}

bool SimC331::preloadFont(const std::string& name) {
    struct Font {
        const char* name;
        uint32_t address;
        uint8_t width, height;
    };
    static const Font kFonts[] = {
        {"ascii32", 0x000000, 16, 32}, {"cjk32", 0x010000, 32, 32},
        {"ascii64", 0x410000, 32, 64}, {"cjk64", 0x450000, 64, 64},
    };
    for (const Font& f : kFonts) {
        if (name != f.name) continue;
        std::vector<uint8_t> header(35, 0);
        header[0] = 'P';
        header[17] = f.width;
        header[18] = f.height;
        setFlash(f.address, header);
        return true;
    }
    return false;
}

std::vector<uint8_t> SimC331::chipMemory(uint32_t address, uint32_t length) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(length, 0xFF);
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t a = address + i;
        auto it = m_memory.find(a / kMemPage);
        if (it != m_memory.end()) out[i] = it->second[a % kMemPage];
    }
    return out;
}

std::vector<uint8_t> SimC331::colourTable(uint32_t index, uint32_t entries) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < entries * 3; ++i) out.push_back(m_colourTable[(index * 3 + i) % kColourTableBytes]);
    return out;
}

std::vector<SimC331::GraphicsOp> SimC331::graphics() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_graphics.items();
}

void SimC331::clearGraphics() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_graphics.clear();
}

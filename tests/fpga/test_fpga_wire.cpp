// What goes on the wire to the FPGAs and their flashes.
#include "fpga_env.h"

#include "platform/linux/linux_gpio.h"
#include "sim/sim_devices.h"
#include "video_engine/c331_drv.h"

#include <QMutex>

#include <algorithm>
#include <regex>
#include <thread>

namespace {

// Records every message on one chip select and answers 0xFF.
struct RecordingSpi : SpiModel {
    std::vector<std::vector<uint8_t>> messages;
    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) override {
        messages.emplace_back(tx, tx + len);
        std::fill(rx, rx + len, uint8_t(0xFF));
    }
};

using Msg = std::vector<uint8_t>;
using Lines = std::vector<std::pair<std::string, int>>;

class FpgaWire : public FpgaEnv {
protected:
    Lines linesSince(size_t from) {
        auto h = board().simGpio().history();
        return Lines(h.begin() + long(from), h.end());
    }
    size_t lineCount() { return board().simGpio().history().size(); }
};

}  // namespace

TEST_F(FpgaWire, RegisterAndRamMessagesWithTheirLines) {
    auto rec = std::make_shared<RecordingSpi>();
    board().attachSpi(fpgareg::kSpiDevices[0], rec);
    fpga_manage local;
    ASSERT_EQ(local.initialize(false), 0);

    const size_t from = lineCount();
    local.write_fpga_register(0x16, 0x00, 0, 0x20);
    EXPECT_EQ(rec->messages, (std::vector<Msg>{{0x04, 0x00, 0x16, 0x20}, {0x00}}));
    EXPECT_EQ(linesSince(from), (Lines{{"fpga0_command", 1},
                                       {"fpga0_select", 0},
                                       {"fpga1_select", 1},
                                       {"fpga0_command", 0},
                                       {"fpga0_select", 1},
                                       {"fpga1_select", 1}}));

    rec->messages.clear();
    u8 value = 0;
    local.read_fpga_register(0x1F, &value, 0);
    const u8 bytes[4] = {1, 2, 3, 4};
    u8 got[4];
    local.write_fpga_ram(bytes, 0x74, 4, 1, 0);
    local.read_fpga_ram(got, 0x123, 4, 3, 0);
    EXPECT_EQ(rec->messages, (std::vector<Msg>{{0x05, 0x00, 0x1F, 0x00},
                                               {0xFF},
                                               {0x02, 0x01, 0x74, 0x00},
                                               Msg(bytes, bytes + 4),
                                               {0x03, 0x03, 0x23, 0x01},
                                               Msg(4, 0xFF)}));
    EXPECT_EQ(value, 0xFF);
}

TEST_F(FpgaWire, FlashProgramReadEraseAndId) {
    fpga_drv& drv = m->drv();
    // 300 bytes at 0x1F0: three page programs, each after a write enable;
    // the caller's buffer (four bytes of room, then the data) is left alone.
    std::vector<u8> buffer(4 + 300);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = u8(i * 7 + 3);
    const std::vector<u8> before = buffer;
    flash[0]->clearLog();
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x1F0, buffer.data(), 300), 1);
    EXPECT_EQ(buffer, before);
    std::vector<std::pair<int, long long>> cmds;
    for (const auto& c : flash[0]->commands()) cmds.emplace_back(c.op, c.op == 0x02 ? c.address << 12 | c.length : 0);
    EXPECT_EQ(cmds, (std::vector<std::pair<int, long long>>{{0x06, 0},
                                                             {0x02, 0x1F0LL << 12 | 16},
                                                             {0x06, 0},
                                                             {0x02, 0x200LL << 12 | 256},
                                                             {0x06, 0},
                                                             {0x02, 0x300LL << 12 | 28}}));
    EXPECT_EQ(flash[0]->read(0x1F0, 300), std::vector<u8>(buffer.begin() + 4, buffer.end()));
    EXPECT_EQ(flash[1]->read(0x1F0, 4), std::vector<u8>(4, 0xFF));
    // The contents outlive the model (a restart of the program).
    SimFpgaFlash again(0, board().simGpio(), hostPath("/var/lib/sim/fpga0_flash.bin"));
    EXPECT_EQ(again.read(0x1F0, 300), std::vector<u8>(buffer.begin() + 4, buffer.end()));

    flash[0]->clearLog();
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x400, buffer.data(), 100), 1);
    EXPECT_EQ(flash[0]->commands().size(), 2u);

    // Reads: up to 2048 bytes in one transfer, more in 2048-byte pieces.
    std::vector<u8> out(2049);
    for (u32 len : {2048u, 2049u}) {
        flash[0]->clearLog();
        ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0, len, out.data()), 1);
        std::vector<long long> lengths;
        for (const auto& c : flash[0]->commands()) lengths.push_back(c.length);
        EXPECT_EQ(lengths, (len == 2048 ? std::vector<long long>{2048} : std::vector<long long>{2048, 1}));
    }
    EXPECT_TRUE(std::equal(before.begin() + 4, before.begin() + 20, out.begin() + 0x1F0));

    // Out-of-range requests are refused before any line moves.
    const size_t lines = lineCount();
    EXPECT_EQ((Vals{drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 2049),
                    drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 2047, 1, 1), drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0x7FFFFF, 2, out.data()),
                    drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buffer.data(), 0)}),
              (Vals{0, 0, 0, 0, 0}));
    EXPECT_EQ(lineCount(), lines);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 0), 1);

    // A 4 KB erase takes the programmed bytes back to 0xFF, sector by sector.
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 1);
    EXPECT_EQ(flash[0]->read(0x1F0, 4), std::vector<u8>(4, 0xFF));
    EXPECT_EQ((Vals{flash[0]->eraseCount(0), flash[0]->eraseCount(1)}), (Vals{1, 0}));

    // Unique id: one 13-byte message, the id after four dummies; the device
    // id is the CRC-32 of the 16-byte field that holds it.
    auto rec = std::make_shared<RecordingSpi>();
    board().attachSpi(fpgareg::kSpiDevices[3], rec);
    fpga_manage local;
    ASSERT_EQ(local.initialize(false), 0);
    u8 uid[8];
    local.drv().FPGA_SPI_FLASH_SSTF016B_RD_UID(3, uid);
    ASSERT_EQ(rec->messages.size(), 1u);
    Msg want = {0x4B, 0, 0, 0, 0};
    want.resize(13, 0xFF);
    EXPECT_EQ(rec->messages[0], want);
    m->get_control_uid(0);
    EXPECT_EQ(m->device_id, 0x93246B7Fu);
    EXPECT_EQ(fpga[0]->reg(32), 0);  // held in reset: the id write is lost
}

TEST_F(FpgaWire, BusyOrAbsentFlashFailsWithinItsBoundAndFreesTheBus) {
    fpga_drv& drv = m->drv();
    flash[0]->setBusyPolls(-1);
    u8 buffer[4 + 16] = {};
    const u64 t0 = clock->nowMs();
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buffer, 16), 0);
    const u64 t1 = clock->nowMs();
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 0);
    const u64 t2 = clock->nowMs();
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 2, 1), 0);
    const u64 t3 = clock->nowMs();
    EXPECT_GE(t1 - t0, 20u);
    EXPECT_LT(t1 - t0, 40u);
    EXPECT_GE(t2 - t1, 1000u);
    EXPECT_LT(t2 - t1, 1100u);
    EXPECT_GE(t3 - t2, 4000u);
    EXPECT_LT(t3 - t2, 4100u);
    // Lines released, the SPI mutex free.
    EXPECT_EQ((Vals{board().simGpio().getLine(GpioName::kFpga0FlashSelect),
                    board().simGpio().getLine(GpioName::kFpga0Select),
                    board().simGpio().getLine(GpioName::kFpga1Select)}),
              (Vals{1, 1, 1}));

    // No flash at all: fails at once, while the c331 keeps its bus.
    board().attachSpi(fpgareg::kSpiDevices[3], nullptr);
    fpga_manage local;
    ASSERT_EQ(local.initialize(false), 0);
    std::atomic<int> readResult{-1};
    std::thread reader([&] {
        u8 out[16];
        readResult = local.drv().FPGA_SPI_FLASH_VBYONE_READ(3, 0, 16, out);
    });
    c331_drv c331;
    const int fd = c331.initialize();
    EXPECT_EQ(c331.read_C331(fd, c331reg::CHIP_ID), 0x24u);
    reader.join();
    EXPECT_EQ(readResult.load(), 0);
    ASSERT_TRUE(Utils::_spi_mutex.tryLock());
    Utils::_spi_mutex.unlock();
}

// What the program stores in an FPGA's flash is done only once the flash
// reads it back (a protected flash takes the commands and keeps its
// bytes): every erase and program outside the driver goes through its
// verified pair. A store added later that calls the plain routines fails
// here.
TEST(FpgaFlashStores, EveryEraseAndProgramOutsideTheDriverIsReadBack) {
    const std::regex plain(R"(FPGA_SPI_FLASH_VBYONE_(WRITE|ERASE)\b)");
    eachSourceLine({"core", "fpga", "video_io", "video_engine", "protocol", "ui", "platform", "fuzz"},
                   [&](const std::string& name, int line, const std::string& text) {
                       if (name == "fpga/fpga_drv.cpp" || name == "fpga/fpga_drv.h") return;
                       if (std::regex_search(text, plain))
                           ADD_FAILURE() << name << ":" << line << " erases or programs unverified: " << text;
                   });
}

namespace {
// A simulated board whose GPIO window could not be mapped.
struct UnmappedGpioBoard : SimBoard {
    LinuxGpio closed;
    GpioLines& gpio() override { return closed; }
};
}  // namespace

TEST(FpgaStart, WithoutTheGpioWindowInitialiseFailsAndStartsNoThread) {
    const std::string savedRoot = Root::root().empty() ? "/" : Root::root();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Root::setRoot(dir.path().toStdString());
    auto board = std::make_unique<UnmappedGpioBoard>();
    simAttachDevices(*board);
    Board::install(std::move(board));
    {
        fpga_manage m;
        EXPECT_EQ(m.initialize(), 255);
    }  // nothing to join
    Root::setRoot(savedRoot);
    Board::install(std::make_unique<SimBoard>());
}

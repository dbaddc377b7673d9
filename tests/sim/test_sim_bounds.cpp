// A long PC run keeps the simulated board small: the records the models
// keep for tests are bounded rings holding the newest entries, and the
// c331's 32 MiB flash takes room only where it was written; the board's log
// files move aside at their limit and keep the newest lines; an odd thing in
// the place of one of the board's own files is refused, never waited on.
#include "platform/gpio.h"
#include "sim/sim_board.h"
#include "core/logMsg.h"
#include "platform/root.h"
#include "sim/sim_c331.h"
#include "sim/sim_edid_eeprom.h"
#include "sim/sim_fpga.h"
#include "sim/sim_audio_switch.h"
#include "sim/sim_fpga_flash.h"
#include "sim/sim_it66121.h"
#include "sim/sim_it6805.h"
#include "sim/sim_log_file.h"
#include "sim/sim_serial.h"
#include "platform/serial.h"
#include "platform/uevent.h"
#include "support/test_env.h"
#include "video_io/ite6805_reg.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <functional>
#include <regex>
#include <set>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The chip's wire: bank select, then byte writes into that bank.
struct Wire {
    SimC331& chip;
    void bank(uint8_t b) { send(0x80, b); }
    void write(uint8_t reg, uint8_t value) { send(uint8_t(0x80 | reg), value); }
    void send(uint8_t a, uint8_t b) {
        const uint8_t tx[2] = {a, b};
        uint8_t rx[2];
        chip.transfer(tx, rx, 2);
    }
    // Flash controller registers in the graphics bank.
    void address(uint32_t a) {
        bank(0x04);
        for (int i = 0; i < 4; ++i) write(uint8_t(0x4E + i), uint8_t(a >> (8 * i)));
    }
    // Bytes are programmed when the address is written again: at each page
    // boundary and after the last byte.
    void program(uint32_t a, const Bytes& data) {
        address(a);
        for (uint8_t v : data) {
            write(0x52, v);
            if (++a % 256 == 0) address(a);
        }
        address(a);
    }
    void erase(uint32_t a, uint8_t kind) {  // 0x20 4 KiB, 0xD8 64 KiB
        address(a);
        write(0x4B, kind);
        write(0x48, 4);
    }
};

class SimBounds : public SimEnv {};

TEST_F(SimBounds, C331FlashTakesRoomOnlyWhereWritten) {
    SimC331 chip;
    Wire w{chip};
    constexpr uint32_t kBlock = 64 * 1024;
    EXPECT_EQ(chip.flashResident(), 0u);
    EXPECT_EQ(chip.flash(kBlock - 2, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

    // Across a block boundary; programming again only clears bits.
    w.program(2 * kBlock - 1, {0x0F, 0xF0, 0x3C});
    w.program(2 * kBlock - 1, {0xFF, 0x0F, 0xFF});
    EXPECT_EQ(chip.flash(2 * kBlock - 2, 5), (Bytes{0xFF, 0x0F, 0x00, 0x3C, 0xFF}));
    EXPECT_EQ(chip.flashResident(), 2 * kBlock);

    // A sector erase erases only its sector: the next block keeps its bytes.
    w.erase(2 * kBlock - 4096, 0x20);
    EXPECT_EQ(chip.flash(2 * kBlock - 2, 3), (Bytes{0xFF, 0xFF, 0x00}));
    // A whole block erased gives its room back.
    w.erase(2 * kBlock, 0xD8);
    EXPECT_EQ(chip.flash(2 * kBlock, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ((Vals{chip.flashResident(), chip.flashEraseCount()}), (Vals{kBlock, 2}));

    // The last byte of the flash, set from a test.
    chip.setFlash(SimC331::kFlashSize - 1, {0x5A});
    EXPECT_EQ(chip.flash(SimC331::kFlashSize - 2, 4), (Bytes{0xFF, 0x5A}));

    // 257 bytes with no address write between: the chip holds one page, the
    // last byte lands on the first and both are programmed there.
    w.address(3 * kBlock);
    for (int i = 0; i < 257; ++i) w.write(0x52, i == 256 ? 0xF0 : 0x0F);
    w.address(3 * kBlock + 257);
    EXPECT_EQ(chip.flash(3 * kBlock, 3), (Bytes{0x00, 0x0F, 0x0F}));
}

TEST_F(SimBounds, RecordsKeepTheNewestEntries) {
    SimC331 chip;
    Wire w{chip};
    w.bank(0x01);
    const size_t n = SimC331::kLogKeep + 100;
    for (size_t i = 0; i < n; ++i) w.write(0x05, uint8_t(i));
    const auto log = chip.log();
    const auto frames = chip.frames();
    const auto writes = chip.writesTo(0x01, 0x05);
    EXPECT_EQ((Vals{log.size(), frames.size(), writes.size()}),
              (Vals{SimC331::kLogKeep, SimC331::kFramesKeep, SimC331::kLogKeep}));
    EXPECT_EQ((Vals{log.back().value, frames.back()[1], writes.front()}),
              (Vals{uint8_t(n - 1), uint8_t(n - 1), uint8_t(n - SimC331::kLogKeep)}));

    SimGpio& gpio = board().simGpio();
    const size_t sets = SimGpio::kHistoryKeep + 7;
    for (size_t i = 0; i < sets; ++i) gpio.setLine(i + 1 == sets ? "last" : "line", int(i & 1));
    const auto history = gpio.history();
    EXPECT_EQ(history.size(), SimGpio::kHistoryKeep);
    EXPECT_EQ(history.back(), (std::pair<std::string, int>{"last", int((sets - 1) & 1)}));

    SimShell& shell = board().simShell();
    shell.clear();
    for (int i = 0; i < 5000; ++i) shell.run("date -s " + std::to_string(i));
    const auto commands = shell.commands();
    ASSERT_EQ(commands.size(), size_t(4096));
    EXPECT_EQ((std::vector<std::string>{commands.front(), commands.back()}),
              (std::vector<std::string>{"date -s 904", "date -s 4999"}));

    // A string of one character more than the chip holds for a draw: the
    // draw has the first kCharsKeep, the last of them character 4095.
    w.bank(0x04);
    w.write(0x27, 0);
    w.write(0x28, 0);
    for (size_t c = 0; c <= SimC331::kCharsKeep; ++c)
        for (int k = 0; k < 5; ++k) w.write(0x29, uint8_t(c));
    w.write(0x08, 3);
    const auto chars = chip.graphics().back().chars;
    ASSERT_EQ(chars.size(), SimC331::kCharsKeep);
    EXPECT_EQ(chars.back()[0], uint8_t(4095));
}

// Every other record a model keeps, each pushed ten entries past its bound:
// the bound's newest stay, from entry 10 to entry bound + 9 (a record that
// keeps a byte shows its low byte, the direction line its low bit).
TEST_F(SimBounds, EachModelsRecordKeepsItsNewestEntries) {
    using Ids = std::vector<uint32_t>;
    auto ids = [](const auto& items, auto id) {
        Ids out;
        for (const auto& x : items) out.push_back(uint32_t(id(x)));
        return out;
    };
    SimGpio& gpio = board().simGpio();
    gpio.setLine(GpioName::kFpga0Select, 0);
    gpio.setLine(GpioName::kFpga0FlashSelect, 0);
    SimFpgaFlash flash(0, gpio, hostPath("/var/lib/sim/bounds_flash.bin"));
    SimC331 chip;
    Wire w{chip};
    SimIt66121 sdi;
    SimAudioSwitch audio;
    auto hdmi3 = std::make_shared<SimIt6805>(board().scenario(), 4);
    hdmi3->setLogging(true);
    auto rs485 = board().openSerial("/dev/ttyS2", 115200);
    auto uevents = board().openUevents();
    board().enableEventLog(true);
    auto send = [](I2cModel& m, Bytes b) { m.write(b.data(), uint16_t(b.size())); };
    auto number = [](const std::string& s) { return std::stoul(s); };
    const struct {
        const char* record;
        size_t bound;
        uint32_t mask;
        std::function<void(uint32_t)> add;
        std::function<Ids()> kept;
    } rows[] = {
        {"FPGA flash commands", SimFpgaFlash::kLogKeep, 0xFFFFFF,
         [&](uint32_t i) {
             const Bytes read = {0x0B, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i), 0};
             Bytes rx(5);
             flash.transfer(read.data(), rx.data(), 5);
         },
         [&] { return ids(flash.commands(), [](const auto& c) { return c.address; }); }},
        {"c331 flash copies", SimC331::kDmasKeep, 0xFFFFFFFF, [&](uint32_t i) { w.address(i), w.write(0x48, 2); },
         [&] { return ids(chip.dmas(), [](const auto& d) { return d.src; }); }},
        {"SDI transmitter writes", SimIt66121::kWritesKeep, 0xFF, [&](uint32_t i) { send(sdi, {0x10, uint8_t(i)}); },
         [&] { return ids(sdi.writes(), [](const auto& x) { return x.value; }); }},
        {"audio switch values", SimAudioSwitch::kHistoryKeep, 0xFF, [&](uint32_t i) { send(audio, {0, uint8_t(i)}); },
         [&] { return ids(audio.history(), [](uint8_t v) { return v; }); }},
        {"RS-485 direction changes", kSimSerialRtsKeep, 1, [&](uint32_t i) { rs485->setRts(i & 1); },
         [&] { return ids(simSerialRtsHistory("/dev/ttyS2"), [](bool on) { return on; }); }},
        {"HDMI3 receiver CEC messages sent", SimIt6805::kCecSentKeep, 0xFF,
         [&](uint32_t i) {
             for (Bytes b : {Bytes{it6805::CEC_REG_TX_BUF, uint8_t(i)}, Bytes{it6805::CEC_REG_TX_LEN, 1},
                             Bytes{it6805::CEC_REG_FIRE, 0x08}, Bytes{it6805::CEC_REG_FIRE, 0x88}})
                 send(*hdmi3->cec(), b);
         },
         [&] { return ids(hdmi3->cecSent(), [](const auto& m) { return m.bytes.at(0); }); }},
        {"HDMI3 receiver register writes", SimIt6805::kWritesKeep, 0xFF,
         [&](uint32_t i) { send(*hdmi3, {it6805::REG_BANK, uint8_t(i)}); },
         [&] { return ids(hdmi3->writes(), [](uint32_t x) { return x & 0xFF; }); }},
        {"board event log", SimBoard::kEventsKeep, 0xFFFFFFFF, [&](uint32_t i) { board().logEvent(std::to_string(i)); },
         [&] { return ids(board().eventLog(), number); }},
        {"uevents not yet received", SimBoard::kUeventsKeep, 0xFFFFFFFF,
         [&](uint32_t i) { board().injectUevent(std::to_string(i)); },
         [&] {
             std::vector<std::string> events;
             char event[64] = {};
             while (uevents->receive(event, sizeof event - 1, 0) > 0) events.push_back(event);
             return ids(events, number);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.record);
        for (uint32_t i = 0; i < row.bound + 10; ++i) row.add(i);
        Ids kept = row.kept();
        if (kept.empty()) kept.push_back(~0u);
        EXPECT_EQ((Vals{kept.size(), kept.front(), kept.back()}),
                  (Vals{row.bound, 10 & row.mask, (row.bound + 9) & row.mask}));
    }
    board().enableEventLog(false);
}

// The FPGA's wire: the header with the command line high, then the data.
struct FpgaWire {
    SimGpio& gpio;
    SimFpga& fpga;
    void message(const Bytes& header, const Bytes& data) {
        Bytes rx(4 + data.size());
        gpio.setLine(GpioName::kFpga0Command, 1);
        fpga.transfer(header.data(), rx.data(), uint32_t(header.size()));
        gpio.setLine(GpioName::kFpga0Command, 0);
        fpga.transfer(data.data(), rx.data(), uint32_t(data.size()));
    }
    void reg(uint8_t r, uint8_t v) { message({0x04, 0, r, 0xFF}, {v}); }
    void ram(uint8_t page, uint16_t a, const Bytes& d) { message({0x02, page, uint8_t(a), uint8_t(a >> 8)}, d); }
};

TEST_F(SimBounds, FpgaRecordsKeepTheNewestEntries) {
    SimGpio& gpio = board().simGpio();
    gpio.setLine(GpioName::kFpga0Reset, 1);
    gpio.setLine(GpioName::kFpga0Select, 0);
    auto fpga = SimFpga::create(0, gpio, board().scenario(), hostPath("/var/log/bounds_fpga.log"));
    FpgaWire w{gpio, *fpga};

    // 131082 writes of register 7, twice the record and ten more: the
    // oldest kept is write 65546, 10 in the byte; the newest is 131081, 9.
    for (size_t i = 0; i < 131082; ++i) w.reg(7, uint8_t(i));
    const auto regs = fpga->writesTo(7);
    EXPECT_EQ((Vals{regs.size(), fpga->regWrites().size(), regs.front(), regs.back()}), (Vals{65536, 65536, 10, 9}));

    // 6149 one-byte frames, three times the records and five more: each is
    // put into the send page of pair 0 and sent (register 130, start bit of
    // pair 0; no port selected). The oldest kept is frame 4101, 5 in the
    // byte; the newest is 6148, 4.
    fpga->clearLog();
    for (size_t i = 0; i < 6149; ++i) {
        w.ram(3, 0, {uint8_t(i)});
        w.reg(130, 0x10);
    }
    const auto ram = fpga->ramWrites();
    const auto sent = fpga->sentFrames();
    EXPECT_EQ((Vals{ram.size(), sent.size()}), (Vals{2048, 2048}));
    EXPECT_EQ((Vals{ram.front().bytes[0], ram.back().bytes[0], sent.front().second[0], sent.back().second[0]}),
              (Vals{5, 4, 5, 4}));
    EXPECT_EQ(sent.back().first, -1);

    // A save to the one card of port 0, which answers it 300 ms later: the
    // interrupt line shows the reply at its time on the board's clock, with
    // no bus traffic meanwhile.
    ManualClock& clock = useManualClock();
    board().scenario().loadJson(R"({"ports": {"0": 1}, "slow_replies": {"0": {"command": 129, "ms": 300}}})");
    auto send = [&](Bytes f) {
        f.push_back(0);
        for (size_t i = 0; i + 1 < f.size(); ++i) f.back() ^= f[i];
        w.reg(132, 0x01);
        w.ram(3, 0, f);
        w.reg(26, uint8_t(f.size() - 1));
        w.reg(130, 0x10);
    };
    const Bytes save = {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0x81, 0xFF, 0x00};
    send(save);
    clock.advanceMs(299);
    EXPECT_EQ(gpio.getLine(GpioName::kFpga0Irq), 0);
    clock.advanceMs(1);
    EXPECT_EQ(gpio.getLine(GpioName::kFpga0Irq), 1);
    // A controller that stops reading finds at most kRepliesKeep replies of
    // the pair waiting, and the slow cards hold at most kHeldKeep.
    const Bytes write = {0x00, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0xA0, 0x00, 0x10, 0x01, 0x05};
    for (size_t i = 0; i < SimFpga::kRepliesKeep; ++i) send(write);
    for (size_t i = 0; i <= SimFpga::kHeldKeep; ++i) send(save);
    size_t waiting = 0;
    for (; gpio.getLine(GpioName::kFpga0Irq) == 1 && waiting < 2 * SimFpga::kRepliesKeep; ++waiting) w.reg(130, 0x01);
    const std::string log = readHostFile(hostPath("/var/log/bounds_fpga.log"));
    EXPECT_EQ((Vals{waiting, countIn(log, "pair 0 receive queue full: reply lost"),
                    countIn(log, "port 0 slow replies full: reply lost")}),
              (Vals{SimFpga::kRepliesKeep, 1, 1}));

    // The card keeps the newest 256 commands it does not act on: of 266,
    // 0x20 to 0x3F in turn, the oldest kept is the eleventh (0x2A), the
    // newest the 266th (0x29).
    auto frameOf = [](uint8_t cmd, const Bytes& data) {
        Bytes f = {0x00, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, cmd};
        f.insert(f.end(), data.begin(), data.end());
        return f;
    };
    for (uint32_t i = 0; i < SimFpga::kCardCommandsKeep + 10; ++i) send(frameOf(uint8_t(0x20 + i % 32), {}));
    const auto other = fpga->card(0, 0).otherCommands.items();
    EXPECT_EQ((Vals{other.size(), other.front(), other.back()}), (Vals{SimFpga::kCardCommandsKeep, 0x2A, 0x29}));
    // 1025 RAM writes of 128 bytes, one after the other: the first 1024
    // fill the card's 128 KiB, the last one's bytes are lost; a byte the card
    // holds still takes a new value.
    auto ramWrite = [&](uint32_t at, const Bytes& data) {
        const uint32_t n = uint32_t(data.size());
        Bytes d = {uint8_t(at), uint8_t(at >> 8), uint8_t(at >> 16), uint8_t(at >> 24),
                   uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
        d.insert(d.end(), data.begin(), data.end());
        send(frameOf(0x60, d));
    };
    for (uint32_t at = 0; at <= SimFpga::kCardRamKeep; at += 128) ramWrite(at, Bytes(128, uint8_t(at >> 7)));
    ramWrite(0, {0xA5});
    const SimFpga::Card card = fpga->card(0, 0);
    const size_t keep = SimFpga::kCardRamKeep;
    EXPECT_EQ((Vals{card.ram.size(), card.ram.at(0), card.ram.at(keep - 1), card.ram.count(keep)}),
              (Vals{keep, 0xA5, 1023 & 0xFF, 0}));
    EXPECT_EQ(countIn(readHostFile(hostPath("/var/log/bounds_fpga.log")), "port 0 card 0 RAM full: 128 bytes lost"),
              1u);
}

TEST_F(SimBounds, LogFileMovesAsideAtItsLimitKeepingTheNewestLines) {
    const std::string path = hostPath("/var/log/bounds.log");
    {
        // Lines of 5 bytes ("L000" and its end) under a 60-byte limit: twelve
        // fill a file, the thirteenth starts a new one. Of 100 lines the
        // eighth file (84 to 95) was moved aside, the ninth holds 96 to 99.
        SimLogFile log(60);
        for (int i = 0; i < 100; ++i) log.append(path, QString::asprintf("L%03d", i).toStdString());
    }
    std::string older;
    for (int i = 84; i < 96; ++i) older += QString::asprintf("L%03d\n", i).toStdString();
    EXPECT_EQ(readHostFile(path), "L096\nL097\nL098\nL099\n");
    EXPECT_EQ(readHostFile(path + ".1"), older);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path + ".2")));

    // A file left by an earlier run counts: 56 bytes there, the next 5-byte
    // line would make 61.
    writeHostFile(path, std::string(55, 'x') + "\n");
    SimLogFile again(60);
    again.append(path, "L100");
    EXPECT_EQ(readHostFile(path), "L100\n");
    EXPECT_EQ(readHostFile(path + ".1").size(), 56u);
}

// Each file the simulated board writes, a FIFO, a folder or a link in its
// place: the model goes on at once (a FIFO's open waited for a reader,
// holding the model and the lock its caller held, the system mutex for the
// shell's log), the log names the place, the write is skipped and the odd
// thing stays; what a link points at is left as it was.
TEST_F(SimBounds, AnOddThingInTheBoardsOwnFilesPlaceIsRefusedNeverWaitedOn) {
    SimGpio gpio;
    gpio.setLine(GpioName::kFpga0Reset, 1);
    gpio.setLine(GpioName::kFpga0Select, 0);
    struct Row {
        std::string device;
        std::function<void()> write;
    };
    const std::string fpgaLog = "/var/log/sim_fpga0_writes.log", flashLog = "/var/log/sim_fpga0_flash.log",
                      flashImage = "/var/lib/sim/fpga0_flash.bin";
    const Row rows[] = {
        {SimShell::logDevicePath(), [] { SimShell().run("reboot"); }},
        {SimGpio::kLogDevicePath, [] { SimGpio().setLine("line", 1); }},
        {fpgaLog,
         [&] {
             auto fpga = SimFpga::create(0, gpio, board().scenario(), Root::path(fpgaLog));
             FpgaWire{gpio, *fpga}.reg(7, 1);
         }},
        {flashImage, [&] { SimFpgaFlash(0, gpio, Root::path(flashImage)).preload(0, {0}); }},
        {flashLog,
         [&] {
             // A sector erase: write enable, then the erase.
             SimFpgaFlash flash(0, gpio, Root::path(flashImage + ".fresh"), Root::path(flashLog));
             Bytes rx(4);
             flash.transfer(Bytes{0x06}.data(), rx.data(), 1);
             flash.transfer(Bytes{0x20, 0, 0, 0}.data(), rx.data(), 4);
         }},
        {SimEdidEeprom::devicePath(0), [&] { SimEdidEeprom(board(), 0).corruptExtensionChecksum(); }},
        {"/dev/mtd10", [&] { EXPECT_FALSE(board().openMtd("/dev/mtd10")->isOpen()); }},
        {"/proc/scsi/usb-storage",
         [&] {
             QDir().mkpath(QString::fromStdString(hostPath("/mnt/usb1")));
             char event[256];
             board().openUevents()->receive(event, sizeof event, 0);
         }},
    };
    const std::string log = hostPath("/data/vimraqd/log/mwrEnglneLog");
    for (const Row& row : rows) {
        for (const Odd kind : {Odd::Fifo, Odd::Folder, Odd::Link}) {
            const std::string host = hostPath(row.device);
            const std::string what = kind == Odd::Fifo ? "a FIFO" : kind == Odd::Folder ? "a folder" : "a link";
            SCOPED_TRACE(row.device + ", " + what);
            ASSERT_TRUE(oddAt(kind, host));
            const size_t logged = readHostFile(log).size();
            EXPECT_TRUE(endsWithoutAWriter(row.device, [&] {
                LogWhole whole;
                row.write();
            }));
            EXPECT_NE(readHostFile(log).find("sim: " + host + " not written: " + what + " is in its place", logged),
                      std::string::npos);
            EXPECT_EQ(whatIsAt(host), what);
            if (kind == Odd::Link) {
                EXPECT_EQ(readHostFile(host + ".target"), std::string("\0\0\0\1", 4));
            }
        }
    }
}

// The table above runs the files there are; one written later that opens
// its own way would wait on a FIFO as the shell's log did.
TEST(SimOpener, NoSimulatedBoardSourceOpensAFileButTheOpener) {
    const std::regex opening(R"(\bfopen\(|[io]?fstream|(^|[^A-Za-z_])::open\(|\.open\(QIODevice::)");
    // The opener itself; the scenario file, the person's own, read only
    // once it is a regular file.
    const std::set<std::string> allowed = {"sim/sim_log_file.cpp", "sim/sim_scenario.cpp"};
    eachSourceLine({"sim"}, [&](const std::string& name, int line, const std::string& text) {
        if (std::regex_search(text, opening) && !allowed.count(name))
            ADD_FAILURE() << name << ":" << line << " opens a file past the opener: " << text;
    });
}

}  // namespace

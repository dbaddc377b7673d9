// What a source of the board scenario carries besides its timing, and how
// the file's values are refused.
#include "sim/sim_c331_inputs.h"
#include "sim/sim_scenario.h"

#include "core/logMsg.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <csignal>
#include <unistd.h>

#include <functional>
#include <iterator>

TEST(SimScenarioSource, ReceiverKeysAreRead) {
    SimScenario sc;
    ASSERT_TRUE(sc.loadJson(R"({"inputs": {
        "DVI":   {"width": 1280, "height": 720, "signal": "DVI"},
        "HDMI2": {"width": 1920, "height": 1080, "refresh": 50, "color": "4:4:4",
                  "quantization": "limited", "colorimetry": "709", "audio_rate": 48000,
                  "audio_channels": 8, "follows_edid": true},
        "HDMI3": {"width": 3840, "height": 2160, "color": "4:2:0", "audio_rate": 44100}}})"));
    const auto d = sc.snapshot();
    const SimSource& dvi = d.inputs[1];
    EXPECT_TRUE(dvi.present && dvi.dvi);
    EXPECT_EQ(dvi.refreshHz, 60u);
    EXPECT_EQ(dvi.audioRateHz, 0u);
    EXPECT_EQ(dvi.audioChannels, 0);
    const SimSource& h2 = d.inputs[3];
    EXPECT_FALSE(h2.dvi);
    EXPECT_EQ(h2.color, SimSource::Color::YUV444);
    EXPECT_EQ(h2.range, SimSource::Range::Limited);
    EXPECT_EQ(h2.colorimetry, SimSource::Colorimetry::BT709);
    EXPECT_EQ(h2.audioRateHz, 48000u);
    EXPECT_EQ(h2.audioChannels, 8);
    EXPECT_TRUE(h2.followsEdid);
    // A rate without a channel count is stereo.
    EXPECT_EQ(d.inputs[4].color, SimSource::Color::YUV420);
    EXPECT_EQ(d.inputs[4].audioChannels, 2);
    EXPECT_TRUE(sc.warnings().empty());
}

TEST(SimScenarioSource, UnknownValuesAreRefusedAndDefaultsStay) {
    SimScenario sc;
    ASSERT_TRUE(sc.loadJson(R"({"inputs": {"HDMI1": {"width": 1920, "height": 1080,
        "refresh": 59.94, "signal": "VGA", "color": "4:1:1", "quantization": "16-235",
        "colorimetry": "2020", "audio_rate": 22050, "audio_channels": 12,
        "follows_edid": "yes", "interlaced": 1}}})"));
    const SimSource s = sc.snapshot().inputs[2];
    EXPECT_TRUE(s.present);
    EXPECT_EQ(s.refreshHz, 60u);
    EXPECT_FALSE(s.dvi || s.interlaced || s.followsEdid);
    EXPECT_EQ(s.color, SimSource::Color::RGB);
    EXPECT_EQ(s.range, SimSource::Range::Default);
    EXPECT_EQ(s.colorimetry, SimSource::Colorimetry::None);
    EXPECT_EQ(s.audioRateHz, 0u);
    const auto w = sc.warnings();
    const char* keys[] = {"refresh", "interlaced", "signal", "color", "quantization", "colorimetry",
                          "audio_rate", "audio_channels", "follows_edid"};
    ASSERT_EQ(w.size(), std::size(keys));
    for (size_t i = 0; i < w.size(); ++i) {
        EXPECT_NE(w[i].find("HDMI1"), std::string::npos) << w[i];
        EXPECT_NE(w[i].find(std::string("\"") + keys[i] + "\""), std::string::npos) << w[i];
    }
}

class SimScenarioFile : public SimEnv {};

// A missing, a malformed and a refused scenario each leave their own line in
// the log, naming the file and the reason; the defaults serve. Every member
// with a value of the wrong kind or range, and every unknown key, leaves a
// line naming the member and the value as the file writes it (escaped, a
// long one cut), however many there are, and what it would have set keeps
// its default; a file larger than 64 KiB is refused having read none of it.
TEST_F(SimScenarioFile, EachFileNotTakenOrValueRefusedIsLoggedWithItsReason) {
    const std::string dir = hostPath("/scenarios/");
    using Data = SimScenarioData;
    struct Row {
        const char* file;
        std::string json;                // the file's text, unless made
        std::vector<std::string> lines;  // after "board scenario <dir>": each once, and no others
        std::function<bool(const Data&)> serves = nullptr;
        std::function<bool(const std::string&)> make = nullptr;
    };
    auto padded = [](size_t size) {
        return [size](const std::string& p) {
            std::string text = R"({"ports": {"0": 4}})";
            writeHostFile(p, text + std::string(size - text.size(), ' '));
            return true;
        };
    };
    const uint16_t soc[3] = {0x1234, 0x5678, 0x9ABC};
    const std::vector<uint16_t> none;
    const Row rows[] = {
        {"missing.json", "", {"missing.json cannot be read: there is no such file; the defaults serve"}, {},
         [](const std::string&) { return true; }},
        {"folder.json", "", {"folder.json cannot be read: a folder, not a regular file; the defaults serve"}, {},
         [](const std::string& p) { return oddAt(Odd::Folder, p); }},
        {"link.json", "", {"link.json cannot be read: a link to nothing there; the defaults serve"}, {},
         [](const std::string& p) { return ::symlink((p + ".gone").c_str(), p.c_str()) == 0; }},
        {"comma.json", "{\"ports\": {\"0\": 4,\n}}", {"comma.json is not JSON: line 2: "},
         [](const Data& d) { return d.cardsPerPort[0] == 0; }},
        {"list.json", R"([{"ports": {"0": 4}}])",
         {"list.json is not a scenario: a list, not an object of members; the defaults serve"},
         [](const Data& d) { return d.cardsPerPort[0] == 0; }},
        {"sparse.json", "", {"sparse.json cannot be read: larger than 64 KiB; the defaults serve"}, {},
         [](const std::string& p) { writeHostFile(p, "{"); return ::truncate(p.c_str(), off_t(1) << 30) == 0; }},
        {"over.json", "", {"over.json cannot be read: larger than 64 KiB; the defaults serve"},
         [](const Data& d) { return d.cardsPerPort[0] == 0; }, padded(64 * 1024 + 1)},
        {"full.json", "", {}, [](const Data& d) { return d.cardsPerPort[0] == 4; }, padded(64 * 1024)},
        {"value.json", R"({"fpga": {"lock_errors": -1}})",
         {R"(value.json: fpga, key "lock_errors": unknown value -1; the default stays)"}},
        // Ports: a count 0-4094, a port key 0-23.
        {"ports_word.json", R"({"ports": {"1": "four"}})",
         {R"(ports_word.json: ports, key "1": unknown value "four"; the default stays)"},
         [](const Data& d) { return d.cardsPerPort[1] == 0; }},
        {"ports_text.json", R"({"ports": {"1": "4"}})", {R"(ports_text.json: ports, key "1": unknown value "4"; the)"},
         [](const Data& d) { return d.cardsPerPort[1] == 0; }},
        {"ports_range.json", R"({"ports": {"1": 4095, "2": -1, "3": 2.5, "23": 4094}})",
         {R"(ports_range.json: ports, key "1": unknown value 4095; the)",
          R"(ports_range.json: ports, key "2": unknown value -1; the)",
          R"(ports_range.json: ports, key "3": unknown value 2.5; the)"},
         [](const Data& d) {
             return d.cardsPerPort[1] + d.cardsPerPort[2] + d.cardsPerPort[3] == 0 && d.cardsPerPort[23] == 4094;
         }},
        {"ports_kind.json", R"({"ports": {"1": true, "2": [4], "3": null}})",
         {R"(ports_kind.json: ports, key "1": unknown value true; the)",
          R"(ports_kind.json: ports, key "2": unknown value [4]; the)",
          R"(ports_kind.json: ports, key "3": unknown value null; the)"}},
        {"ports_key.json", R"({"ports": {"port3": 2, "24": 2, "-1": 2, "3x": 2, " 3": 2}})",
         {R"(ports_key.json: ports: unknown key "port3" with value 2; not taken)",
          R"(ports_key.json: ports: unknown key "24" with)",
          R"(ports_key.json: ports: unknown key "-1" with)", R"(ports_key.json: ports: unknown key "3x" with)",
          R"(ports_key.json: ports: unknown key " 3" with)"},
         [](const Data& d) { return d.cardsPerPort[3] == 0; }},
        {"ports_list.json", R"({"ports": [4, 4]})",
         {R"(ports_list.json: key "ports": unknown value [4,4]; the default stays)"},
         [](const Data& d) { return d.cardsPerPort[0] == 0; }},
        // SoC id: three words 0-65535; a word refused keeps its own default.
        {"soc_text.json", R"({"soc_id": ["0x1234", 1, 2]})",
         {R"(soc_text.json: soc_id, entry 0: unknown value "0x1234"; the default stays)"},
         [soc](const Data& d) { return d.socIdWords == std::array<uint16_t, 3>{{soc[0], 1, 2}}; }},
        {"soc_range.json", R"({"soc_id": [1, 65536, -1]})",
         {R"(soc_range.json: soc_id, entry 1: unknown value 65536; the)",
          R"(soc_range.json: soc_id, entry 2: unknown value -1; the)"},
         [soc](const Data& d) { return d.socIdWords == std::array<uint16_t, 3>{{1, soc[1], soc[2]}}; }},
        {"soc_short.json", R"({"soc_id": [1, 2]})",
         {R"(soc_short.json: key "soc_id": unknown value [1,2]; the default stays)"},
         [soc](const Data& d) { return d.socIdWords == std::array<uint16_t, 3>{{soc[0], soc[1], soc[2]}}; }},
        {"soc_word.json", R"({"soc_id": 4660})", {R"(soc_word.json: key "soc_id": unknown value 4660; the)"}},
        // Inputs: one of the six names, each an object of known keys.
        {"input_name.json", R"({"inputs": {"HDMI9": {"width": 1920}}})",
         {R"(input_name.json: inputs: unknown key "HDMI9" with value {"width":1920}; not taken)"}},
        {"input_kind.json", R"({"inputs": {"HDMI1": "1080p"}})",
         {R"(input_kind.json: inputs, key "HDMI1": unknown value "1080p"; the default stays)"},
         [](const Data& d) { return !d.inputs[2].present; }},
        {"input_key.json", R"({"inputs": {"HDMI1": {"width": 1920, "height": 1080, "widht": 1280}}})",
         {R"(input_key.json: input HDMI1: unknown key "widht" with value 1280; not taken)"},
         [](const Data& d) { return d.inputs[2].present && d.inputs[2].width == 1920; }},
        {"input_text.json", R"({"inputs": {"HDMI1": {"width": "1920", "height": 1080}}})",
         {R"(input_text.json: input HDMI1, key "width": unknown value "1920"; the default stays)"},
         [](const Data& d) { return !d.inputs[2].present; }},
        {"inputs_list.json", R"({"inputs": ["HDMI1"]})",
         {R"(inputs_list.json: key "inputs": unknown value ["HDMI1"]; the)"}},
        {"escaped.json", R"({"inputs": {"HDMI1": {"signal": "a\"b\nc\u001b"}}, "a\"b": 1})",
         {R"(escaped.json: input HDMI1, key "signal": unknown value "a\\"b\\nc\\u001b"; the default stays)",
          R"(escaped.json: unknown key "a\\"b" with value 1; not taken)"},
         [](const Data& d) { return !d.inputs[2].dvi; }},
        {"long.json", R"({"inputs": {"HDMI1": {"color": ")" + std::string(200, 'x') + R"("}}})",
         {"long.json: input HDMI1, key \"color\": unknown value \"" + std::string(63, 'x') +
          "... (202 bytes); the default stays"}},
        // Sensors: a level 1-16 and two truth values.
        {"sensor_level.json",
         R"({"sensors": {"3": {"level": 40}, "4": {"level": 0}, "5": {"level": 1}, "6": {"level": 16}}})",
         {R"(sensor_level.json: sensors port 3, key "level": unknown value 40; the default stays)",
          R"(sensor_level.json: sensors port 4, key "level": unknown value 0; the)"},
         [](const Data& d) {
             return d.sensors[3].present && d.sensors[3].level == 16 && d.sensors[4].level == 16 &&
                    d.sensors[5].level == 1 && d.sensors[6].level == 16;
         }},
        {"sensor_flags.json", R"({"sensors": {"3": {"silent": "yes", "invalid": 1, "lux": 5}}})",
         {R"(sensor_flags.json: sensors port 3, key "silent": unknown value "yes"; the)",
          R"(sensor_flags.json: sensors port 3, key "invalid": unknown value 1; the)",
          R"(sensor_flags.json: sensors port 3: unknown key "lux" with value 5; not taken)"},
         [](const Data& d) { return d.sensors[3].present && !d.sensors[3].silent && !d.sensors[3].invalid; }},
        {"sensor_kind.json", R"({"sensors": {"3": 10, "x": {"level": 3}}})",
         {R"(sensor_kind.json: sensors, key "3": unknown value 10; the default stays)",
          R"(sensor_kind.json: sensors: unknown key "x" with value {"level":3}; not taken)"},
         [](const Data& d) { return !d.sensors[3].present; }},
        // Card identity: a 32-bit number; cards to recover: indices 0-4093.
        {"identity.json", R"({"card_identity": {"3": "0x55AA", "4": 4294967296, "5": 4294967295, "24": 1}})",
         {R"(identity.json: card_identity, key "3": unknown value "0x55AA"; the default stays)",
          R"(identity.json: card_identity, key "4": unknown value 4294967296; the)",
          R"(identity.json: card_identity: unknown key "24" with value 1; not taken)"},
         [](const Data& d) {
             return d.cardIdentity[3] == 0 && d.cardIdentity[4] == 0 && d.cardIdentity[5] == 0xFFFFFFFF;
         }},
        {"recovery.json", R"({"needs_recovery": {"3": [1, "2", 4094, 4093], "4": 1}})",
         {R"(recovery.json: needs_recovery port 3, entry 1: unknown value "2"; not taken)",
          R"(recovery.json: needs_recovery port 3, entry 2: unknown value 4094; not taken)",
          R"(recovery.json: needs_recovery, key "4": unknown value 1; the default stays)"},
         [none](const Data& d) {
             return d.needsRecovery[3] == std::vector<uint16_t>{1, 4093} && d.needsRecovery[4] == none;
         }},
        // Slow replies: a command 0-255 (every one without), 0-60000 ms.
        {"slow.json", R"({"slow_replies": {"13": {"command": 256, "ms": 100}, "14": {"command": "160", "ms": 60001},
                          "15": {"delay": 100}, "16": 1100, "17": {"command": 160, "ms": 60000}}})",
         {R"(slow.json: slow_replies port 13, key "command": unknown value 256; the default stays)",
          R"(slow.json: slow_replies port 14, key "command": unknown value "160"; the)",
          R"(slow.json: slow_replies port 14, key "ms": unknown value 60001; the)",
          R"(slow.json: slow_replies port 15: unknown key "delay" with value 100; not taken)",
          R"(slow.json: slow_replies, key "16": unknown value 1100; the default stays)"},
         [](const Data& d) {
             const auto& s = d.slowReplies;
             return s[13].ms == 100 && s[13].delays(0x10) && s[13].delays(0xA0) && s[14].ms == 0 &&
                    !s[16].delays(0xA0) && s[17].ms == 60000 && s[17].delays(160) && !s[17].delays(0x10);
         }},
        // Fonts: a list of the four names; eight refused entries all named.
        {"fonts_kind.json", R"({"c331_fonts": "ascii32"})",
         {R"(fonts_kind.json: key "c331_fonts": unknown value "ascii32"; the default stays)"},
         [](const Data& d) { return d.c331Fonts.empty(); }},
        {"fonts.json", R"({"c331_fonts": ["ascii32", "cjk16", 5, null, true, [], {}, "ASCII32", "cjk64 "]})",
         {R"(fonts.json: c331_fonts, entry 1: unknown value "cjk16"; not taken)",
          R"(fonts.json: c331_fonts, entry 2: unknown value 5;)",
          R"(fonts.json: c331_fonts, entry 3: unknown value null;)",
          R"(fonts.json: c331_fonts, entry 4: unknown value true;)",
          R"(fonts.json: c331_fonts, entry 5: unknown value [];)",
          R"(fonts.json: c331_fonts, entry 6: unknown value {};)",
          R"(fonts.json: c331_fonts, entry 7: unknown value "ASCII32";)",
          R"(fonts.json: c331_fonts, entry 8: unknown value "cjk64 ";)"},
         [](const Data& d) { return d.c331Fonts == std::vector<std::string>{"ascii32"}; }},
        // The c331's serial flash protected: true or false only.
        {"c331_flash_kind.json", R"({"c331_flash_protected": 1})",
         {R"(c331_flash_kind.json: key "c331_flash_protected": unknown value 1; the default stays)"},
         [](const Data& d) { return !d.c331FlashProtected; }},
        {"c331_flash.json", R"({"c331_flash_protected": true})", {},
         [](const Data& d) { return d.c331FlashProtected; }},
        // The FPGAs: each member's kind and range, an unknown key.
        {"fpga_kind.json", R"({"fpga": 1})", {R"(fpga_kind.json: key "fpga": unknown value 1; the default stays)"}},
        {"fpga_input.json", R"({"fpga": {"input": {"width": "wide", "period": -1, "rate": 60}}})",
         {R"(fpga_input.json: fpga input, key "width": unknown value "wide"; the default stays)",
          R"(fpga_input.json: fpga input, key "period": unknown value -1; the)",
          R"(fpga_input.json: fpga input: unknown key "rate" with value 60; not taken)"},
         [](const Data& d) { return d.fpga.inputWidth == 1920 && d.fpga.inputPeriod == 833333; }},
        {"fpga_input_kind.json", R"({"fpga": {"input": [1920, 1080], "speed": 1}})",
         {R"(fpga_input_kind.json: fpga, key "input": unknown value [1920,1080]; the default stays)",
          R"(fpga_input_kind.json: fpga: unknown key "speed" with value 1; not taken)"}},
        {"fpga_uid.json", R"({"fpga": {"flash_uid": "01020304050607"}})",
         {R"(fpga_uid.json: fpga, key "flash_uid": unknown value "01020304050607"; the default stays)"},
         [](const Data& d) { return d.fpga.flashUid == std::array<uint8_t, 8>{{1, 2, 3, 4, 5, 6, 7, 8}}; }},
        {"fpga_uid_hex.json", R"({"fpga": {"flash_uid": "a1a2a3a4a5a6a7ag"}})",
         {R"(fpga_uid_hex.json: fpga, key "flash_uid")"},
         [](const Data& d) { return d.fpga.flashUid[0] == 1; }},
        {"fpga_uid_number.json", R"({"fpga": {"flash_uid": 1234}})",
         {R"(fpga_uid_number.json: fpga, key "flash_uid")"}},
        {"fpga_counts.json", R"({"fpga": {"ready_after_reads": 1.5, "flash_busy_polls": -2, "lock_errors": "2"}})",
         {R"(fpga_counts.json: fpga, key "ready_after_reads": unknown value 1.5; the)",
          R"(fpga_counts.json: fpga, key "flash_busy_polls": unknown value -2; the)",
          R"(fpga_counts.json: fpga, key "lock_errors": unknown value "2"; the)"},
         [](const Data& d) {
             return d.fpga.readyAfterReads == 0 && d.fpga.flashBusyPolls == 0 && d.fpga.lockErrors == 0;
         }},
        {"fpga_ends.json", R"({"fpga": {"flash_busy_polls": -1, "ready_after_reads": 1000000}})", {},
         [](const Data& d) { return d.fpga.flashBusyPolls == -1 && d.fpga.readyAfterReads == 1000000; }},
        // A key given twice in one object: the later one stands, the
        // earlier is named; a port key with a leading zero is no port's.
        {"repeated.json", R"({"ports": {"0": 4, "0": 3, "00": 2, "07": 1}, "soc_id": [1, 2, 3], "soc_id": [4, 5, 6],
                              "inputs": {"HDMI1": {"width": 1920, "height": 1080, "width": 1280}},
                              "c331_fonts": [{"a": 1, "a": [2]}], "fpga": {"lock_errors": 1}, "fpga": {}})",
         {R"(repeated.json: ports, key "0": value 4 not taken: the same key follows it)",
          R"(repeated.json: ports: unknown key "00" with value 2; not taken)",
          R"(repeated.json: ports: unknown key "07" with value 1; not taken)",
          R"(repeated.json: key "soc_id": value [1,2,3] not taken: the same key follows it)",
          R"(repeated.json: inputs HDMI1, key "width": value 1920 not taken: the same key follows it)",
          R"(repeated.json: c331_fonts, key "a": value 1 not taken: the same key follows it)",
          R"(repeated.json: c331_fonts, entry 0: unknown value {"a":[2]}; not taken)",
          R"(repeated.json: key "fpga": value {"lock_errors":1} not taken: the same key follows it)"},
         [soc](const Data& d) {
             return d.cardsPerPort[0] == 3 && d.cardsPerPort[7] == 0 &&
                    d.socIdWords == std::array<uint16_t, 3>{{4, 5, 6}} && d.inputs[2].width == 1280;
         }},
        // Not JSON with a key given twice: said at its line, nothing else.
        {"repeated_comma.json", "{\"soc_id\": [1,\n 2, 3], \"soc_id\": [4, 5, 6],\n \"ports\": {\"0\": 4,}}",
         {"repeated_comma.json is not JSON: line 3: "},
         [soc](const Data& d) { return d.socIdWords == std::array<uint16_t, 3>{{soc[0], soc[1], soc[2]}}; }},
        // A member the scenario does not have.
        {"member.json", R"({"port": {"0": 4}})", {R"(member.json: unknown key "port" with value {"0":4}; not taken)"},
         [](const Data& d) { return d.cardsPerPort[0] == 0; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string path = dir + row.file;
        if (row.make)
            ASSERT_TRUE(row.make(path));
        else
            writeHostFile(path, row.json);
        struct stat st {};
        const long long size = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
        SimScenario sc;
        const long long before = bytesReadByThisThread();
        sc.loadFile(path);
        // What is read: the file when it is taken, nothing of one too large
        // (a reading of the count itself is some hundred bytes).
        EXPECT_LT(bytesReadByThisThread() - before, (size > 64 * 1024 ? 0 : size) + 4096);
        EXPECT_EQ(sc.fpga().lockErrors, 0u);
        EXPECT_TRUE(!row.serves || row.serves(sc.snapshot()));
        const std::string log = readHostFile(hostPath(kLogFile));
        for (const std::string& line : row.lines) EXPECT_EQ(countIn(log, "board scenario " + dir + line), 1u) << line;
        const std::string named = "board scenario " + path;
        EXPECT_EQ(countIn(log, named + ":") + countIn(log, named + " "), row.lines.size()) << log;
    }
}

TEST(SimScenarioSource, TimingCarriesCodeAndPixelClock) {
    SimSource s;
    s.present = true, s.width = 1920, s.height = 1080, s.refreshHz = 60;
    SimVideoTiming t = simVideoTiming(s);
    EXPECT_EQ((std::pair<int, uint32_t>{t.vic, t.pixelKHz}), (std::pair<int, uint32_t>{16, 148500}));
    // A size without a CEA timing has no code; its clock follows its totals.
    s.width = 1000, s.height = 600, s.refreshHz = 60;
    t = simVideoTiming(s);
    EXPECT_EQ(t.vic, 0);
    EXPECT_EQ(t.pixelKHz, (t.htotal * t.vtotal * 60 + 500) / 1000);
    s.interlaced = true;
    t = simVideoTiming(s);
    EXPECT_EQ(t.pixelKHz, (t.htotal * (2 * t.vtotal + 1) * 30 + 500) / 1000);
}

TEST(SimScenarioSource, FollowsOnlyAValidEdid) {
    std::vector<uint8_t> edid(256, 0xFF);
    SimScenario sc;
    SimSource s;
    s.present = true, s.width = 1920, s.height = 1080, s.refreshHz = 60, s.followsEdid = true;
    sc.setInput(2, s);
    EXPECT_FALSE(sc.followEdid(2, edid));  // blank memory
    std::fill(edid.begin(), edid.begin() + 128, 0);
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(header, header + 8, edid.begin());
    // 1280x720, 74.25 MHz, blanking 370 x 30.
    const uint8_t dtd[8] = {0x01, 0x1D, 0x00, 0x72, 0x51, 0xD0, 0x1E, 0x20};
    std::copy(dtd, dtd + 8, edid.begin() + 54);
    uint8_t sum = 0;
    for (int i = 0; i < 127; ++i) sum = uint8_t(sum + edid[size_t(i)]);
    edid[127] = uint8_t(0x100 - sum);
    edid[127] ^= 1;
    EXPECT_FALSE(sc.followEdid(2, edid));  // wrong checksum
    EXPECT_EQ(sc.snapshot().inputs[2].width, 1920u);
    edid[127] ^= 1;
    ASSERT_TRUE(sc.followEdid(2, edid));
    const SimSource f = sc.snapshot().inputs[2];
    EXPECT_EQ((std::vector<uint32_t>{f.width, f.height, f.refreshHz}), (std::vector<uint32_t>{1280, 720, 60}));
    EXPECT_TRUE(f.followsEdid);
}

namespace {
// Runs one step of scripts/run alone (a function of scripts/places.sh) on
// a place, with the file `input` on its standard input; its exit status,
// or -1 when it has not ended within 20 s (it is then killed). err gets
// what it wrote on standard error.
int runStep(const char* step, const std::string& place, const std::string& input = "/dev/null",
            QByteArray* err = nullptr) {
    QProcess sh;
    sh.setStandardInputFile(QString::fromStdString(input));
    const QString line = QStringLiteral("set -euo pipefail; . \"$0\"; %1 \"$1\"").arg(step);
    sh.start(QStringLiteral("bash"), {QStringLiteral("-c"), line, QStringLiteral(ZRV_SOURCE_DIR "/scripts/places.sh"),
                                      QString::fromStdString(place)});
    const bool ended = sh.waitForFinished(20000);
    if (!ended) sh.kill(), sh.waitForFinished(5000);
    if (err) *err = sh.readAllStandardError();
    return ended && sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1;
}
}  // namespace

// The start script's default scenario is written only where nothing
// stands: a FIFO, a folder, a link (to nothing or to a file) or a file is
// left as it is, for the program to say what it found, and the step ends at
// once whatever is there. A folder's place (run-root/, the build folder)
// holding anything but a folder has it moved aside and a folder made; a
// folder, or a link to one, is used as it is.
TEST_F(SimScenarioFile, TheStartScriptMakesEachPlaceOnlyWhereNothingStands) {
    const std::string place = hostPath("/run/board.json");
    auto isLink = [](const std::string& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    };
    struct Row {
        const char* name;
        std::function<bool(const std::string&)> make;  // nothing: the place stays empty
        std::string what;                               // whatIsAt the place, a link not followed
    };
    const Row rows[] = {
        {"nothing", nullptr, "nothing"},
        {"a FIFO", [](const std::string& p) { return oddAt(Odd::Fifo, p); }, "a FIFO"},
        {"a folder",
         [](const std::string& p) { return oddAt(Odd::Folder, p) && (writeHostFile(p + "/mine", "kept"), true); },
         "a folder"},
        {"a link to nothing", [](const std::string& p) { return ::symlink((p + ".gone").c_str(), p.c_str()) == 0; },
         "a link"},
        {"a link to a file", [](const std::string& p) { return oddAt(Odd::Link, p); }, "a link"},
        {"a file", [](const std::string& p) { return writeHostFile(p, "{\"ports\": {\"5\": 1}}"), true; }, "a file"},
    };
    const std::string text = "{\"ports\": {\"0\": 4}}\n", input = hostPath("/default.json");
    writeHostFile(input, text);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(QString::fromStdString(hostPath("/run"))).removeRecursively();
        QDir().mkpath(QString::fromStdString(hostPath("/run")));
        ASSERT_TRUE(!row.make || row.make(place));
        // What a regular file there, or a link's file, holds (a FIFO is not read).
        auto held = [&] { return QFileInfo(QString::fromStdString(place)).isFile() ? readHostFile(place) : ""; };
        const std::string before = held();
        EXPECT_EQ(runStep("zrv_default_file", place, input), 0);
        EXPECT_EQ(whatIsAt(place), row.make ? row.what : "a file");
        EXPECT_EQ(held(), row.make ? before : text);
        EXPECT_EQ(whatIsAt(place + ".gone"), "nothing") << "written through a link";
        const QStringList inside =
            QDir(QString::fromStdString(place)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        EXPECT_EQ(inside.join(' ').toStdString(), row.what == "a folder" ? "mine" : "") << "written into a folder";
        const QStringList beside = QDir(QString::fromStdString(hostPath("/run")))
                                       .entryList({"board.json.*"}, QDir::AllEntries | QDir::System | QDir::Hidden);
        EXPECT_TRUE(beside.isEmpty() || beside == QStringList{"board.json.target"}) << beside.join(' ').toStdString();
        // The same things where a folder belongs.
        const std::string folder = hostPath("/run/run-root");
        ASSERT_TRUE(!row.make || row.make(folder));
        QByteArray said;
        EXPECT_EQ(runStep("zrv_folder_at", folder, "/dev/null", &said), 0);
        const bool used = !row.make || row.what == "a folder";
        EXPECT_TRUE(QFileInfo(QString::fromStdString(folder)).isDir());
        EXPECT_EQ(whatIsAt(folder + ".refused"), used ? "nothing" : row.what);
        EXPECT_EQ(said.contains(("kept as " + folder + ".refused").c_str()), !used) << said.toStdString();
        EXPECT_EQ(readHostFile(folder + "/mine"), row.what == "a folder" ? "kept" : "");
    }
    // A link to a folder is used as that folder.
    const std::string folder = hostPath("/run/run-root"), elsewhere = hostPath("/run/elsewhere");
    QDir(QString::fromStdString(hostPath("/run"))).removeRecursively();
    QDir().mkpath(QString::fromStdString(elsewhere));
    ASSERT_EQ(::symlink(elsewhere.c_str(), folder.c_str()), 0);
    EXPECT_EQ(runStep("zrv_folder_at", folder), 0);
    EXPECT_TRUE(isLink(folder));
    EXPECT_EQ(whatIsAt(folder + ".refused"), "nothing");
}

// The start script's lines to a console whose reader has gone ("| head -3")
// cost those lines only: the script goes on to start the program. Its
// standard output is a pipe with no reader at all, so every write to it
// meets SIGPIPE, whatever the machine's load.
TEST(StartScript, ALineToAConsoleWhoseReaderHasGoneCostsThatLineOnly) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    ::close(pipeEnds[0]);
    QTemporaryDir dir;
    const std::string reached = dir.filePath("reached").toStdString();
    const char* line =
        "set -euo pipefail; . \"$0\"; zrv_say one; zrv_say two >&2; zrv_say three; echo reached > \"$1\"";
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], 1);
        ::signal(SIGPIPE, SIG_DFL);
        ::execlp("bash", "bash", "-c", line, ZRV_SOURCE_DIR "/scripts/places.sh", reached.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    ASSERT_GT(child, 0);
    int status = -1;
    for (int i = 0; i < 400 && ::waitpid(child, &status, WNOHANG) == 0; ++i) ::usleep(50000);
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the script did not end within 20 s";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(readHostFile(reached), "reached\n");
}

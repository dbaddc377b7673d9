// What a source of the board scenario carries besides its timing, and how
// the file's values are refused.
#include "sim/sim_c331_inputs.h"
#include "sim/sim_scenario.h"

#include "core/logMsg.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <QDir>

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
// the log, naming the file and the reason; the defaults serve.
TEST_F(SimScenarioFile, EachFileNotTakenOrValueRefusedIsLoggedWithItsReason) {
    const std::string dir = hostPath("/scenarios/");
    writeHostFile(dir + "comma.json", "{\"ports\": {\"0\": 4,\n}}");
    writeHostFile(dir + "value.json", R"({"fpga": {"lock_errors": -1}})");
    QDir().mkpath(QString::fromStdString(dir + "folder.json"));
    struct Row {
        const char* file;
        const char* line;
    };
    const Row rows[] = {
        {"missing.json", "missing.json cannot be read: there is no such file; the defaults serve"},
        {"folder.json", "folder.json cannot be read: it is not a regular file; the defaults serve"},
        {"comma.json", "comma.json is not JSON: line 2: "},
        {"value.json", "value.json: fpga, key \"lock_errors\": unknown value \"-1\"; the default stays"},
    };
    for (const Row& row : rows) {
        SimScenario sc;
        sc.loadFile(dir + row.file);
        EXPECT_EQ(sc.fpga().lockErrors, 0u) << row.file;
        EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)), "board scenario " + dir + row.line), 1u) << row.line;
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

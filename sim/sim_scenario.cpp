#include "sim/sim_scenario.h"

#include <functional>

#include "core/logMsg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

const char* const kInputNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

// Reads the keys of one input; a value it does not know leaves the field
// at its default and adds a refusal naming input and key.
class SourceReader {
public:
    SourceReader(const pt::ptree& node, const std::string& input, std::vector<std::string>& refusals)
        : m_node(node), m_input(input), m_refusals(refusals) {}

    template <class T>
    void number(const char* key, T& field, T low, T high) {
        auto text = m_node.get_optional<std::string>(key);
        if (!text) return;
        try {
            size_t used = 0;
            const long long v = std::stoll(*text, &used);
            if (used == text->size() && v >= (long long)low && v <= (long long)high) {
                field = T(v);
                return;
            }
        } catch (const std::exception&) {
        }
        refuse(key, *text);
    }
    void flag(const char* key, bool& field) {
        auto text = m_node.get_optional<std::string>(key);
        if (!text) return;
        if (*text == "true" || *text == "false")
            field = *text == "true";
        else
            refuse(key, *text);
    }
    template <class E, size_t N>
    void choice(const char* key, E& field, const std::pair<const char*, E> (&names)[N]) {
        auto text = m_node.get_optional<std::string>(key);
        if (!text) return;
        for (const auto& n : names)
            if (*text == n.first) {
                field = n.second;
                return;
            }
        refuse(key, *text);
    }

private:
    void refuse(const char* key, const std::string& value) {
        m_refusals.push_back(m_input + ", key \"" + key + "\": unknown value \"" + value + "\"; the default stays");
    }
    const pt::ptree& m_node;
    const std::string& m_input;
    std::vector<std::string>& m_refusals;
};

const std::pair<const char*, bool> kSignals[] = {{"HDMI", false}, {"DVI", true}};
const std::pair<const char*, SimSource::Color> kColors[] = {{"RGB", SimSource::Color::RGB},
                                                            {"4:2:2", SimSource::Color::YUV422},
                                                            {"4:4:4", SimSource::Color::YUV444},
                                                            {"4:2:0", SimSource::Color::YUV420}};
const std::pair<const char*, SimSource::Range> kRanges[] = {{"default", SimSource::Range::Default},
                                                            {"limited", SimSource::Range::Limited},
                                                            {"full", SimSource::Range::Full}};
const std::pair<const char*, SimSource::Colorimetry> kColorimetries[] = {
    {"none", SimSource::Colorimetry::None}, {"601", SimSource::Colorimetry::BT601}, {"709", SimSource::Colorimetry::BT709}};
const std::pair<const char*, uint32_t> kAudioRates[] = {{"32000", 32000},   {"44100", 44100},   {"48000", 48000},
                                                        {"88200", 88200},   {"96000", 96000},   {"176400", 176400},
                                                        {"192000", 192000}};

SimSource parseSource(const pt::ptree& node, const std::string& name, std::vector<std::string>& refusals) {
    SimSource s;
    s.refreshHz = 60;
    const std::string where = "input " + name;
    SourceReader r(node, where, refusals);
    r.number<uint32_t>("width", s.width, 0, 8192);
    r.number<uint32_t>("height", s.height, 0, 8192);
    r.number<uint32_t>("refresh", s.refreshHz, 0, 240);
    r.flag("interlaced", s.interlaced);
    r.choice("signal", s.dvi, kSignals);
    r.choice("color", s.color, kColors);
    r.choice("quantization", s.range, kRanges);
    r.choice("colorimetry", s.colorimetry, kColorimetries);
    r.choice("audio_rate", s.audioRateHz, kAudioRates);
    if (s.audioRateHz) s.audioChannels = 2;
    r.number<uint8_t>("audio_channels", s.audioChannels, 2, 8);
    if (!s.audioRateHz) s.audioChannels = 0;
    r.flag("follows_edid", s.followsEdid);
    s.present = s.width && s.height && s.refreshHz;
    return s;
}

// "fpga": {"input": {"width": 1920, "height": 1080, "period": 833333},
//          "flash_uid": "0102030405060708", "ready_after_reads": 0,
//          "lock_errors": 0, "flash_busy_polls": 0, "flash_protected": false}
void parseFpga(const pt::ptree& node, SimFpgaScenario& f, std::vector<std::string>& refusals) {
    const std::string where = "fpga";
    SourceReader r(node, where, refusals);
    r.number<int>("flash_busy_polls", f.flashBusyPolls, -1, 1000000);
    r.flag("flash_protected", f.flashProtected);
    r.number<uint32_t>("ready_after_reads", f.readyAfterReads, 0, 1000000);
    r.number<uint32_t>("lock_errors", f.lockErrors, 0, 1000000);
    if (auto input = node.get_child_optional("input")) {
        SourceReader in(*input, where, refusals);
        in.number<uint32_t>("width", f.inputWidth, 0, 0xFFFF);
        in.number<uint32_t>("height", f.inputHeight, 0, 0xFFFF);
        in.number<uint32_t>("period", f.inputPeriod, 0, 0xFFFFFFFF);
    }
    if (auto uid = node.get_optional<std::string>("flash_uid")) {
        std::array<uint8_t, 8> bytes{};
        bool ok = uid->size() == 16 && uid->find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        for (size_t i = 0; ok && i < 8; ++i) bytes[i] = uint8_t(std::stoul(uid->substr(2 * i, 2), nullptr, 16));
        if (ok) {
            f.flashUid = bytes;
        } else {
            refusals.push_back("fpga, key \"flash_uid\": unknown value \"" + *uid + "\"; the default stays");
        }
    }
}

bool parseInto(const pt::ptree& tree, SimScenarioData& data, std::vector<std::string>& refusals) {
    // {"inputs": {"HDMI1": {"width": 1920, "height": 1080, "refresh": 60, ...}},
    //  "ports": {"0": 4, "13": 2}, "soc_id": [4660, 22136, 39612]}
    if (auto inputs = tree.get_child_optional("inputs")) {
        for (const auto& kv : *inputs) {
            int input = SimScenario::inputByName(kv.first);
            if (input < 0) continue;
            data.inputs[size_t(input)] = parseSource(kv.second, kv.first, refusals);
        }
    }
    if (auto ports = tree.get_child_optional("ports")) {
        for (const auto& kv : *ports) {
            int port = -1;
            try {
                port = std::stoi(kv.first);
            } catch (...) {
                continue;
            }
            if (port < 0 || port >= 24) continue;
            data.cardsPerPort[size_t(port)] = kv.second.get_value<uint16_t>(0);
        }
    }
    // {"card_identity": {"3": 4660}, "needs_recovery": {"3": [1]}}
    auto perPort = [&](const char* key, const std::function<void(size_t, const pt::ptree&)>& take) {
        if (auto ports = tree.get_child_optional(key)) {
            for (const auto& kv : *ports) {
                int port = -1;
                try {
                    port = std::stoi(kv.first);
                } catch (...) {
                }
                if (port < 0 || port >= 24) {
                    refusals.push_back(std::string(key) + ": no port \"" + kv.first + "\"");
                    continue;
                }
                take(size_t(port), kv.second);
            }
        }
    };
    perPort("card_identity", [&](size_t port, const pt::ptree& v) { data.cardIdentity[port] = v.get_value<uint32_t>(0); });
    perPort("needs_recovery", [&](size_t port, const pt::ptree& v) {
        for (const auto& card : v) data.needsRecovery[port].push_back(card.second.get_value<uint16_t>(0));
    });
    perPort("sensors", [&](size_t port, const pt::ptree& v) {
        SimSensor& s = data.sensors[port];
        s.present = true;
        s.level = uint8_t(std::min(v.get<unsigned>("level", 16), 255u));
        s.silent = v.get<bool>("silent", false);
        s.invalid = v.get<bool>("invalid", false);
    });
    perPort("slow_replies", [&](size_t port, const pt::ptree& v) {
        data.slowReplies[port] = {v.get<int>("command", SimSlowReply::kEvery), v.get<uint32_t>("ms", 0)};
    });
    if (auto fonts = tree.get_child_optional("c331_fonts")) {
        for (const auto& kv : *fonts) {
            const std::string name = kv.second.get_value<std::string>();
            if (name == "ascii32" || name == "cjk32" || name == "ascii64" || name == "cjk64")
                data.c331Fonts.push_back(name);
            else
                refusals.push_back("c331_fonts: unknown font \"" + name + "\"");
        }
    }
    if (auto soc = tree.get_child_optional("soc_id")) {
        size_t i = 0;
        for (const auto& kv : *soc) {
            if (i >= 3) break;
            data.socIdWords[i++] = kv.second.get_value<uint16_t>(0);
        }
    }
    if (auto fpga = tree.get_child_optional("fpga")) parseFpga(*fpga, data.fpga, refusals);
    return true;
}

}  // namespace

const char* SimScenario::inputName(int input) { return input >= 0 && input < 6 ? kInputNames[input] : ""; }

int SimScenario::inputByName(const std::string& name) {
    for (int i = 0; i < 6; ++i)
        if (name == kInputNames[i]) return i;
    return -1;
}

bool SimScenario::loadFile(const std::string& hostPath) {
    // Opened without waiting: a FIFO in the file's place would hold the start
    // until some writer came. Only a regular file is read, judged on the
    // opened descriptor.
    std::string why;
    std::string text;
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0)
        why = errno == ENOENT ? "cannot be read: there is no such file" : std::string("cannot be read: ") + std::strerror(errno);
    else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        why = "cannot be read: it is not a regular file";
    for (char buf[4096]; why.empty();) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) why = std::string("cannot be read: ") + std::strerror(errno);
        if (n <= 0) break;
        text.append(buf, size_t(n));
    }
    if (fd >= 0) ::close(fd);
    if (why.empty() && loadJson(text, &why)) {
        for (const std::string& refused : warnings()) writeLogMsg(WARNING, "board scenario " + hostPath + ": " + refused);
        return true;
    }
    writeLogMsg(ERROR, "board scenario " + hostPath + " " + why + "; the defaults serve");
    return false;
}

bool SimScenario::loadJson(const std::string& json, std::string* why) {
    pt::ptree tree;
    std::istringstream in(json);
    SimScenarioData data = snapshot();
    std::vector<std::string> refusals;
    try {
        pt::read_json(in, tree);
        parseInto(tree, data, refusals);
    } catch (const pt::json_parser_error& e) {
        if (why) *why = "is not JSON: line " + std::to_string(e.line()) + ": " + e.message();
        return false;
    } catch (const pt::ptree_error& e) {
        // A member whose value is of another kind than the one it takes.
        if (why) *why = std::string("is not a scenario: ") + e.what();
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data = data;
    m_warnings = std::move(refusals);
    return true;
}

std::vector<std::string> SimScenario::warnings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_warnings;
}

SimScenarioData SimScenario::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data;
}

SimSource SimScenario::input(int input) const {
    if (input < 0 || input >= 6) return SimSource{};
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data.inputs[size_t(input)];
}

std::array<SimSource, 6> SimScenario::inputs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data.inputs;
}

SimFpgaScenario SimScenario::fpga() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data.fpga;
}

void SimScenario::setInput(int input, const SimSource& source) {
    if (input < 0 || input >= 6) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.inputs[size_t(input)] = source;
}

void SimScenario::unplug(int input) { setInput(input, SimSource{}); }

bool SimScenario::followEdid(int input, const std::vector<uint8_t>& edid) {
    static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (input < 0 || input >= 6 || edid.size() < 128) return false;
    uint8_t sum = 0;
    for (size_t i = 0; i < 128; ++i) sum = uint8_t(sum + edid[i]);
    if (sum != 0 || !std::equal(std::begin(kHeader), std::end(kHeader), edid.begin())) return false;
    const uint8_t* d = edid.data() + 54;  // first detailed timing descriptor
    const uint32_t clock10k = uint32_t(d[0] | d[1] << 8);
    const uint32_t hact = uint32_t(d[2] | (d[4] & 0xF0) << 4), hblank = uint32_t(d[3] | (d[4] & 0x0F) << 8);
    const uint32_t vact = uint32_t(d[5] | (d[7] & 0xF0) << 4), vblank = uint32_t(d[6] | (d[7] & 0x0F) << 8);
    const uint64_t field = uint64_t(hact + hblank) * (vact + vblank);
    if (!clock10k || !hact || !vact) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    SimSource& s = m_data.inputs[size_t(input)];
    s.interlaced = d[17] & 0x80;
    s.width = hact;
    s.height = s.interlaced ? vact * 2 : vact;  // a descriptor counts the lines of one field
    s.refreshHz = uint32_t((uint64_t(clock10k) * 10000 + field / 2) / field);
    s.present = true;
    return true;
}

void SimScenario::setCardsOnPort(int port, uint16_t count) {
    if (port < 0 || port >= 24) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.cardsPerPort[size_t(port)] = count;
}

void SimScenario::setSensor(int port, const SimSensor& sensor) {
    if (port < 0 || port >= 24) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.sensors[size_t(port)] = sensor;
}

void SimScenario::setSocIdWords(uint16_t x, uint16_t y, uint16_t z) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.socIdWords = {{x, y, z}};
}

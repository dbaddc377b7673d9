#include "sim/sim_scenario.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "core/logMsg.h"

#include <fstream>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

const char* const kInputNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

void refuse(const std::string& member, const std::string& value) {
    writeLogMsg(WARNING, "board scenario: fpga." + member + " = \"" + value + "\" refused; kept the default");
}

// A whole number in [lo, hi], else the member is refused and left as it was.
template <class T>
void takeNumber(const pt::ptree& tree, const char* member, long long lo, long long hi, T& out) {
    auto text = tree.get_optional<std::string>(member);
    if (!text) return;
    try {
        size_t used = 0;
        const long long v = std::stoll(*text, &used, 0);
        if (used == text->size() && v >= lo && v <= hi) {
            out = T(v);
            return;
        }
    } catch (...) {
    }
    refuse(member, *text);
}

// "fpga": {"input": {"width": 1920, "height": 1080, "period": 833333},
//          "flash_uid": "0102030405060708", "ready_after_reads": 0,
//          "lock_errors": 0, "flash_busy_polls": 0}
void parseFpga(const pt::ptree& tree, SimFpgaScenario& f) {
    if (auto input = tree.get_child_optional("input")) {
        takeNumber(*input, "width", 0, 0xFFFF, f.inputWidth);
        takeNumber(*input, "height", 0, 0xFFFF, f.inputHeight);
        takeNumber(*input, "period", 0, 0xFFFFFFFFLL, f.inputPeriod);
    }
    if (auto uid = tree.get_optional<std::string>("flash_uid")) {
        std::array<uint8_t, 8> bytes{};
        bool ok = uid->size() == 16;
        for (size_t i = 0; ok && i < 8; ++i) {
            try {
                size_t used = 0;
                bytes[i] = uint8_t(std::stoul(uid->substr(2 * i, 2), &used, 16));
                ok = used == 2;
            } catch (...) {
                ok = false;
            }
        }
        if (ok)
            f.flashUid = bytes;
        else
            refuse("flash_uid", *uid);
    }
    takeNumber(tree, "ready_after_reads", 0, 1000000, f.readyAfterReads);
    takeNumber(tree, "lock_errors", 0, 1000000, f.lockErrors);
    takeNumber(tree, "flash_busy_polls", -1, 1000000, f.flashBusyPolls);
}

bool parseInto(const pt::ptree& tree, SimScenarioData& data) {
    // {"inputs": {"HDMI1": {"width": 1920, "height": 1080, "refresh": 60,
    //             "interlaced": false}}, "ports": {"0": 4, "13": 2},
    //  "soc_id": [4660, 22136, 39612]}
    if (auto inputs = tree.get_child_optional("inputs")) {
        for (const auto& kv : *inputs) {
            int input = SimScenario::inputByName(kv.first);
            if (input < 0) continue;
            SimSource s;
            s.width = kv.second.get<uint32_t>("width", 0);
            s.height = kv.second.get<uint32_t>("height", 0);
            s.refreshHz = kv.second.get<uint32_t>("refresh", 60);
            s.interlaced = kv.second.get<bool>("interlaced", false);
            s.present = s.width && s.height && s.refreshHz;
            data.inputs[size_t(input)] = s;
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
    if (auto soc = tree.get_child_optional("soc_id")) {
        size_t i = 0;
        for (const auto& kv : *soc) {
            if (i >= 3) break;
            data.socIdWords[i++] = kv.second.get_value<uint16_t>(0);
        }
    }
    if (auto fpga = tree.get_child_optional("fpga")) parseFpga(*fpga, data.fpga);
    return true;
}

}  // namespace

int SimScenario::inputByName(const std::string& name) {
    for (int i = 0; i < 6; ++i)
        if (name == kInputNames[i]) return i;
    return -1;
}

bool SimScenario::loadFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    return loadJson(text.str());
}

bool SimScenario::loadJson(const std::string& json) {
    pt::ptree tree;
    std::istringstream in(json);
    SimScenarioData data = snapshot();
    try {
        pt::read_json(in, tree);
        parseInto(tree, data);
    } catch (const pt::ptree_error&) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data = data;
    return true;
}

SimScenarioData SimScenario::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data;
}

void SimScenario::setInput(int input, const SimSource& source) {
    if (input < 0 || input >= 6) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.inputs[size_t(input)] = source;
}

void SimScenario::unplug(int input) { setInput(input, SimSource{}); }

void SimScenario::setCardsOnPort(int port, uint16_t count) {
    if (port < 0 || port >= 24) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.cardsPerPort[size_t(port)] = count;
}

void SimScenario::setSocIdWords(uint16_t x, uint16_t y, uint16_t z) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data.socIdWords = {{x, y, z}};
}

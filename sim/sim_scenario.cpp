#include "sim/sim_scenario.h"

#include "core/logMsg.h"
#include "platform/fileops.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>

namespace {

const char* const kInputNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

// The file's own JSON text of a value or a key, its strings escaped as JSON
// escapes them, so a log line shows it as it stands in the file and nothing
// in it can pass for the line's own quotes. A long one is cut.
std::string shown(const QJsonValue& value) {
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    text = text.mid(1, text.size() - 2);  // the array's brackets
    constexpr int kShown = 64;
    if (text.size() <= kShown + 16) return text.toStdString();
    int cut = kShown;
    while (cut > 0 && (uchar(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    return text.left(cut).toStdString() + "... (" + std::to_string(text.size()) + " bytes)";
}
std::string shown(const QString& key) { return shown(QJsonValue(key)); }

// The whole number a value holds, when it is a JSON number within the range.
bool whole(const QJsonValue& value, double low, double high, long long& out) {
    if (!value.isDouble()) return false;
    const double d = value.toDouble();
    if (!(d >= low && d <= high) || std::floor(d) != d) return false;
    out = static_cast<long long>(d);
    return true;
}

// A port key: "0" to "23", in decimal digits only and without a leading
// zero ("03" would stand for port 3 beside "3" itself); -1 for any other.
int portOf(const QString& key) {
    if (key.isEmpty() || key.size() > 2 || (key.size() == 2 && key[0] == QLatin1Char('0'))) return -1;
    for (const QChar c : key)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return -1;
    const int port = key.toInt();
    return port < 24 ? port : -1;
}

// Refusals, one line each: where in the file, the key or the entry, and the
// value as the file writes it.
class Refusals {
public:
    explicit Refusals(std::vector<std::string>& lines) : m_lines(lines) {}
    // A value of the wrong kind or range: the field keeps what it had.
    void value(const std::string& where, const std::string& place, const QJsonValue& v) {
        m_lines.push_back(at(where, place) + ": unknown value " + shown(v) + "; the default stays");
    }
    // A list entry of the wrong kind or range, left out of the list.
    void entry(const std::string& where, int index, const QJsonValue& v) {
        m_lines.push_back(at(where, "entry " + std::to_string(index)) + ": unknown value " + shown(v) + "; not taken");
    }
    // A member given again later in its object: the later one stands.
    void repeated(const std::string& where, const QString& k, const QJsonValue& v) {
        m_lines.push_back(at(where, "key " + shown(k)) + ": value " + shown(v) +
                          " not taken: the same key follows it");
    }
    // A key that names nothing the scenario has.
    void key(const std::string& where, const QString& k, const QJsonValue& v) {
        m_lines.push_back((where.empty() ? "" : where + ": ") + "unknown key " + shown(k) + " with value " + shown(v) +
                          "; not taken");
    }

private:
    static std::string at(const std::string& where, const std::string& what) {
        return where.empty() ? what : where + ", " + what;
    }
    std::vector<std::string>& m_lines;
};

// The members of one JSON object. Each reader takes its key: a value of the
// wrong kind or range is refused and the field keeps what it had; the keys
// no reader took are refused by rest().
class Members {
public:
    Members(const QJsonObject& object, std::string where, Refusals& refuse)
        : m_object(object), m_where(std::move(where)), m_refuse(refuse) {}

    // The value of the key, taken; false when the object has none.
    bool take(const char* key, QJsonValue& value) {
        const QString k = QString::fromLatin1(key);
        if (!m_object.contains(k)) return false;
        m_taken.push_back(k);
        value = m_object.value(k);
        return true;
    }
    void refuse(const char* key, const QJsonValue& value) {
        m_refuse.value(m_where, "key " + shown(QString::fromLatin1(key)), value);
    }
    template <class T>
    void number(const char* key, T& field, double low, double high) {
        QJsonValue v;
        long long n = 0;
        if (!take(key, v)) return;
        if (whole(v, low, high, n))
            field = T(n);
        else
            refuse(key, v);
    }
    void flag(const char* key, bool& field) {
        QJsonValue v;
        if (!take(key, v)) return;
        if (v.isBool())
            field = v.toBool();
        else
            refuse(key, v);
    }
    template <class E, size_t N>
    void choice(const char* key, E& field, const std::pair<const char*, E> (&names)[N]) {
        QJsonValue v;
        if (!take(key, v)) return;
        for (const auto& n : names)
            if (v.isString() && v.toString() == QLatin1String(n.first)) {
                field = n.second;
                return;
            }
        refuse(key, v);
    }
    // An object member: its value when it is an object, else refused.
    bool object(const char* key, QJsonObject& out) {
        QJsonValue v;
        if (!take(key, v)) return false;
        if (v.isObject()) {
            out = v.toObject();
            return true;
        }
        refuse(key, v);
        return false;
    }
    void rest() {
        for (auto it = m_object.begin(); it != m_object.end(); ++it)
            if (std::find(m_taken.begin(), m_taken.end(), it.key()) == m_taken.end())
                m_refuse.key(m_where, it.key(), it.value());
    }

private:
    const QJsonObject& m_object;
    const std::string m_where;
    Refusals& m_refuse;
    std::vector<QString> m_taken;
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
const uint32_t kAudioRates[] = {32000, 44100, 48000, 88200, 96000, 176400, 192000};

SimSource parseSource(const QJsonObject& node, const std::string& where, Refusals& refuse) {
    SimSource s;
    s.refreshHz = 60;
    Members m(node, where, refuse);
    m.number<uint32_t>("width", s.width, 0, 8192);
    m.number<uint32_t>("height", s.height, 0, 8192);
    m.number<uint32_t>("refresh", s.refreshHz, 0, 240);
    m.flag("interlaced", s.interlaced);
    m.choice("signal", s.dvi, kSignals);
    m.choice("color", s.color, kColors);
    m.choice("quantization", s.range, kRanges);
    m.choice("colorimetry", s.colorimetry, kColorimetries);
    QJsonValue rate;
    if (m.take("audio_rate", rate)) {
        long long hz = 0;
        if (whole(rate, 0, 192000, hz) && std::count(std::begin(kAudioRates), std::end(kAudioRates), hz))
            s.audioRateHz = uint32_t(hz);
        else
            m.refuse("audio_rate", rate);
    }
    if (s.audioRateHz) s.audioChannels = 2;
    m.number<uint8_t>("audio_channels", s.audioChannels, 2, 8);
    if (!s.audioRateHz) s.audioChannels = 0;
    m.flag("follows_edid", s.followsEdid);
    m.rest();
    s.present = s.width && s.height && s.refreshHz;
    return s;
}

// "fpga": {"input": {"width": 1920, "height": 1080, "period": 833333},
//          "flash_uid": "0102030405060708", "ready_after_reads": 0,
//          "lock_errors": 0, "flash_busy_polls": 0, "flash_protected": false}
void parseFpga(const QJsonObject& node, SimFpgaScenario& f, Refusals& refuse) {
    Members m(node, "fpga", refuse);
    m.number<int>("flash_busy_polls", f.flashBusyPolls, -1, 1000000);
    m.flag("flash_protected", f.flashProtected);
    m.number<uint32_t>("ready_after_reads", f.readyAfterReads, 0, 1000000);
    m.number<uint32_t>("lock_errors", f.lockErrors, 0, 1000000);
    QJsonObject input;
    if (m.object("input", input)) {
        Members in(input, "fpga input", refuse);
        in.number<uint32_t>("width", f.inputWidth, 0, 0xFFFF);
        in.number<uint32_t>("height", f.inputHeight, 0, 0xFFFF);
        in.number<uint32_t>("period", f.inputPeriod, 0, 0xFFFFFFFF);
        in.rest();
    }
    QJsonValue uid;
    if (m.take("flash_uid", uid)) {
        const std::string text = uid.toString().toStdString();
        const bool ok = uid.isString() && text.size() == 16 &&
                        text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (ok) {
            for (size_t i = 0; i < 8; ++i) f.flashUid[i] = uint8_t(std::stoul(text.substr(2 * i, 2), nullptr, 16));
        } else {
            m.refuse("flash_uid", uid);
        }
    }
    m.rest();
}

// The members that give something per output port: {"3": ..., "13": ...}.
// take says whether it took the value; one it did not is refused here.
void perPort(Members& top, const char* member, Refusals& refuse,
             const std::function<bool(size_t port, const QJsonValue&, const std::string& where)>& take) {
    QJsonObject ports;
    if (!top.object(member, ports)) return;
    for (auto it = ports.begin(); it != ports.end(); ++it) {
        const int port = portOf(it.key());
        if (port < 0)
            refuse.key(member, it.key(), it.value());
        else if (!take(size_t(port), it.value(), std::string(member) + " port " + std::to_string(port)))
            refuse.value(member, "key " + shown(it.key()), it.value());
    }
}

// The one JSON value `text` holds (a key with its quotes, a member's value).
QJsonValue valueIn(const QByteArray& text) {
    return QJsonDocument::fromJson("[" + text + "]").array().at(0);
}

// A key on the way to a member: as it is when it is a plain name, else as
// the file writes it, cut as a value is.
std::string pathKey(const QString& key) {
    const bool plain = !key.isEmpty() && key.size() <= 32 && std::all_of(key.begin(), key.end(), [](QChar c) {
        return (c.isLetterOrNumber() && c.unicode() < 0x80) || c == QLatin1Char('_');
    });
    return plain ? key.toStdString() : shown(key);
}

// Qt's reader keeps the last of the members an object gives one key and
// drops the others unsaid (and, for a list or an object, never frees it):
// each member a later one of its key replaces is refused here, named by the
// keys that lead to it and with its value as the file writes it, and the
// text for the reader has that value blanked to a 0 of the same lines, so
// the reader replaces a number. Whatever the text is: a value is blanked
// only where it is one value of JSON, so what the reader refuses it still
// refuses, at the same line.
QByteArray withoutRepeatedMembers(QByteArray text, Refusals& refuse) {
    constexpr size_t kWhereMost = 200;
    struct Level {
        bool object;
        std::string where;
        std::map<QString, std::pair<int, int>> members;  // each key's value: where it stands
        QString key;
        int valueAt = -1;  // where the current member's value starts
        bool wantKey = true;
    };
    std::vector<Level> levels;
    auto endMember = [&](int end) {
        Level& l = levels.back();
        if (!l.object || l.valueAt < 0) return;
        int first = l.valueAt;
        while (first < end && std::isspace(uchar(text[first]))) ++first;
        if (first == end) return;
        const auto same = l.members.find(l.key);
        if (same != l.members.end()) {
            const int from = same->second.first, to = same->second.second;
            const QByteArray earlier = "[" + text.mid(from, to - from) + "]";
            QJsonParseError error{};
            const QJsonArray one = QJsonDocument::fromJson(earlier, &error).array();
            if (error.error == QJsonParseError::NoError && one.size() == 1) {
                refuse.repeated(l.where, l.key, one.at(0));
                for (int k = from; k < to; ++k)
                    if (text[k] != '\n') text[k] = ' ';
                text[from] = '0';
            }
            same->second = {first, end};
        } else {
            l.members.emplace(l.key, std::make_pair(first, end));
        }
        l.valueAt = -1;
    };
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            int end = i + 1;
            while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
            if (!levels.empty() && levels.back().object && levels.back().wantKey) {
                levels.back().key = valueIn(text.mid(i, end - i + 1)).toString();
                levels.back().wantKey = false;
            }
            i = end;
        } else if (c == ':' && !levels.empty()) {
            levels.back().valueAt = i + 1;
        } else if (c == '{' || c == '[') {
            std::string where;
            if (!levels.empty()) {
                const Level& up = levels.back();
                where = up.where;
                // A file nested thousands deep names no more than the
                // first keys: each level keeps its own copy.
                if (up.object && where.size() < kWhereMost) where += (where.empty() ? "" : " ") + pathKey(up.key);
            }
            levels.push_back(Level{c == '{', where, {}, {}, -1, true});
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            endMember(i);
            levels.pop_back();
        } else if (c == ',' && !levels.empty()) {
            endMember(i);
            levels.back().wantKey = true;
        }
    }
    return text;
}

void parseInto(const QJsonObject& tree, SimScenarioData& data, Refusals& refuse) {
    Members top(tree, "", refuse);
    // {"inputs": {"HDMI1": {"width": 1920, "height": 1080, "refresh": 60, ...}}}
    QJsonObject inputs;
    if (top.object("inputs", inputs)) {
        Members named(inputs, "inputs", refuse);
        for (int input = 0; input < 6; ++input) {
            QJsonObject source;
            if (named.object(kInputNames[input], source))
                data.inputs[size_t(input)] = parseSource(source, std::string("input ") + kInputNames[input], refuse);
        }
        named.rest();
    }
    // {"ports": {"0": 4, "13": 2}}: cards behind a port, each with an
    // address of its own below the two broadcast ones.
    perPort(top, "ports", refuse, [&](size_t port, const QJsonValue& v, const std::string&) {
        long long cards = 0;
        if (!whole(v, 0, SimScenarioData::kMaxCards, cards)) return false;
        data.cardsPerPort[port] = uint16_t(cards);
        return true;
    });
    // {"card_identity": {"3": 4660}, "needs_recovery": {"3": [1]}}
    perPort(top, "card_identity", refuse, [&](size_t port, const QJsonValue& v, const std::string&) {
        long long identity = 0;
        if (!whole(v, 0, 0xFFFFFFFF, identity)) return false;
        data.cardIdentity[port] = uint32_t(identity);
        return true;
    });
    perPort(top, "needs_recovery", refuse, [&](size_t port, const QJsonValue& v, const std::string& where) {
        if (!v.isArray()) return false;
        std::vector<uint16_t> cards;
        const QJsonArray list = v.toArray();
        for (int i = 0; i < list.size(); ++i) {
            long long card = 0;
            if (whole(list[i], 0, SimScenarioData::kMaxCards - 1, card))
                cards.push_back(uint16_t(card));
            else
                refuse.entry(where, i, list[i]);
        }
        data.needsRecovery[port] = std::move(cards);
        return true;
    });
    // {"sensors": {"3": {"level": 10, "silent": false, "invalid": false}}}
    perPort(top, "sensors", refuse, [&](size_t port, const QJsonValue& v, const std::string& where) {
        if (!v.isObject()) return false;
        const QJsonObject fields = v.toObject();
        Members m(fields, where, refuse);
        SimSensor s;
        s.present = true;
        m.number<uint8_t>("level", s.level, 1, 16);
        m.flag("silent", s.silent);
        m.flag("invalid", s.invalid);
        m.rest();
        data.sensors[port] = s;
        return true;
    });
    // {"slow_replies": {"13": {"command": 160, "ms": 1100}}}, without
    // "command" for every reply.
    perPort(top, "slow_replies", refuse, [&](size_t port, const QJsonValue& v, const std::string& where) {
        if (!v.isObject()) return false;
        const QJsonObject fields = v.toObject();
        Members m(fields, where, refuse);
        SimSlowReply slow{SimSlowReply::kEvery, 0};
        m.number<int>("command", slow.command, 0, 255);
        m.number<uint32_t>("ms", slow.ms, 0, SimSlowReply::kMaxMs);
        m.rest();
        data.slowReplies[port] = slow;
        return true;
    });
    top.flag("c331_flash_protected", data.c331FlashProtected);
    QJsonValue fonts;
    if (top.take("c331_fonts", fonts)) {
        if (!fonts.isArray()) {
            top.refuse("c331_fonts", fonts);
        } else {
            std::vector<std::string> names;
            const QJsonArray list = fonts.toArray();
            for (int i = 0; i < list.size(); ++i) {
                const std::string name = list[i].toString().toStdString();
                const bool known = name == "ascii32" || name == "cjk32" || name == "ascii64" || name == "cjk64";
                if (list[i].isString() && known)
                    names.push_back(name);
                else
                    refuse.entry("c331_fonts", i, list[i]);
            }
            data.c331Fonts = std::move(names);
        }
    }
    // {"soc_id": [4660, 22136, 39612]}: a word refused keeps its own value.
    QJsonValue soc;
    if (top.take("soc_id", soc)) {
        if (!soc.isArray() || soc.toArray().size() != 3) {
            top.refuse("soc_id", soc);
        } else {
            const QJsonArray words = soc.toArray();
            for (int i = 0; i < 3; ++i) {
                long long word = 0;
                if (whole(words[i], 0, 0xFFFF, word))
                    data.socIdWords[size_t(i)] = uint16_t(word);
                else
                    refuse.value("soc_id", "entry " + std::to_string(i), words[i]);
            }
        }
    }
    QJsonObject fpga;
    if (top.object("fpga", fpga)) parseFpga(fpga, data.fpga, refuse);
    top.rest();
}

}  // namespace

const char* SimScenario::inputName(int input) { return input >= 0 && input < 6 ? kInputNames[input] : ""; }

int SimScenario::inputByName(const std::string& name) {
    for (int i = 0; i < 6; ++i)
        if (name == kInputNames[i]) return i;
    return -1;
}

bool SimScenario::loadFile(const std::string& hostPath) {
    // Each of its lines, however many: the file is the operator's, read
    // once at the start.
    const LogWhole whole;
    // Read as every stored file is: never waiting on a FIFO, only a regular
    // file, and never more than a scenario's largest.
    QByteArray text;
    const FileOps::FileRead read = FileOps::readFileOnHost(hostPath, text, kFileMax);
    std::string why;
    if (read.outcome == FileOps::FileRead::Missing) {
        struct stat st {};
        why = ::lstat(hostPath.c_str(), &st) == 0 ? "cannot be read: a link to nothing there"
                                                   : "cannot be read: there is no such file";
    } else if (!read) {
        why = "cannot be read: " + read.why;
    } else if (loadJson(text.toStdString(), &why)) {
        for (const std::string& refused : warnings()) writeLogMsg(WARNING, "board scenario " + hostPath + ": " + refused);
        return true;
    }
    writeLogMsg(ERROR, "board scenario " + hostPath + " " + why + "; the defaults serve");
    return false;
}

bool SimScenario::loadJson(const std::string& json, std::string* why) {
    // Qt's reader keeps each value's kind (the property tree keeps every
    // value as text), so a count given as "four" or a flag given as 1 is
    // told apart from the number or the truth value the member takes.
    const QByteArray text = QByteArray::fromStdString(json);
    std::vector<std::string> refusals;
    Refusals refuse(refusals);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(withoutRepeatedMembers(text, refuse), &error);
    if (error.error != QJsonParseError::NoError) {
        if (why) *why = "is not JSON: line " + std::to_string(text.left(error.offset).count('\n') + 1) + ": " +
                        error.errorString().toStdString();
        return false;
    }
    if (!doc.isObject()) {
        if (why) *why = "is not a scenario: a list, not an object of members";
        return false;
    }
    SimScenarioData data = snapshot();
    parseInto(doc.object(), data, refuse);
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

#include "core/JsonParse.h"

#include "core/file_checks.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QMutexLocker>

#include <boost/optional.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sys/stat.h>

#include <mutex>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

// Parses the text after the shape check; false when the parser refuses it.
bool parseAlias(const QByteArray& text, pt::ptree& root) {
    if (text.size() > FileCheck::kAliasMax || !FileCheck::jsonNestingWithin(text, FileCheck::kJsonDepth))
        return false;
    try {
        std::istringstream in(text.toStdString());
        pt::read_json(in, root);
    } catch (const pt::ptree_error& e) {
        debugPrintf("json error: %s", e.what());
        return false;
    }
    return true;
}

// The parsed file and what it was parsed from. Guarded by g_aliasMutex; the
// panel reads names from the GUI thread, the protocol marks changes from its
// link threads.
struct AliasCache {
    bool valid = false;   // root reflects the file as identified below
    bool present = false; // the file existed and parsed
    std::string host;  // the file's place (the root may change between runs)
    struct stat id {};
    pt::ptree root;
};
std::mutex g_aliasMutex;
AliasCache g_alias;
unsigned g_aliasParses = 0;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Brings the cache up to date with the file; caller holds g_aliasMutex.
void refreshAlias() {
    struct stat now {};
    const std::string host = Root::path(kAliasFile);
    if (::stat(host.c_str(), &now) != 0) {
        g_alias = AliasCache{};  // no file: built-in names until one comes
        return;
    }
    if (g_alias.valid && g_alias.present && g_alias.host == host && sameFile(g_alias.id, now)) return;

    g_alias = AliasCache{};
    QByteArray text;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        // Never read a file that big into memory: it is not an alias file.
        if (now.st_size > FileCheck::kAliasMax) {
            FileCheck::discard(kAliasFile, "larger than 64 KiB");
            return;
        }
        if (!FileOps::readFile(kAliasFile, text)) return;  // tried again next time
    }
    ++g_aliasParses;
    if (!parseAlias(text, g_alias.root)) {
        // Unusable as a whole: remove it so the built-in names show until
        // the PC uploads a new one, and so no start trips over it again.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileCheck::discard(kAliasFile, "not a well-formed alias file");
        g_alias = AliasCache{};
        return;
    }
    g_alias.valid = true;
    g_alias.present = true;
    g_alias.host = host;
    g_alias.id = now;
}

}  // namespace

void alias_file_changed() {
    std::lock_guard<std::mutex> lock(g_aliasMutex);
    g_alias.valid = false;
}

unsigned alias_file_parses() {
    std::lock_guard<std::mutex> lock(g_aliasMutex);
    return g_aliasParses;
}

int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id) {
    if (!out) return 0;
    std::lock_guard<std::mutex> lock(g_aliasMutex);
    refreshAlias();
    if (!g_alias.present) return 0;

    const boost::optional<const pt::ptree&> namelist = static_cast<const pt::ptree&>(g_alias.root).get_child_optional("namelist");
    if (!namelist) return 0;
    for (const auto& k : *namelist) {
        if (k.first != kind) continue;
        for (const auto& element : k.second) {
            // An element the PC got wrong hides only itself, not the file.
            const boost::optional<int> eid = element.second.get_optional<int>("id");
            if (!eid || *eid != id) continue;
            const boost::optional<std::string> valid = element.second.get_optional<std::string>("valid");
            const boost::optional<std::string> name = element.second.get_optional<std::string>("name");
            if (!valid || !name) continue;
            out->id = *eid;
            out->valid = *valid;
            out->name = *name;
            return (out->valid != "off" && !out->name.empty()) ? 1 : 0;
        }
        return 0;
    }
    return 0;
}

namespace {

// Boost's tree keeps the members of an object under their names and the
// elements of an array under empty names; a text value has no children.
bool isObject(const pt::ptree& t) {
    for (const auto& c : t)
        if (c.first.empty()) return false;
    return true;
}
bool isArray(const pt::ptree& t) {
    for (const auto& c : t)
        if (!c.first.empty()) return false;
    return true;  // an empty array reads like an empty text: both are no names
}
bool isText(const boost::optional<const pt::ptree&>& t) { return t && t->empty(); }

// The reason text is not an alias file; empty when it is one.
std::string aliasShapeFault(const std::string& text) {
    pt::ptree root;
    if (!parseAlias(QByteArray::fromStdString(text), root))
        return "not JSON of at most 64 KiB nested at most " + std::to_string(FileCheck::kJsonDepth) + " deep";
    const pt::ptree& whole = root;
    const boost::optional<const pt::ptree&> namelist = whole.get_child_optional("namelist");
    if (!namelist || !isObject(*namelist)) return "no \"namelist\" object";
    for (const auto& kind : *namelist) {
        if (!isArray(kind.second)) return "\"" + kind.first + "\" is not an array";
        int index = 0;
        for (const auto& element : kind.second) {
            const pt::ptree& e = element.second;
            if (!isText(e.get_child_optional("id")) || !e.get_optional<int>("id") ||
                !isText(e.get_child_optional("valid")) || !isText(e.get_child_optional("name")))
                return "element " + std::to_string(index) + " of \"" + kind.first +
                       "\" needs a numeric \"id\", a \"valid\" and a \"name\"";
            ++index;
        }
    }
    return {};
}

}  // namespace

bool alias_file_well_formed(const std::string& text, std::string* why) {
    const std::string fault = aliasShapeFault(text);
    if (why) *why = fault;
    return fault.empty();
}

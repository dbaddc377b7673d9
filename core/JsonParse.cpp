#include "core/JsonParse.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/fileops.h"

#include <QMutexLocker>

#include <boost/optional.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sstream>

namespace pt = boost::property_tree;

int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id) {
    if (!out) return 0;
    QByteArray text;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        if (!FileOps::readFile(kAliasFile, text)) return 0;
    }

    pt::ptree root;
    try {
        std::istringstream in(text.toStdString());
        pt::read_json(in, root);
    } catch (const pt::json_parser_error& e) {
        // Unreadable as a whole: remove it so the built-in names show until
        // the PC uploads a new one.
        debugPrintf("json error: %s", e.what());
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileOps::removePath(kAliasFile);
        FileOps::syncAll();
        return 0;
    }

    const boost::optional<pt::ptree&> namelist = root.get_child_optional("namelist");
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
    try {
        std::istringstream in(text);
        pt::read_json(in, root);
    } catch (const pt::json_parser_error& e) {
        return std::string("not JSON: ") + e.what();
    }
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

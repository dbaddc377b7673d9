#include "core/JsonParse.h"

#include "core/file_checks.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/fileops.h"

#include <QMutexLocker>

#include <boost/optional.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

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
}  // namespace

bool alias_file_ok(const QByteArray& text) {
    pt::ptree root;
    return parseAlias(text, root);
}

int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id) {
    if (!out) return 0;
    QByteArray text;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        const long long size = FileCheck::fileSize(kAliasFile);
        if (size < 0) return 0;
        // Never read a file that big into memory: it is not an alias file.
        if (size > FileCheck::kAliasMax) {
            FileCheck::discard(kAliasFile, "larger than 64 KiB");
            return 0;
        }
        if (!FileOps::readFile(kAliasFile, text)) return 0;
    }

    pt::ptree root;
    if (!parseAlias(text, root)) {
        // Unusable as a whole: remove it so the built-in names show until
        // the PC uploads a new one, and so no start trips over it again.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileCheck::discard(kAliasFile, "not a well-formed alias file");
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

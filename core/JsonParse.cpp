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

#include <functional>
#include <mutex>
#include <set>
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
        const FileOps::FileRead read = FileOps::readFile(kAliasFile, text, FileCheck::kAliasMax);
        // A read that failed is tried again at the next look-up, which a PC
        // may cause as often as it asks: the log's limit of the place keeps
        // it to a few lines.
        if (read.outcome != FileOps::FileRead::Missing && !read)
            FileCheck::notTaken(FileCheck::Checked::AliasNames, kAliasFile, read);
        if (!read) return;
    }
    ++g_aliasParses;
    if (!parseAlias(text, g_alias.root)) {
        // Unusable as a whole: kept aside so the built-in names show until
        // the PC uploads a new one, and so no start trips over it again.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FileCheck::keepAside(FileCheck::Checked::AliasNames, kAliasFile, "not a well-formed alias file");
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

namespace {

// Boost's tree keeps the members of an object under their names and the
// elements of an array under empty names; a text or a number has no
// children but a value. The walk goes through the children as they are: a
// text or a number has none, so it is walked as empty, and an object's
// members are walked in order as an array's elements are.

// What the walk does with an element once it has read its id.
enum class Visit { Pass, Read, ReadAndStop };

struct Walk {
    std::string fault;  // why a look-up that went this way refuses the file
    bool found = false; // an element was read and the walk stopped there
    ALIAS_PARA entry;
};

// The one way through the file that a look-up takes: "namelist", its first
// member named kind, that kind's elements in order, each one's "id" (a
// number or a numeric string) and, for the elements `visit` asks for,
// "valid" and "name" (their text; an object or an array reads as an empty
// one). Members of other kinds and the entries of elements not asked for
// are never looked at.
Walk walkKind(const pt::ptree& root, const std::string& kind, const std::function<Visit(int)>& visit) {
    Walk w;
    const boost::optional<const pt::ptree&> namelist = root.get_child_optional("namelist");
    if (!namelist) {
        w.fault = "no \"namelist\"";
        return w;
    }
    for (const auto& k : *namelist) {
        if (k.first != kind) continue;
        int index = 0;
        for (const auto& element : k.second) {
            const pt::ptree& e = element.second;
            const boost::optional<int> id = e.get_optional<int>("id");
            if (!id) {
                w.fault = "element " + std::to_string(index) + " of \"" + kind + "\" has no numeric \"id\"";
                return w;
            }
            const Visit v = visit(*id);
            if (v != Visit::Pass) {
                const boost::optional<const pt::ptree&> valid = e.get_child_optional("valid");
                const boost::optional<const pt::ptree&> name = e.get_child_optional("name");
                if (!valid || !name) {
                    w.fault = "element " + std::to_string(index) + " of \"" + kind + "\" lacks \"valid\" or \"name\"";
                    return w;
                }
                if (v == Visit::ReadAndStop) {
                    w.found = true;
                    w.entry.id = *id;
                    w.entry.valid = valid->data();
                    w.entry.name = name->data();
                    return w;
                }
            }
            ++index;
        }
        return w;  // only the first member of that name counts
    }
    return w;
}

// Keeps the alias file aside after a look-up found it broken, unless another
// one has taken its place since it was parsed; caller holds g_aliasMutex.
void refuseParsed(const std::string& why) {
    debugPrintf("json error: %s", why.c_str());
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        struct stat now {};
        if (::stat(Root::path(kAliasFile).c_str(), &now) == 0 && sameFile(g_alias.id, now))
            FileCheck::keepAside(FileCheck::Checked::AliasNames, kAliasFile, why);
    }
    g_alias = AliasCache{};
}

}  // namespace

int get_json_alias_para(ALIAS_PARA* out, std::string kind, int id) {
    if (!out) return 0;
    std::lock_guard<std::mutex> lock(g_aliasMutex);
    refreshAlias();
    if (!g_alias.present) return 0;
    const Walk w = walkKind(g_alias.root, kind, [id](int e) { return e == id ? Visit::ReadAndStop : Visit::Pass; });
    if (!w.fault.empty()) {
        // The built-in names show until the PC uploads a usable file.
        refuseParsed(w.fault);
        return 0;
    }
    if (!w.found) return 0;
    *out = w.entry;
    return (out->valid != "off" && !out->name.empty()) ? 1 : 0;
}

bool alias_file_well_formed(const std::string& text, std::string* why) {
    std::string fault;
    pt::ptree root;
    if (!parseAlias(QByteArray::fromStdString(text), root)) {
        fault = "not JSON of at most 64 KiB nested at most " + std::to_string(FileCheck::kJsonDepth) + " deep";
    } else {
        // Some look-up reads the entry of the first element of each id, and
        // a look-up of an id the file lacks reads every id of its kind.
        for (const char* kind : kAliasKinds) {
            std::set<int> seen;
            fault = walkKind(root, kind, [&seen](int e) { return seen.insert(e).second ? Visit::Read : Visit::Pass; })
                        .fault;
            if (!fault.empty()) break;
        }
    }
    if (why) *why = fault;
    return fault.empty();
}

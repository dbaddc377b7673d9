#include "ui/shell/page_registry.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/shell/page_frame.h"

#include <QDialog>

#include <map>
#include <vector>

namespace {

struct Entry {
    QPointer<QObject> page;
    PageOps ops;
};

std::map<int, Entry>& entries() {
    static std::map<int, Entry> m;
    return m;
}

std::map<int, PageRegistry::Opener>& openers() {
    static std::map<int, PageRegistry::Opener> m;
    return m;
}

bool s_blocking = true;

// The entry of an open page, or null when the id is free or its page is gone.
Entry* openEntry(int id) {
    auto it = entries().find(id);
    if (it == entries().end()) return nullptr;
    if (!it->second.page) {
        entries().erase(it);
        return nullptr;
    }
    return &it->second;
}

}  // namespace

void PageRegistry::enter(int id, QObject* page, const PageOps& ops) {
    if (!page) return;
    entries()[id] = Entry{page, ops};
}

void PageRegistry::leave(int id, QObject* page) {
    auto it = entries().find(id);
    if (it == entries().end()) return;
    if (page && it->second.page && it->second.page != page) return;
    entries().erase(it);
}

bool PageRegistry::isOpen(int id) { return openEntry(id) != nullptr; }

QObject* PageRegistry::page(int id) {
    Entry* e = openEntry(id);
    return e ? e->page.data() : nullptr;
}

bool PageRegistry::refresh(int id, int code) {
    Entry* e = openEntry(id);
    if (!e || !e->ops.refresh) return false;
    // A copy: the refresh may close the page and drop its entry.
    auto fn = e->ops.refresh;
    fn(code);
    return true;
}

bool PageRegistry::back(int id) {
    Entry* e = openEntry(id);
    if (!e || !e->ops.back) return false;
    auto fn = e->ops.back;
    fn();
    return true;
}

void PageRegistry::agelogUpdated() {
    std::vector<std::function<void()>> calls;
    for (auto it = entries().begin(); it != entries().end(); ++it)
        if (it->second.page && it->second.ops.agelog) calls.push_back(it->second.ops.agelog);
    for (auto& fn : calls) fn();
}

void PageRegistry::setOpener(int id, Opener opener) {
    if (opener)
        openers()[id] = std::move(opener);
    else
        openers().erase(id);
}

bool PageRegistry::hasOpener(int id) { return openers().count(id) != 0; }

bool PageRegistry::open(int id) {
    auto it = openers().find(id);
    if (it == openers().end()) return false;
    auto fn = it->second;
    fn();
    return true;
}

bool PageRegistry::modelReady() { return ZrvRamPara::p_zrvrampara_config != nullptr; }

void PageRegistry::setFocus(int id) { g_page_focus = u8(id); }

void PageRegistry::runDialog(QDialog* dialog) {
    if (!dialog) return;
    PageFrame::coverPanel(dialog);
    if (s_blocking) {
        dialog->exec();
    } else {
        dialog->setModal(true);
        dialog->show();
    }
}

void PageRegistry::setDialogsBlocking(bool blocking) { s_blocking = blocking; }
bool PageRegistry::dialogsBlocking() { return s_blocking; }

void PageRegistry::reset() {
    entries().clear();
    openers().clear();
}

#include "ui/service/service_pages.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/service/linkoption.h"
#include "ui/service/test_chart.h"
#include "ui/shell/page_registry.h"

#include <QWidget>

namespace ServicePages {

namespace {

// The page without parent, its global, the page id in front, then the page
// runs over the panel.
template <class Page>
void openPage(QPointer<Page>& global, int id) {
    if (!ZrvRamPara::p_zrvrampara_config) return;
    auto* page = new Page(nullptr);
    global = page;
    g_page_focus = u8(id);
    PageRegistry::runDialog(page);
}

}  // namespace

void install() {
    PageRegistry::setOpener(PageRegistry::Communication, [] { openPage(g_linkoption, PageRegistry::Communication); });
    PageRegistry::setOpener(PageRegistry::TestPattern, [] { openPage(g_test_chart, PageRegistry::TestPattern); });
}

QFont pointFont(const QWidget* w, int pt) {
    QFont f = w->font();
    f.setPointSize(pt);
    return f;
}

}  // namespace ServicePages

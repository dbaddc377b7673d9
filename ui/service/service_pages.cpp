#include "ui/service/service_pages.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/service/advancedoption.h"
#include "ui/service/linkoption.h"
#include "ui/service/smartmapping.h"
#include "ui/service/test_chart.h"
#include "ui/shell/page_registry.h"

#include <QPushButton>
#include <QWidget>

namespace ServicePages {

void install() {
    PageRegistry::setPageOpener(PageRegistry::Communication, g_linkoption);
    PageRegistry::setPageOpener(PageRegistry::TestPattern, g_test_chart);
    PageRegistry::setPageOpener(PageRegistry::Advanced, g_advancedoption);
    PageRegistry::setPageOpener(PageRegistry::Wizard, g_smartmapping);
}

QFont pointFont(const QWidget* w, int pt) {
    QFont f = w->font();
    f.setPointSize(pt);
    return f;
}

QPushButton* addButton(QWidget* parent, const char* name, const QRect& where, int pt, const char* style) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(where);
    b->setFont(pointFont(parent, pt));
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QString::fromLatin1(style));
    return b;
}

}  // namespace ServicePages

#include "ui/shell/page_view.h"

namespace PageView {

namespace {
const ImageView* g_refreshing = nullptr;
}  // namespace

ImageView get() { return g_refreshing ? *g_refreshing : ImageView::take(); }

Refresh::Refresh(const ImageView& view) : m_previous(g_refreshing) { g_refreshing = &view; }

Refresh::~Refresh() { g_refreshing = m_previous; }

}  // namespace PageView

#pragma once
// The parameter model as the pages read it (GUI thread only). A page never
// touches the model's image or slots itself: it reads an ImageView got here
// and edits through editImage.
#include "core/image_view.h"

namespace PageView {

// What the page reads now: while the refresh dispatcher refreshes the page
// in front, the view it took before the page looked (the image the
// persisting step then stores as the shadow, so the page compares exactly
// what will be stored); at any other time (a page opening, a button) one
// taken now. A page takes one per turn and hands it down to what it calls.
ImageView get();

// Held by the refresh dispatcher while the page in front refreshes.
class Refresh {
public:
    explicit Refresh(const ImageView& view);
    ~Refresh();
    Refresh(const Refresh&) = delete;
    Refresh& operator=(const Refresh&) = delete;

private:
    const ImageView* m_previous;
};

}  // namespace PageView

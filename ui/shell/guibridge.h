#pragma once
// The one road from worker threads into the front panel. Widgets live in the
// GUI thread; a worker that wants a page closed, the updating screen shown or
// the progress overlay moved posts the call here and the GUI thread runs it
// at its next event-loop pass. Called from the GUI thread itself, the call
// runs at once.
#include <functional>

namespace GuiBridge {

bool inGuiThread();

// Runs fn in the GUI thread.
void post(std::function<void()> fn);

// The back operation of page id, when that page is still open by the time
// the GUI thread gets to it (a page closed meanwhile is left alone).
void pageBack(int id);
// Any other call into page id under the same rule.
void pageCall(int id, std::function<void()> fn);

// The value of the round progress overlay, when one is up.
void progress(int value);

// The full-screen updating screen of an upgrade.
void updateStart();
void updateOver();

}  // namespace GuiBridge

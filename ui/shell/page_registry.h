#pragma once
// The pages the shell knows about. A page enters with its id, its refresh and
// its back operation when it opens and leaves when it closes (or is
// destroyed); the refresh dispatcher, the idle return and the menu openers
// reach pages only through here, so nothing ever calls a page that is closed
// and the shell runs whether the pages of the other front-panel parts exist
// or not. GUI thread only; worker threads go through GuiBridge.
#include <QObject>
#include <QPointer>

#include <functional>

class QDialog;

struct PageOps {
    std::function<void(int code)> refresh;  // after every change signal
    std::function<void()> back;             // the page's back button
    std::function<void()> agelog;           // new ageing sample (advanced page)
};

class PageRegistry {
public:
    // Page ids of g_page_focus.
    enum Id {
        Home = 0, MainMenu = 1, DeviceInfo = 2, SourceSelect = 3, UserModes = 4,
        Settings = 5, Output = 6, Crop = 7, Edid = 8, ImageLayout = 9,
        Communication = 10, ImageQuality = 11, Advanced = 12, TestPattern = 16,
        Wizard = 24
    };

    // The page is open. A page already registered under the id is replaced.
    static void enter(int id, QObject* page, const PageOps& ops);
    // The page is closed; only the entry of that very page is removed (null:
    // whichever page holds the id).
    static void leave(int id, QObject* page = nullptr);
    static bool isOpen(int id);
    static QObject* page(int id);

    // Run the page's refresh / back when the page is open; false otherwise.
    static bool refresh(int id, int code);
    static bool back(int id);
    // A new ageing sample was taken: every open page that follows the log.
    static void agelogUpdated();

    // Openers: the function that creates, shows and runs the page of an id.
    // The page modules install theirs at start-up; an id without one opens
    // nothing.
    using Opener = std::function<void()>;
    static void setOpener(int id, Opener opener);
    // The opener of a page class: the page without parent, kept in its
    // global, its id in front, then it runs over the panel. Nothing opens
    // while there is no parameter model.
    template <class Page>
    static void setPageOpener(int id, QPointer<Page>& global) {
        setOpener(id, [id, &global] {
            if (!modelReady()) return;
            auto* page = new Page(nullptr);
            global = page;
            setFocus(id);
            runDialog(page);
        });
    }
    static bool hasOpener(int id);
    static bool open(int id);

    // Runs a page dialog over the panel: exec() on the device. Tests switch to show() so
    // that no test blocks in a nested event loop.
    static void runDialog(QDialog* dialog);
    static void setDialogsBlocking(bool blocking);
    static bool dialogsBlocking();

    static bool modelReady();
    static void setFocus(int id);

    // Forgets every entry and opener (tests).
    static void reset();
};

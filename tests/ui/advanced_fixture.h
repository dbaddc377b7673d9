#pragma once
// The advanced dialog on the service fixture: opened from the settings menu,
// with helpers to read its pictures and to let the dispatcher run.
#include "service_fixture.h"

#include "ui/service/advancedoption.h"
#include "ui/service/ui_advancedoption.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

#include <ostream>

// Texts in failure messages as text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class AdvancedTest : public ServiceTest {
protected:
    void TearDown() override {
        delete g_advancedoption.data();
        ServiceTest::TearDown();
    }
    AdvancedOption* openAdvanced() {
        g_page_focus = PageRegistry::Settings;
        PageRegistry::open(PageRegistry::Advanced);
        return g_advancedoption.data();
    }
    static QImage image(const QString& name) { return QIcon(ShellText::picture(name)).pixmap(32, 32).toImage(); }
    // Which of the pictures a button shows.
    static QString iconOf(QAbstractButton* b, const QStringList& names) {
        const QImage shown = b->icon().pixmap(32, 32).toImage();
        for (const QString& n : names)
            if (shown == image(n)) return n;
        return QStringLiteral("?");
    }
    static QString radio(QAbstractButton* b) { return iconOf(b, {"checked.png", "unchecked.png"}); }
    static QString toggle(QAbstractButton* b) { return iconOf(b, {"button_on.png", "button_off.png"}); }
    static QString markOf(QLabel* l) {
        const QImage shown = l->pixmap(Qt::ReturnByValue).toImage();
        for (const char* n : {"osd_yes.bmp", "osd_no.bmp"})
            if (shown == QPixmap(ShellText::picture(QString::fromLatin1(n))).toImage()) return QString::fromLatin1(n);
        return QStringLiteral("?");
    }
    // What the c331 thread would do after an edit: take the change and
    // signal it; then the dispatcher refreshes the page and persists.
    void applied() {
        c331_manage::get()->apply_flag = 0;
        model->test_signal(1);
        settle();
    }
    void settle() {
        QTRY_VERIFY_WITH_TIMEOUT(SyncUpdate::pInstance()->pendingCodes().empty(), kThreadWorkMs);
        QApplication::processEvents();
    }
    u8 persisted(u32 imageByte) {
        const std::string f = readHostFile(hostPath(ZrvFiles::RAM_DEVICE_INFO));
        const size_t at = imageByte - RamOffset::PERSIST_BEGIN + RamFile::DATA_OFFSET;
        return at < f.size() ? u8(f[at]) : 0xEE;
    }
    PARA_RAM_IMAGE& live() { return model->live_image; }
    u8 applyFlag() { return c331_manage::get()->apply_flag.load(); }
};

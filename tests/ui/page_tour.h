#pragma once
// The tour of the panel's pages: every page is opened offscreen in each
// language, saved as a picture under the build folder ("tour/") and checked
// for texts that do not fit their widgets or are drawn much smaller than the
// page's own font (a text shrunk to fit a widget's size before it had its
// final one). Shared by the tours of all pages.
#include "shell_fixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>

inline QString tourFolder() {
#ifdef ZRV_BUILD_DIR
    return QStringLiteral(ZRV_BUILD_DIR "/tour");
#else
    return QDir::currentPath() + "/tour";
#endif
}

// Widest line of a text in a font.
inline int textWidth(const QFont& font, const QString& text) {
    const QFontMetrics fm(font);
    int w = 0;
    for (const QString& line : text.split('\n')) w = std::max(w, fm.horizontalAdvance(line));
    return w;
}

// Texts of root and its children that do not fit their widget.
inline QStringList overflowing(QWidget* root) {
    QStringList bad;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(root) && w != root) continue;
        w->ensurePolished();
        const QString where = w->objectName() + ": ";
        if (auto* l = qobject_cast<QLabel*>(w)) {
            if (l->text().isEmpty()) continue;
            QString text = l->text();
            if (Qt::mightBeRichText(text)) {
                QTextDocument doc;
                doc.setDefaultFont(l->font());
                doc.setHtml(text);
                text = doc.toPlainText();
            }
            const QRect r = l->contentsRect();
            if (l->wordWrap()) {
                const QRect need = QFontMetrics(l->font()).boundingRect(r, Qt::TextWordWrap, text);
                if (need.height() > r.height()) bad << where + text;
            } else if (textWidth(l->font(), text) > r.width()) {
                bad << where + text;
            }
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (b->text().isEmpty()) continue;
            const int text = textWidth(b->font(), b->text());
            int need = text + 8;
            auto* tb = qobject_cast<QToolButton*>(b);
            const bool under = tb && tb->toolButtonStyle() == Qt::ToolButtonTextUnderIcon;
            if (!b->icon().isNull() && !under) need += b->iconSize().width() + 6;
            if (need > b->width()) bad << where + b->text();
            if (under) {
                const int height = b->iconSize().height() + QFontMetrics(b->font()).height() + 8;
                if (height > b->height()) bad << where + b->text() + " (height)";
            }
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (textWidth(e->font(), e->text()) + 8 > e->width()) bad << where + e->text();
        }
    }
    return bad;
}

// Texts of root's shown children drawn under two thirds of root's font
// size (under 11.3 px on a 17 px page), but for the widgets named in
// smallByDesign, whose form gives them a small font on purpose.
inline QStringList shrunken(QWidget* root, const QStringList& smallByDesign) {
    QStringList bad;
    const int page = QFontInfo(root->font()).pixelSize();
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root) || smallByDesign.contains(w->objectName())) continue;
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            text = e->text();
        if (text.isEmpty()) continue;
        w->ensurePolished();
        const int size = QFontInfo(w->font()).pixelSize();
        if (3 * size < 2 * page) bad << QStringLiteral("%1: %2 (%3 px of %4)").arg(w->objectName(), text).arg(size).arg(page);
    }
    return bad;
}

class TourTest : public ShellTest {
protected:
    // A page takes the panel's place (the main menu's position and size) and
    // has no frame; a smaller window (the keypad) lies on the panel.
    void visit(QWidget* page, const QString& name, int lang, bool wholePanel = true,
               const QStringList& smallByDesign = {}) {
        ASSERT_TRUE(page) << name.toStdString();
        const QRect panel(g_mainwindow->pos(), g_mainwindow->size());
        if (wholePanel)
            EXPECT_EQ(page->geometry(), panel) << name.toStdString();
        else
            EXPECT_TRUE(panel.contains(page->geometry())) << name.toStdString();
        EXPECT_TRUE(page->windowFlags() & Qt::FramelessWindowHint) << name.toStdString();
        QDir().mkpath(tourFolder());
        const QString file = QStringLiteral("%1/%2_lang%3.png").arg(tourFolder(), name).arg(lang);
        EXPECT_TRUE(page->grab().save(file)) << file.toStdString();
        const QStringList bad = overflowing(page);
        EXPECT_TRUE(bad.isEmpty()) << name.toStdString() << " in language " << lang << ": "
                                   << bad.join(" | ").toStdString();
        const QStringList small = shrunken(page, smallByDesign);
        EXPECT_TRUE(small.isEmpty()) << name.toStdString() << " in language " << lang << ": "
                                     << small.join(" | ").toStdString();
    }
};

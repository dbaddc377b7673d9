#include "ui/shell/shell_text.h"

#include <QApplication>
#include <QFont>

// The pictures are compiled into the program's library; a static library
// keeps them only when something names them.
static void initPictures() { Q_INIT_RESOURCE(panel); }

namespace ShellText {

int language(int raw) { return (raw >= 0 && raw <= 4) ? raw : 1; }

int language() { return language(int(g_language.load())); }

QString pick(const char* zh, const char* en, const char* ru, const char* vn, const char* tw) {
    switch (language()) {
    case 0: return QString::fromUtf8(zh);
    case 2: return QString::fromUtf8(ru);
    case 3: return QString::fromUtf8(vn);
    case 4: return QString::fromUtf8(tw);
    default: return QString::fromUtf8(en);
    }
}

QString picturePrefix() {
    static const char* const prefixes[] = {"", "en_", "ru_", "vn_", "tn_"};
    return QString::fromLatin1(prefixes[language()]);
}

QString picture(const QString& name, bool localized) {
    return QStringLiteral(":/png/") + (localized ? picturePrefix() : QString()) + name;
}

QString fontFamily() { return QStringLiteral("DejaVu Sans"); }

void installFont() {
    initPictures();
    // DejaVu Sans carries Latin, Cyrillic and the Vietnamese marks; the
    // Chinese glyphs come from Noto Sans CJK through the substitution.
    QFont::insertSubstitutions(fontFamily(), {QStringLiteral("Noto Sans CJK SC"),
                                              QStringLiteral("Noto Sans CJK TC")});
    if (qApp) {
        QFont font(fontFamily());
        font.setPixelSize(16);
        QApplication::setFont(font);
    }
}

QString inputName(int input) {
    static const char* const names[] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
    if (input < 0 || input > 5) return QString();
    return QString::fromLatin1(names[input]);
}

}  // namespace ShellText

#include "ui/settings/input_entries.h"

#include "core/JsonParse.h"
#include "core/image_view.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/shell_text.h"

#include <QFontMetrics>

#include <algorithm>

namespace InputEntries {

int count(const ImageView& view, int input) {
    if (input < 0 || input >= ZRV_INPUT_COUNT) return 0;
    return view.cropCount(input) + 1;
}

int lastPage(int count) { return count <= 0 ? 0 : (count - 1) / kPerPage; }

int shownOnPage(int count, int page) {
    const int rest = count - kPerPage * page;
    return rest <= 0 ? 0 : std::min(rest, kPerPage);
}

int usedEntry(const PARA_RAM_IMAGE& image, int record) {
    using namespace RamOffset;
    if (record < 0 || record >= int(CROP_COUNT)) return -1;
    const u16 id = image.word(crop(u32(record)) + CROP_ID);
    if (!(id & 0x8000)) return -1;
    const int number = (id >> 8) & 0x7F;
    int entry = 1;
    for (u32 r = 0; r < CROP_COUNT; ++r) {
        const u16 other = image.word(crop(r) + CROP_ID);
        if ((other & 0x8000) && (other & 0xFF) == (id & 0xFF) && ((other >> 8) & 0x7F) < number) ++entry;
    }
    return entry;
}

QString signalText(int input) {
    const SIGNAL_PARA s = LockWindow::readSignal(input);
    if (s.width == 0 || s.height == 0 || s.rate == 0)
        return ShellText::pick("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號");
    return QStringLiteral("%1x%2@%3Hz").arg(s.width).arg(s.height).arg(s.rate);
}

QString entryPicture(int input) { return ShellText::picture(input == 1 ? "DVI.png" : "HDMI.png"); }

}  // namespace InputEntries

namespace SourceNames {

namespace {
QString alias(const char* kind, int id, const QFont& font, int width) {
    ALIAS_PARA a;
    if (get_json_alias_para(&a, kind, id) != 1) return QString();
    return QFontMetrics(font).elidedText(QString::fromStdString(a.name), Qt::ElideRight, width,
                                         Qt::TextShowMnemonic);
}
}  // namespace

QString input(int input, const QFont& font, int width) {
    const QString named = alias("source", input, font, width);
    return named.isEmpty() ? ShellText::inputName(input) : named;
}

QString crop(int record, int input, int number, const QFont& font, int width) {
    if (record >= 0 && record < int(RamOffset::CROP_COUNT)) {
        const QString named = alias("crop", record, font, width);
        if (!named.isEmpty()) return named;
    }
    QString name = ShellText::inputName(input) + QStringLiteral("_crop");
    if (number > 0) name += QString::number(number);
    return name;
}

QString windowInput(const ImageView& view, int window) {
    const int input = view.windowInput(window);
    return input >= 0 && input < ZRV_INPUT_COUNT ? ShellText::inputName(input) : QString();
}

}  // namespace SourceNames
